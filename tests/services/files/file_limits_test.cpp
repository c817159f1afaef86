// The bounds of the file methods: names a listing cannot carry, the one transfer limit in both
// directions, the answer and the logged reason of a failed upload write, and the temporaries of
// writes cut short.
#include <gtest/gtest.h>

#include "codec/packets.h"
#include "codec/uCompressionStream.h"
#include "common/file_errors.h"
#include "common/log_sink.h"
#include "services/files/file_store.h"
#include "services/files/file_transfer.h"
#include "services/files/safe_path.h"
#include "tests/services/files/files_test_support.h"

namespace velmora::test {
namespace {

class FileLimitsTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directory(Upload()); }
  fs::path Base() const { return dir_.Path(); }
  fs::path Upload() const { return Base() / "Upload"; }
  std::string UploadRoot() const { return dir_.Root() + "Upload/"; }

  TempDir dir_;
};

TEST_F(FileLimitsTest, NamesWithABarOrALineBreakAreRefusedByEveryFileMethod) {
  WriteFile(Upload() / "keep.txt", "kept");
  const auto before = Snapshot(dir_.Path());
  for (const char* name : {"a|b.txt", "a\nb.txt", "a\rb.txt", "sub|dir\\x.txt", "|"}) {
    SCOPED_TRACE(testing::PrintToString(name));
    int32_t size = -1;
    EXPECT_THROW(UploadFile(dir_.Root(), CompressToPacket("x"), name), EUnsafePath);
    EXPECT_THROW(DownLoadFile(dir_.Root(), name, size), EUnsafePath);
    std::string err;
    EXPECT_TRUE(ReadData(dir_.Root(), "Upload", name, err).IsEmpty());
    EXPECT_NE(err.find("Refused path"), std::string::npos) << err;
    err.clear();
    PostData(OleVariant::Bytes("x"), dir_.Root(), "Upload", name, err);
    EXPECT_NE(err.find("Refused path"), std::string::npos) << err;
    err.clear();
    PostData(OleVariant::Bytes("x"), dir_.Root(), name, "y.txt", err);  // in the folder part too
    EXPECT_NE(err.find("Refused path"), std::string::npos) << err;
    err.clear();
    DeleteData(dir_.Root(), "Upload", name, err);
    EXPECT_NE(err.find("Refused path"), std::string::npos) << err;
  }
  EXPECT_EQ(Snapshot(dir_.Path()), before);
}

// Such a name can only be put there by other means; the listing leaves it out rather than break.
TEST_F(FileLimitsTest, ListingLeavesOutNamesItCannotCarry) {
  WriteFile(Upload() / "a|b", "1");
  WriteFile(Upload() / "line\nbreak", "22");
  WriteFile(Upload() / "plain.txt", "333");
  std::string names, times, sizes;
  EXPECT_EQ(CheckUpload(dir_.Root(), names, times, sizes), 1);
  EXPECT_EQ(names, "plain.txt");
  EXPECT_EQ(sizes, "3");
}

TEST(FileTransferLimit, IsTheLargestFileWhosePacketFitsOneMessage) {
  for (const uint64_t message : {uint64_t{256} << 20, uint64_t{1} << 20, uint64_t{4096}}) {
    SCOPED_TRACE(message);
    const uint64_t limit = FileTransferLimit(UINT64_MAX, message);
    EXPECT_LE(PacketBound(limit) + kReplyOverhead, message);
    EXPECT_GT(PacketBound(limit + 1) + kReplyOverhead, message);
  }
  EXPECT_EQ(FileTransferLimit(1000, uint64_t{256} << 20), 1000u);
  EXPECT_EQ(FileTransferLimit(UINT64_MAX, 50), 0u);
  EXPECT_EQ(FileTransferLimit(UINT64_MAX, UINT64_MAX / 2), static_cast<uint64_t>(INT32_MAX));
  // Incompressible content at the limit does fit: the bound is not just on paper.
  const std::string content =
      PatternBytes(static_cast<size_t>(FileTransferLimit(UINT64_MAX, 1 << 20)));
  EXPECT_LE(ByteArrayToBytes(CompressToPacket(content)).size() + kReplyOverhead, uint64_t{1} << 20);
}

