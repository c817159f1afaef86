#include "services/files/file_transfer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <future>
#include <map>
#include <thread>
#include <tuple>
#include <vector>

#include "codec/packets.h"
#include "common/file_errors.h"
#include "services/files/file_holds.h"
#include "services/files/file_store.h"
#include "services/files/safe_path.h"
#include "tests/services/files/files_test_support.h"

namespace velmora::test {
namespace {

class FileTransferTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directory(Upload()); }
  fs::path Upload() const { return fs::path(dir_.Path()) / "Upload"; }
  std::string UploadRoot() const { return dir_.Root() + "Upload/"; }

  TempDir dir_;
};

struct RoundTripCase {
  size_t size;
  int selector;  // the client's compression level
};

class UploadRoundTripTest : public FileTransferTest,
                            public ::testing::WithParamInterface<RoundTripCase> {};

TEST_P(UploadRoundTripTest, UploadedContentDownloadsUnchanged) {
  const std::string content = PatternBytes(GetParam().size);
  ASSERT_TRUE(UploadFile(dir_.Root(), PacketAt(content, GetParam().selector), "f.bin"));
  EXPECT_EQ(ReadFile(Upload() / "f.bin"), content);

  int32_t size = -1;
  const OleVariant packet = DownLoadFile(dir_.Root(), "f.bin", size);
  EXPECT_EQ(size, static_cast<int32_t>(content.size()));
  ASSERT_TRUE(packet.IsByteArray());
  EXPECT_EQ(packet.LowBound(), 0);
  EXPECT_EQ(PacketToBytes(packet), content);
  EXPECT_EQ(EntriesOf(Upload()), std::set<std::string>{"f.bin"}) << "no temporary left behind";
}

INSTANTIATE_TEST_SUITE_P(Sizes, UploadRoundTripTest,
                         ::testing::Values(RoundTripCase{0, 2}, RoundTripCase{1, 2},
                                           RoundTripCase{300000, 2}, RoundTripCase{70000, 0},
                                           RoundTripCase{70000, 9},
                                           // read and deflated in several pieces
                                           RoundTripCase{(5u << 20) + 12345, 2}));

TEST_F(FileTransferTest, UploadReplacesWhollyLeavingNoTail) {
  WriteFile(Upload() / "f.txt", std::string(5000, 'o'));
  ASSERT_TRUE(UploadFile(dir_.Root(), CompressToPacket("new"), "f.txt"));
  EXPECT_EQ(ReadFile(Upload() / "f.txt"), "new");
}

TEST_F(FileTransferTest, UploadIntoExistingSubFolderWithBackslash) {
  fs::create_directory(Upload() / "sub");
  ASSERT_TRUE(UploadFile(dir_.Root(), CompressToPacket("x"), "sub\\x.txt"));
  EXPECT_EQ(ReadFile(Upload() / "sub" / "x.txt"), "x");
}

TEST_F(FileTransferTest, UndecodablePacketReturnsFalseAndKeepsTheEarlierFile) {
  const std::vector<OleVariant> bad = {OleVariant("text"), OleVariant::Null(), OleVariant(),
                                       OleVariant::Bytes("not a zlib stream")};
  WriteFile(Upload() / "keep.txt", "earlier content");
  for (const OleVariant& packet : bad) {
    SCOPED_TRACE(VarTypeName(packet.VarType()));
    EXPECT_FALSE(UploadFile(dir_.Root(), packet, "keep.txt"));
    EXPECT_FALSE(UploadFile(dir_.Root(), packet, "new.txt"));
    EXPECT_EQ(ReadFile(Upload() / "keep.txt"), "earlier content");
    EXPECT_EQ(EntriesOf(Upload()), std::set<std::string>{"keep.txt"});
  }
}

TEST_F(FileTransferTest, TruncatedPacketKeepsTheEarlierFile) {
  WriteFile(Upload() / "keep.txt", "earlier content");
  const std::string whole = ByteArrayToBytes(CompressToPacket(PatternBytes(100000)));
  EXPECT_FALSE(
      UploadFile(dir_.Root(), OleVariant::Bytes(whole.substr(0, whole.size() / 2)), "keep.txt"));
  EXPECT_EQ(ReadFile(Upload() / "keep.txt"), "earlier content");
  EXPECT_EQ(EntriesOf(Upload()), std::set<std::string>{"keep.txt"});
}

