#include "services/files/file_store.h"

#include <gtest/gtest.h>

#include "codec/packets.h"
#include "services/files/file_holds.h"
#include "services/files/safe_path.h"
#include "tests/services/files/files_test_support.h"

namespace velmora::test {
namespace {

class FileStoreTest : public ::testing::Test {
 protected:
  std::string Root() const { return dir_.Root(); }
  fs::path At(const std::string& rel) const { return fs::path(dir_.Path()) / rel; }

  TempDir dir_;
  std::string err_ = "stale";
};

TEST_F(FileStoreTest, ReadOfMissingFileOrFolderIsNullWithoutError) {
  fs::create_directories(At("Data/Sub"));
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Data", "missing.txt"}, {"Data", "Sub"}, {"", "Data"}, {"Data", ""}, {"Nowhere", "x"}};
  for (const auto& [path, name] : cases) {
    err_ = "stale";
    EXPECT_TRUE(ReadData(Root(), path, name, err_).IsNull()) << path << "|" << name;
    EXPECT_EQ(err_, "");
  }
}

TEST_F(FileStoreTest, ReadGivesTheBytesWithBoundsFromZero) {
  fs::create_directories(At("Data/Photos"));
  const std::string content = PatternBytes(100000);
  WriteFile(At("Data/Photos/p.bin"), content);
  WriteFile(At("empty"), "");

  const OleVariant bytes = ReadData(Root(), "Data\\Photos", "p.bin", err_);
  EXPECT_EQ(err_, "");
  ASSERT_TRUE(bytes.IsByteArray());
  EXPECT_EQ(bytes.LowBound(), 0);
  EXPECT_EQ(ByteArrayToBytes(bytes), content);

  const OleVariant none = ReadData(Root(), "", "empty", err_);
  ASSERT_TRUE(none.IsByteArray());
  EXPECT_EQ(none.LowBound(), 0);
  EXPECT_EQ(none.HighBound(), -1);
}

TEST_F(FileStoreTest, PostCreatesEveryMissingFolderAndWritesAnyLowerBound) {
  PostData(OleVariant::Bytes("abc", 5), Root(), "Data\\2022\\01", "x.txt", err_);
  EXPECT_EQ(err_, "");
  EXPECT_EQ(ReadFile(At("Data/2022/01/x.txt")), "abc");

  PostData(OleVariant::Bytes(""), Root(), "", "top.txt", err_);
  EXPECT_EQ(err_, "");
  EXPECT_EQ(ReadFile(At("top.txt")), "");
}

TEST_F(FileStoreTest, PostReplacesWhollyLeavingNoTail) {
  WriteFile(At("f.txt"), std::string(4096, 'o'));
  PostData(OleVariant::Bytes("new"), Root(), "", "f.txt", err_);
  EXPECT_EQ(err_, "");
  EXPECT_EQ(ReadFile(At("f.txt")), "new");
  EXPECT_EQ(EntriesOf(dir_.Path()), std::set<std::string>{"f.txt"}) << "no temporary left";
}

TEST_F(FileStoreTest, PostWhereTheFolderPartIsAFileFailsAndLeavesItAlone) {
  WriteFile(At("f.txt"), "a file");
  PostData(OleVariant::Bytes("x"), Root(), "f.txt", "x", err_);
  EXPECT_EQ(err_, "Cannot create file \"" + Root() + "f.txt/x\". Not a directory");
  EXPECT_EQ(ReadFile(At("f.txt")), "a file");
}

TEST_F(FileStoreTest, PostOfSomethingOtherThanBytesKeepsTheEarlierFile) {
  WriteFile(At("keep.txt"), "earlier");
  for (const OleVariant& value : {OleVariant("text"), OleVariant::Null(), OleVariant(int32_t{3}),
                                  OleVariant(VariantArray{0, {OleVariant(uint8_t{1})}})}) {
    err_.clear();
    PostData(value, Root(), "", "keep.txt", err_);
    EXPECT_NE(err_.find("is not an array of bytes"), std::string::npos) << err_;
    PostData(value, Root(), "", "new.txt", err_);
    EXPECT_FALSE(err_.empty());
  }
  EXPECT_EQ(ReadFile(At("keep.txt")), "earlier");
  EXPECT_EQ(EntriesOf(dir_.Path()), std::set<std::string>{"keep.txt"});
}

// The file size limit makes the write fail part-way, as a full disk would.
TEST_F(FileStoreTest, PostThatFailsWhileWritingKeepsTheEarlierFile) {
  WriteFile(At("keep.txt"), "earlier");
  {
    FileSizeLimit limit(64 * 1024);
    PostData(OleVariant::Bytes(PatternBytes(256 * 1024)), Root(), "", "keep.txt", err_);
  }

  EXPECT_EQ(err_, "Cannot write file \"" + Root() + "keep.txt\". File too large");
  EXPECT_EQ(ReadFile(At("keep.txt")), "earlier");
  EXPECT_EQ(EntriesOf(dir_.Path()), std::set<std::string>{"keep.txt"});
}

TEST_F(FileStoreTest, DeleteRemovesAFileAndIgnoresMissingNamesAndFolders) {
  fs::create_directories(At("Data/Sub"));
  WriteFile(At("Data/x.txt"), "x");
  DeleteData(Root(), "Data", "x.txt", err_);
  EXPECT_EQ(err_, "");
  EXPECT_FALSE(fs::exists(At("Data/x.txt")));
  for (const char* name : {"x.txt", "Sub", ""}) {
    err_ = "stale";
    DeleteData(Root(), "Data", name, err_);
    EXPECT_EQ(err_, "") << name;
  }
  EXPECT_TRUE(fs::is_directory(At("Data/Sub")));
}

// Readers share a file; a writer or a deletion meanwhile is refused, and a read during a write.
TEST_F(FileStoreTest, HoldsSettleConcurrentAccess) {
  WriteFile(At("f.txt"), "content");
  const std::string full = Root() + "f.txt";
  const std::string key = ResolveInside(Root(), {"f.txt"}).key;
  {
    auto reader = FileHoldTable::Instance().TryShared(key);
    ASSERT_TRUE(reader.has_value());
    EXPECT_EQ(ByteArrayToBytes(ReadData(Root(), "", "f.txt", err_)), "content");
    EXPECT_EQ(err_, "");
    PostData(OleVariant::Bytes("other"), Root(), "", "f.txt", err_);
    EXPECT_EQ(err_, "Cannot create file \"" + full + "\". " + kFileInUseMessage);
    DeleteData(Root(), "", "f.txt", err_);
    EXPECT_EQ(err_, "Cannot delete file \"" + full + "\". " + kFileInUseMessage);
  }
  {
    auto writer = FileHoldTable::Instance().TryExclusive(key);
    ASSERT_TRUE(writer.has_value());
    EXPECT_TRUE(ReadData(Root(), "", "f.txt", err_).IsEmpty());
    EXPECT_EQ(err_, "Cannot open file \"" + full + "\". " + kFileInUseMessage);
  }
  EXPECT_EQ(ReadFile(At("f.txt")), "content");
  EXPECT_EQ(FileHoldTable::Instance().HeldCount(), 0u);
}

}  // namespace
}  // namespace velmora::test