TEST_F(FileLimitsTest, TheTransferLimitHoldsInBothDirectionsBeforeAnyWork) {
  constexpr uint64_t kLimit = 1000;
  WriteFile(Upload() / "at.bin", std::string(kLimit, 'a'));
  WriteFile(Upload() / "over.bin", std::string(kLimit + 1, 'o'));
  int32_t size = -1;
  EXPECT_EQ(PacketToBytes(DownLoadFile(dir_.Root(), "at.bin", size, kLimit)).size(), kLimit);
  try {
    DownLoadFile(dir_.Root(), "over.bin", size, kLimit);
    FAIL() << "a download over the limit";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + UploadRoot() +
                                         "over.bin\". The file is 1001 bytes long, more than the "
                                         "transfer limit of 1000 bytes");
  }
  std::string err;
  EXPECT_TRUE(ReadData(dir_.Root(), "Upload", "over.bin", err, kLimit).IsEmpty());
  EXPECT_NE(err.find("more than the transfer limit of 1000 bytes"), std::string::npos) << err;

  // Uploads: content over the limit, and a packet longer than any packet within it, both refused
  // with the earlier file kept and no temporary left.
  const auto before = Snapshot(dir_.Path());
  EXPECT_THROW(
      UploadFile(dir_.Root(), CompressToPacket(std::string(kLimit + 1, 'u')), "at.bin", kLimit),
      EPacketTooLarge);
  EXPECT_THROW(UploadFile(dir_.Root(), PacketAt(PatternBytes(2 * kLimit), 0), "at.bin", kLimit),
               EPacketTooLarge);
  PostData(OleVariant::Bytes(std::string(kLimit + 1, 'p')), dir_.Root(), "Upload", "at.bin", err,
           kLimit);
  EXPECT_NE(err.find("more than the transfer limit of 1000 bytes"), std::string::npos) << err;
  EXPECT_EQ(Snapshot(dir_.Path()), before);
  EXPECT_TRUE(
      UploadFile(dir_.Root(), CompressToPacket(std::string(kLimit, 'u')), "at.bin", kLimit));
}

// A write that fails (here: the file-size limit, as a full disk would) answers False, as every
// failure of the write does, and the reason goes to the server's log.
TEST_F(FileLimitsTest, AFailedUploadWriteAnswersFalseAndLogsItsReason) {
  WriteFile(Upload() / "keep.txt", "earlier");
  std::vector<std::string> logged;
  SetLogSink([&](std::string_view line) { logged.emplace_back(line); });
  bool answer = true;
  {
    FileSizeLimit limit(64 * 1024);
    answer = UploadFile(dir_.Root(), CompressToPacket(PatternBytes(256 * 1024)), "keep.txt");
  }
  SetLogSink(nullptr);

  EXPECT_FALSE(answer);
  EXPECT_EQ(logged, std::vector<std::string>{"UploadFile failed: Cannot write file \"" +
                                             UploadRoot() + "keep.txt\". File too large"});
  EXPECT_EQ(ReadFile(Upload() / "keep.txt"), "earlier");
  EXPECT_EQ(EntriesOf(Upload()), std::set<std::string>{"keep.txt"});
}

TEST_F(FileLimitsTest, LeftoverTemporariesAreRemovedAndNothingElse) {
  fs::create_directories(Base() / "Data" / "Deep");
  const std::vector<fs::path> leftovers = {Upload() / ".a.txt.velmora-Ab12Cd",
                                           Base() / "Data" / "Deep" / ".p.bin.velmora-zzzzzz",
                                           Base() / ".CONFIG.CFG.velmora-000000"};
  const std::vector<fs::path> kept = {Upload() / "a.txt", Upload() / ".hidden",
                                      Upload() / ".x.velmora-short", Upload() / "y.velmora-abcdef",
                                      Base() / "Data" / "Deep" / "p.bin"};
  for (const auto& path : leftovers) WriteFile(path, "half written");
  for (const auto& path : kept) WriteFile(path, "keep");
  fs::create_directory(Upload() / ".dir.velmora-folder");  // a folder of that name stays

  EXPECT_EQ(RemoveLeftoverTemporaries(dir_.Root()), leftovers.size());
  for (const auto& path : leftovers) EXPECT_FALSE(fs::exists(path)) << path;
  for (const auto& path : kept) EXPECT_TRUE(fs::exists(path)) << path;
  EXPECT_TRUE(fs::is_directory(Upload() / ".dir.velmora-folder"));
  EXPECT_EQ(RemoveLeftoverTemporaries(dir_.Root()), 0u);
}

}  // namespace
}  // namespace velmora::test