TEST_F(FileTransferTest, UploadThatCannotCreateRaisesTheCreationErrorWhateverThePacket) {
  fs::create_directory(Upload() / "folder");
  struct Case {
    std::string name;
    std::string reason;
  };
  const std::vector<Case> cases = {{"sub\\x.txt", "No such file or directory"},
                                   {"folder", "Is a directory"}};
  for (const Case& c : cases) {
    for (const OleVariant& packet : {CompressToPacket("x"), OleVariant("bad")}) {
      const std::string full = UploadRoot() + (c.name == "folder" ? "folder" : "sub/x.txt");
      try {
        UploadFile(dir_.Root(), packet, c.name);
        ADD_FAILURE() << c.name << " uploaded";
      } catch (const EFCreateError& e) {
        EXPECT_STREQ(e.what(), ("Cannot create file \"" + full + "\". " + c.reason).c_str());
      }
    }
  }
  EXPECT_EQ(EntriesOf(Upload()), std::set<std::string>{"folder"}) << "no sub-folder was created";
  EXPECT_TRUE(fs::is_empty(Upload() / "folder"));
}

TEST(FileTransferNoFolderTest, MissingExchangeFolderIsNeverCreated) {
  TempDir dir;
  EXPECT_THROW(UploadFile(dir.Root(), CompressToPacket("x"), "x.txt"), EFCreateError);
  int32_t size = 7;
  EXPECT_TRUE(DownLoadFile(dir.Root(), "x.txt", size).IsNull());
  EXPECT_EQ(size, 7);
  std::string names = "?", times = "?", sizes = "?";
  EXPECT_EQ(CheckUpload(dir.Root(), names, times, sizes), 0);
  EXPECT_EQ(names + times + sizes, "");
  EXPECT_TRUE(fs::is_empty(dir.Path()));
}

TEST_F(FileTransferTest, DownloadOfMissingOrFolderIsNullAndLeavesSizeAlone) {
  fs::create_directory(Upload() / "folder");
  for (const char* name : {"missing.txt", "folder", "folder\\"}) {
    int32_t size = 42;
    EXPECT_TRUE(DownLoadFile(dir_.Root(), name, size).IsNull()) << name;
    EXPECT_EQ(size, 42) << name;
  }
}

TEST_F(FileTransferTest, DownloadOfAFileTooLargeForItsSizeIsRefused) {
  { std::ofstream create(Upload() / "big"); }
  fs::resize_file(Upload() / "big", uint64_t{1} << 31);  // sparse: no disk space used
  int32_t size = 0;
  try {
    DownLoadFile(dir_.Root(), "big", size);
    FAIL() << "a 2 GiB file was downloaded";
  } catch (const EFOpenError& e) {
    EXPECT_STREQ(e.what(),
                 ("Cannot open file \"" + UploadRoot() + "big\". File too large").c_str());
  }
}

// A call on another thread holds the file while this one tries.
TEST_F(FileTransferTest, UploadAndDownloadOfAHeldNameFailWithTheFileInUse) {
  WriteFile(Upload() / "busy.txt", "held");
  const std::string key = ResolveInside(UploadRoot(), {"busy.txt"}).key;
  std::promise<void> taken;
  std::promise<void> done;
  std::thread holder([&] {
    auto hold = FileHoldTable::Instance().TryExclusive(key);
    taken.set_value();
    done.get_future().wait();
  });
  taken.get_future().wait();
  const std::string full = UploadRoot() + "busy.txt";
  try {
    UploadFile(dir_.Root(), CompressToPacket("other"), "busy.txt");
    ADD_FAILURE() << "upload went through";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot create file \"" + full + "\". " + kFileInUseMessage);
  }
  int32_t size = -1;
  try {
    DownLoadFile(dir_.Root(), ".\\busy.txt", size);
    ADD_FAILURE() << "download went through";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + full + "\". " + kFileInUseMessage);
  }
  done.set_value();
  holder.join();
  EXPECT_EQ(ReadFile(Upload() / "busy.txt"), "held");
  EXPECT_EQ(PacketToBytes(DownLoadFile(dir_.Root(), "busy.txt", size)), "held");
  EXPECT_EQ(FileHoldTable::Instance().HeldCount(), 0u);
}

// A download holds its file while it reads it, not while it deflates it: in between, the same
// file can be replaced, read and deleted, and the download still answers what it read.
TEST_F(FileTransferTest, DownloadReleasesItsFileOnceRead) {
  const std::string before = PatternBytes(3 * 1024 * 1024);
  WriteFile(Upload() / "big.bin", before);
  int32_t size = -1;
  bool upload_ok = false;
  std::string read_err = "(not called)";
  std::string delete_err = "(not called)";
  const OleVariant packet = DownLoadFile(dir_.Root(), "big.bin", size, DefaultTransferLimit(), [&] {
    upload_ok = UploadFile(dir_.Root(), CompressToPacket("replaced"), "big.bin");
    EXPECT_EQ(ByteArrayToBytes(ReadData(dir_.Root(), "Upload", "big.bin", read_err)), "replaced");
    DeleteData(dir_.Root(), "Upload", "big.bin", delete_err);
  });
  EXPECT_TRUE(upload_ok);
  EXPECT_EQ(read_err, "");
  EXPECT_EQ(delete_err, "");
  EXPECT_FALSE(fs::exists(Upload() / "big.bin"));
  EXPECT_EQ(size, static_cast<int32_t>(before.size()));
  EXPECT_EQ(PacketToBytes(packet), before);
  EXPECT_EQ(FileHoldTable::Instance().HeldCount(), 0u);
}

