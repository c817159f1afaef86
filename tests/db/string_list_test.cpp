#include "db/core/string_list.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "common/file_errors.h"
#include "db/core/text_encoding.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/temp_dir.h"

namespace velmora::test {
namespace {

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

class DataBaseCfgTest : public ::testing::Test {
 protected:
  void TearDown() override { SetAnsiCodePage(""); }
  TempDir dir_;
  std::string path_ = dir_.File("DataBase.CFG");
};

struct EncodedFile {
  const char* label;
  std::string bytes;
};

std::string Utf16(std::u16string_view text, bool big_endian) {
  std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t c : text) {
    const char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
    out += big_endian ? hi : lo;
    out += big_endian ? lo : hi;
  }
  return out;
}

TEST_F(DataBaseCfgTest, ReadsEveryByteOrderMarkAndTheAnsiCodePage) {
  // "Database=数据.db" in each encoding the reader must recognise.
  const std::u16string_view wide = u"DriverID=SQLite\r\nDatabase=\u6570\u636E.db\r\n";
  const std::vector<EncodedFile> cases = {
      {"utf8-bom",
       "\xEF\xBB\xBF"
       "DriverID=SQLite\r\nDatabase=\xE6\x95\xB0\xE6\x8D\xAE.db\r\n"},
      {"utf16le", Utf16(wide, false)},
      {"utf16be", Utf16(wide, true)},
      {"no-mark-utf8", "DriverID=SQLite\nDatabase=\xE6\x95\xB0\xE6\x8D\xAE.db"},
  };
  for (const EncodedFile& c : cases) {
    SCOPED_TRACE(c.label);
    WriteBytes(path_, c.bytes);
    TStringList params;
    params.LoadFromFile(path_);
    ASSERT_EQ(params.Count(), 2);
    EXPECT_EQ(params.Values("DriverID"), "SQLite");
    EXPECT_EQ(params.Values("Database"), "\xE6\x95\xB0\xE6\x8D\xAE.db");
  }
}

TEST_F(DataBaseCfgTest, FileWithoutMarkIsReadInTheLocaleCharset) {
  SetAnsiCodePage("GBK");
  WriteBytes(path_, "Database=\xCA\xFD\xBE\xDD.db\r\n");  // 数据 in GBK
  TStringList params;
  params.LoadFromFile(path_);
  EXPECT_EQ(params.Values("Database"), "\xE6\x95\xB0\xE6\x8D\xAE.db");
}

TEST_F(DataBaseCfgTest, InvalidBytesInTheCodePageAreAnError) {
  WriteBytes(path_, "Database=\xC3\x28\r\n");  // not UTF-8
  TStringList params;
  EXPECT_THROW(params.LoadFromFile(path_), std::runtime_error);
}

TEST_F(DataBaseCfgTest, SavesUtf8WithoutMarkAndCrLfAndKeepsEveryLine) {
  WriteBytes(path_, "DriverID=SQLite\nPort=3050\r\n; operator note\rDatabase=a.db");
  TStringList params;
  params.LoadFromFile(path_);
  params.SetValue("DATABASE", "数据.db");  // keys without regard to case: replaces in place
  params.SaveToFile(path_);
  EXPECT_EQ(ReadBytes(path_),
            "DriverID=SQLite\r\nPort=3050\r\n; operator "
            "note\r\nDatabase=\xE6\x95\xB0\xE6\x8D\xAE.db\r\n");
}

TEST_F(DataBaseCfgTest, TextTheCodePageCannotHoldIsSavedAsUtf8WithMark) {
  SetAnsiCodePage("ISO-8859-1");
  TStringList params;
  params.Add("Database=café.db");
  params.SaveToFile(path_);
  EXPECT_EQ(ReadBytes(path_), "Database=caf\xE9.db\r\n");
  params.Add("User_Name=数据");
  params.SaveToFile(path_);
  EXPECT_EQ(ReadBytes(path_).substr(0, 3), "\xEF\xBB\xBF");
  TStringList back;
  back.LoadFromFile(path_);
  EXPECT_EQ(back, params);
}

// The file a failed save must leave as it was, and settings that take more room than it: more
// than a page, so that even a writer reusing the old file's page would run out of room.
const std::string kOldSettings = "DriverID=SQLite\r\nDatabase=/srv/app/velmora.db\r\n";

TStringList LongerSettings() {
  TStringList params;
  params.Add("DriverID=MSSQL");
  params.Add("Server=db1.example.org");
  params.Add("Database=sales");
  params.Add("Note=" + std::string(5000, 'x'));
  return params;
}

// The error a save raises; "" when it saves.
std::string SaveError(const TStringList& params, const std::string& path) {
  try {
    params.SaveToFile(path);
  } catch (const EFileError& e) {
    return e.what();
  }
  return "";
}

std::set<std::string> EntriesOf(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// A save that runs out of room part-way (the file-size limit stands in for a full disk, no root
// needed): the old file keeps every byte, no temporary is left, the error gives the reason.
TEST_F(DataBaseCfgTest, SaveThatRunsOutOfRoomKeepsTheOldFile) {
  WriteBytes(path_, kOldSettings);
  const auto before = EntriesOf(dir_.Path());
  std::string error;
  {
    FileSizeLimit limit(kOldSettings.size() + 16);  // room for the old file, not for the new
    error = SaveError(LongerSettings(), path_);
  }
  EXPECT_EQ(error, "Cannot write file \"" + path_ + "\". File too large");
  EXPECT_EQ(ReadBytes(path_), kOldSettings);
  EXPECT_EQ(EntriesOf(dir_.Path()), before);
}

// The same on a real file system with no room left: a 64 KiB tmpfs filled to its last page.
TEST_F(DataBaseCfgTest, SaveOnAFullFileSystemKeepsTheOldFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root";
  const std::string disk = dir_.File("disk");
  ASSERT_TRUE(std::filesystem::create_directory(disk));
  if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(errno);
  }
  struct Unmount {
    std::string at;
    ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
  } unmount{disk};
  const std::string path = disk + "/DataBase.CFG";
  WriteBytes(path, kOldSettings);
  {
    std::ofstream filler(disk + "/filler", std::ios::binary);
    const std::string page(4096, 'f');
    while (filler.write(page.data(), static_cast<std::streamsize>(page.size())) && filler.flush()) {
    }
  }
  const auto before = EntriesOf(disk);
  EXPECT_EQ(SaveError(LongerSettings(), path),
            "Cannot write file \"" + path + "\". No space left on device");
  EXPECT_EQ(ReadBytes(path), kOldSettings);
  EXPECT_EQ(EntriesOf(disk), before);
}

// A read-only file is refused, as CONFIG.CFG is, although the folder would allow the rename; for
// root too, when the file has no write permission bit at all.
TEST_F(DataBaseCfgTest, ReadOnlyFileIsRefusedAndKept) {
  WriteBytes(path_, kOldSettings);
  ASSERT_EQ(::chmod(path_.c_str(), 0444), 0);
  EXPECT_EQ(SaveError(LongerSettings(), path_),
            "Cannot create file \"" + path_ + "\". Permission denied");
  EXPECT_EQ(ReadBytes(path_), kOldSettings);
  EXPECT_EQ(EntriesOf(dir_.Path()), std::set<std::string>{"DataBase.CFG"});
}

TEST_F(DataBaseCfgTest, MissingFileRaisesNamingIt) {
  TStringList params;
  try {
    params.LoadFromFile(dir_.File("nope.CFG"));
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("nope.CFG"), std::string::npos) << e.what();
  }
}

