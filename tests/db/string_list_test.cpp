#include "db/string_list.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "db/text_encoding.h"
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