// Runs a test body under a given TZ and restores the earlier one.
class ListingTest : public FileTransferTest {
 protected:
  void SetUp() override {
    FileTransferTest::SetUp();
    if (const char* tz = std::getenv("TZ")) saved_tz_ = tz;
  }
  void TearDown() override {
    if (saved_tz_) {
      ::setenv("TZ", saved_tz_->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }
  static void UseZone(const char* tz) {
    ::setenv("TZ", tz, 1);
    ::tzset();
  }
  void MakeFile(const std::string& name, size_t size, std::time_t utc) {
    WriteFile(Upload() / name, std::string(size, 'z'));
    const timespec times[2] = {{utc, 0}, {utc, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (Upload() / name).c_str(), times, 0), 0);
  }
  // name -> (time, size), checking that the three texts have the same item count.
  std::map<std::string, std::pair<std::string, std::string>> List(int32_t& count) {
    std::string names, times, sizes;
    count = CheckUpload(dir_.Root(), names, times, sizes);
    const auto split = [](const std::string& text) {
      std::vector<std::string> items;
      if (text.empty()) return items;
      size_t start = 0;
      for (size_t bar; (bar = text.find('|', start)) != std::string::npos; start = bar + 1)
        items.push_back(text.substr(start, bar - start));
      items.push_back(text.substr(start));
      return items;
    };
    const auto n = split(names), t = split(times), s = split(sizes);
    EXPECT_EQ(n.size(), static_cast<size_t>(count));
    EXPECT_EQ(t.size(), n.size());
    EXPECT_EQ(s.size(), n.size());
    std::map<std::string, std::pair<std::string, std::string>> out;
    for (size_t i = 0; i < n.size() && i < t.size() && i < s.size(); ++i) out[n[i]] = {t[i], s[i]};
    return out;
  }

  std::optional<std::string> saved_tz_;
};

TEST_F(ListingTest, EmptyOrOnlySubFoldersGivesNothing) {
  int32_t count = -1;
  EXPECT_TRUE(List(count).empty());
  EXPECT_EQ(count, 0);
  fs::create_directory(Upload() / "a");
  fs::create_directory(Upload() / ".hidden-folder");
  WriteFile(Upload() / "a" / "inner.txt", "not listed");
  EXPECT_TRUE(List(count).empty());
  EXPECT_EQ(count, 0);
}

TEST_F(ListingTest, ListsFilesWithLocalTimesAndSizes) {
  UseZone("XYZ-8");                             // eight hours east of UTC, no daylight saving
  MakeFile("a.txt", 10, 1642491000);            // 2022-01-18 07:30 UTC
  MakeFile("b.dat", 2048, 1642557900);          // 2022-01-19 02:05 UTC
  MakeFile(".hidden", 0, 946684800);            // 2000-01-01 00:00 UTC
  MakeFile(".x.velmora-Ab12Cd", 3, 946684800);  // an upload's temporary
  fs::create_directory(Upload() / "sub");
  int32_t count = 0;
  const auto listed = List(count);
  EXPECT_EQ(count, 3);
  using Item = std::pair<std::string, std::string>;
  EXPECT_EQ(listed, (std::map<std::string, Item>{{"a.txt", {"202201181530", "10"}},
                                                 {"b.dat", {"202201191005", "2048"}},
                                                 {".hidden", {"200001010800", "0"}}}));
}

TEST_F(ListingTest, TimesUseTheOffsetInForceNowNotAtTheFileDate) {
  UseZone("EST5EDT,M3.2.0,M11.1.0");
  const std::time_t winter = 1642248000;  // 2022-01-15 12:00 UTC
  const std::time_t summer = 1657886400;  // 2022-07-15 12:00 UTC
  MakeFile("winter", 1, winter);
  MakeFile("summer", 1, summer);
  int32_t count = 0;
  const auto listed = List(count);
  ASSERT_EQ(count, 2);
  const auto as_utc = [](const std::string& stamp) {
    std::tm t{};
    EXPECT_TRUE(::strptime(stamp.c_str(), "%Y%m%d%H%M", &t) != nullptr) << stamp;
    return ::timegm(&t);
  };
  const std::time_t shown_winter = as_utc(listed.at("winter").first);
  const std::time_t shown_summer = as_utc(listed.at("summer").first);
  EXPECT_EQ(shown_summer - shown_winter, summer - winter) << "one offset for both files";
  EXPECT_TRUE(shown_winter - winter == -5 * 3600 || shown_winter - winter == -4 * 3600);
}

}  // namespace
}  // namespace velmora::test