TEST(StringListTest, ValuesAreCaseInsensitiveAndEmptyValueRemovesTheLine) {
  TStringList list;
  list.SetText("driverid=MSSQL\r\nServer=.\\SQL\r\nnot a pair\r\n");
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Values("DriverID"), "MSSQL");
  EXPECT_EQ(list.Values("SERVER"), ".\\SQL");
  EXPECT_EQ(list.Values("missing"), "");
  list.SetValue("Server", "");
  EXPECT_EQ(list.Text(), "driverid=MSSQL\nnot a pair");
  list.SetValue("OSAuthent", "Yes");
  EXPECT_EQ(list[2], "OSAuthent=Yes");
  list.SetValue("DRIVERID", "FB");
  EXPECT_EQ(list[0], "driverid=FB");
}

TEST(StringListTest, TextSplitsAtEveryLineEndAndAFinalEndAddsNoLine) {
  const std::pair<const char*, int> cases[] = {{"", 0},       {"a", 1},           {"a\r\n", 1},
                                               {"a\r\nb", 2}, {"a\rb\nc\r\n", 3}, {"\n\n", 2}};
  for (const auto& [text, lines] : cases) {
    TStringList list;
    list.SetText(text);
    EXPECT_EQ(list.Count(), lines) << text;
  }
}

}  // namespace
}  // namespace velmora::test
