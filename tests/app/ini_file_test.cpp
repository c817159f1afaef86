#include "app/config/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "tests/support/temp_dir.h"

namespace velmora::test {
namespace {

// Expects `write` to raise exactly "Unable to write to <path>".
template <typename Write>
void ExpectUnableToWrite(const std::string& path, Write write) {
  try {
    write();
    FAIL() << "no error for " << path;
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
  }
}

// A file in one fixed layout: a byte-order mark, CRLF endings, comments, blank lines, a key before
// any section, a repeated section and key.
class IniReadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(path_,
              "\xEF\xBB\xBF"
              "orphan=outside\r\n"
              "[Config]\r\n"
              "; Caption=commented\r\n"
              "  caption  =  My Server  \r\n"
              "Port=211\r\n"
              "Port=999\r\n"
              "Quoted=\"  spaced  \"\r\n"
              "Single='x'\r\n"
              "Unbalanced=\"x'\r\n"
              "Empty=\r\n"
              "noequals\r\n"
              "\r\n"
              "[ Backup ]\r\n"
              "bakpath=/data/备份\r\n"
              "[CONFIG]\r\n"
              "Second=ignored\r\n");
  }
  TempDir folder_;
  std::string path_ = folder_.File("CONFIG.CFG");
};

struct ReadCase {
  const char* section;
  const char* key;
  const char* expected;
};

TEST_F(IniReadTest, FindsKeysByTheProfileRules) {
  const ReadCase cases[] = {
      {"CONFIG", "Caption", "My Server"},  // names without regard to case, blanks trimmed
      {"config", "CAPTION", "My Server"},
      {"Config", "Port", "211"},           // the first line of a key counts
      {"Config", "Quoted", "  spaced  "},  // one pair of matching quotes removed
      {"Config", "Single", "x"},
      {"Config", "Unbalanced", "\"x'"},
      {"Config", "Empty", ""},  // present but empty: not the default
      {"Config", "noequals", "default"},
      {"Config", "orphan", "default"},   // lines before the first header belong to no section
      {"Config", "Second", "default"},   // only the first section of a name counts
      {"Config", "bakpath", "default"},  // keys of other sections are not seen
      {"Backup", "bakpath", "/data/备份"},
      {"Backup", "Caption", "default"},
      {"Missing", "Caption", "default"},
  };
  for (const ReadCase& c : cases) {
    EXPECT_EQ(GetPrivateProfileString(c.section, c.key, "default", path_), c.expected)
        << c.section << "/" << c.key;
  }
}

TEST(IniRead, MissingFileGivesDefaultsAndCreatesNothing) {
  TempDir folder;
  const std::string path = folder.File("CONFIG.CFG");
  EXPECT_EQ(GetPrivateProfileString("CONFIG", "Caption", "fallback", path), "fallback");
  EXPECT_EQ(ReadProfileInteger("Backup", "EveryTime", 17, path), 17);
  EXPECT_TRUE(ReadProfileBool("CONFIG", "SVRStart", true, path));
  EXPECT_TRUE(folder.Listing().empty());
}

TEST(IniRead, ValuesAreCutAt2047CodePoints) {
  TempDir folder;
  const std::string path = folder.File("long.ini");
  const std::string ascii(3000, 'a');
  // 2046 ASCII letters then Chinese characters of three bytes each: the cut keeps one of them.
  const std::string mixed = std::string(2046, 'b') + "数据服务器";
  WriteFile(path, "[S]\nascii=" + ascii + "\nmixed=" + mixed + "\nexact=" + std::string(2047, 'c') +
                      "\n");
  EXPECT_EQ(GetPrivateProfileString("S", "ascii", "", path), std::string(2047, 'a'));
  EXPECT_EQ(GetPrivateProfileString("S", "mixed", "", path), std::string(2046, 'b') + "数");
  EXPECT_EQ(GetPrivateProfileString("S", "exact", "", path), std::string(2047, 'c'));
}

struct IntegerCase {
  const char* stored;  // nullptr: key missing
  int expected;        // with default 7
};

TEST(IniRead, IntegersFollowTheHexAndSignedRules) {
  const IntegerCase cases[] = {
      {"12", 12},
      {"-3", -3},
      {"+5", 5},
      {"0x1F", 31},
      {"0X10", 16},
      {"$ff", 255},
      {"-$10", -16},
      {"0x", 7},
      {"0", 0},
      {"abc", 7},
      {"", 7},
      {"12abc", 7},
      {"1.5", 7},
      {"  42  ", 42},
      {"2147483647", 2147483647},
      {"2147483648", 7},
      {"-2147483648", -2147483647 - 1},
      {"0xZZ", 7},
      {nullptr, 7},
  };
  TempDir folder;
  const std::string path = folder.File("int.ini");
  for (const IntegerCase& c : cases) {
    WriteFile(path, c.stored ? std::string("[S]\nN=") + c.stored + "\n" : "[S]\n");
    EXPECT_EQ(ReadProfileInteger("S", "N", 7, path), c.expected)
        << (c.stored ? c.stored : "(missing)");
  }
}

struct BoolCase {
  const char* stored;
  bool default_value;
  bool expected;
};

TEST(IniRead, BooleansAreIntegersWithTheDefaultForText) {
  const BoolCase cases[] = {
      {"1", false, true}, {"0", true, false},   {"0x1", false, true},  {"-1", false, true},
      {"no", true, true}, {"no", false, false}, {"yes", false, false}, {"$0", true, false},
  };
  TempDir folder;
  const std::string path = folder.File("bool.ini");
  for (const BoolCase& c : cases) {
    WriteFile(path, std::string("[S]\nB=") + c.stored + "\n");
    EXPECT_EQ(ReadProfileBool("S", "B", c.default_value, path), c.expected)
        << c.stored << " default " << c.default_value;
  }
}

struct WriteCase {
  const char* name;
  const char* before;
  const char* section;
  const char* key;
  const char* value;
  const char* after;
};

TEST(IniWrite, ChangesOneLineAndKeepsEveryOtherByte) {
  const WriteCase cases[] = {
      {"replace keeps CRLF, comments and the file's spelling",
       "; settings\r\n[CONFIG]\r\nCaption=Old\r\n  svrUserName = bob \r\n"
       "\r\n[Backup]\r\nEveryDay=3\r\n",
       "config", "SVRUSERNAME", "alice",
       "; settings\r\n[CONFIG]\r\nCaption=Old\r\nsvrUserName=alice\r\n"
       "\r\n[Backup]\r\nEveryDay=3\r\n"},
      {"new key goes after the section's last key, before the blank line",
       "[CONFIG]\nCaption=A\n; note\n\n[Backup]\nEveryDay=3\n", "CONFIG", "SVRStart", "1",
       "[CONFIG]\nCaption=A\nSVRStart=1\n; note\n\n[Backup]\nEveryDay=3\n"},
      {"new key into a section without keys goes right after the header",
       "[Backup]\n\n[CONFIG]\nCaption=A\n", "Backup", "EveryDay", "4",
       "[Backup]\nEveryDay=4\n\n[CONFIG]\nCaption=A\n"},
      {"new section appended after a blank line, with the file's CRLF", "[CONFIG]\r\nCaption=A\r\n",
       "Backup", "BackupType", "2", "[CONFIG]\r\nCaption=A\r\n\r\n[Backup]\r\nBackupType=2\r\n"},
      {"new section after a blank last line adds no second blank line", "[CONFIG]\nCaption=A\n\n",
       "Backup", "BackupType", "2", "[CONFIG]\nCaption=A\n\n[Backup]\nBackupType=2\n"},
      {"an unterminated last line is terminated before the new section", "[CONFIG]\nCaption=A",
       "Backup", "BackupType", "2", "[CONFIG]\nCaption=A\n\n[Backup]\nBackupType=2\n"},
      {"an unterminated key line keeps having no ending when replaced", "[CONFIG]\r\nCaption=A",
       "CONFIG", "Caption", "B", "[CONFIG]\r\nCaption=B"},
      {"the byte-order mark stays", "\xEF\xBB\xBF[CONFIG]\nCaption=A\n", "CONFIG", "Caption",
       "数据服务器", "\xEF\xBB\xBF[CONFIG]\nCaption=数据服务器\n"},
      {"values are stored as typed", "[CONFIG]\nSVRPASSWORD=x\n", "CONFIG", "SVRPASSWORD",
       " a=b;c ", "[CONFIG]\nSVRPASSWORD= a=b;c \n"},
  };
  TempDir folder;
  const std::string path = folder.File("CONFIG.CFG");
  for (const WriteCase& c : cases) {
    WriteFile(path, c.before);
    WritePrivateProfileString(c.section, c.key, c.value, path);
    EXPECT_EQ(ReadFile(path), c.after) << c.name;
  }
}

TEST(IniWrite, FirstWriteCreatesTheFileAndReadsSeeEveryChange) {
  TempDir folder;
  const std::string path = folder.File("CONFIG.CFG");
  WritePrivateProfileString("CONFIG", "Caption", "数据服务器3.0", path);
  EXPECT_EQ(ReadFile(path), "[CONFIG]\nCaption=数据服务器3.0\n");
  EXPECT_EQ(GetPrivateProfileString("config", "caption", "", path), "数据服务器3.0");

  // Nothing is cached: a change made behind the layer's back is what the next read sees.
  WriteFile(path, "[CONFIG]\nCaption=edited by hand\n");
  EXPECT_EQ(GetPrivateProfileString("CONFIG", "Caption", "", path), "edited by hand");
  EXPECT_EQ(folder.Listing(), std::vector<std::string>{"CONFIG.CFG"});  // no temporary left
}

TEST(IniWrite, AFileWithoutWriteBitsKeepsItsPermissionsOtherwise) {
  TempDir folder;
  const std::string path = folder.File("CONFIG.CFG");
  WriteFile(path, "[CONFIG]\nCaption=A\n");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  WritePrivateProfileString("CONFIG", "Caption", "B", path);
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
}

// Failures: each leaves the file as it was and raises the exact text.
class IniWriteFailureTest : public ::testing::Test {
 protected:
  void SetUp() override { WriteFile(existing_, original_); }
  TempDir folder_;
  std::string existing_ = folder_.File("CONFIG.CFG");
  std::string original_ = "[CONFIG]\nCaption=A\n";
};

TEST_F(IniWriteFailureTest, UnwritablePlacesRaiseUnableToWrite) {
  const std::string plain_file = folder_.File("plain");
  WriteFile(plain_file, "not a folder");
  const std::string folder_path = folder_.File("sub");
  std::filesystem::create_directory(folder_path);
  const std::string paths[] = {
      plain_file + "/CONFIG.CFG",          // the parent is a regular file
      folder_.File("missing/CONFIG.CFG"),  // the parent does not exist
      folder_path,                         // the path is a folder
  };
  for (const std::string& path : paths) {
    ExpectUnableToWrite(path, [&] { WritePrivateProfileString("CONFIG", "Caption", "B", path); });
  }
  EXPECT_EQ(ReadFile(plain_file), "not a folder");
  EXPECT_TRUE(std::filesystem::is_directory(folder_path));
  EXPECT_TRUE(std::filesystem::is_empty(folder_path));
}

TEST_F(IniWriteFailureTest, ReadOnlyFileIsRefusedAndKeptAsItWas) {
  ASSERT_EQ(::chmod(existing_.c_str(), 0444), 0);
  ExpectUnableToWrite(existing_,
                      [&] { WritePrivateProfileString("CONFIG", "Caption", "B", existing_); });
  EXPECT_EQ(ReadFile(existing_), original_);
  EXPECT_EQ(folder_.Listing(), std::vector<std::string>{"CONFIG.CFG"});
}

TEST_F(IniWriteFailureTest, NamesAndValuesThatWouldBreakTheLinesAreRefused) {
  const struct {
    const char* section;
    const char* key;
    const char* value;
  } cases[] = {
      {"CONFIG", "Caption", "two\nlines"},
      {"CONFIG", "Caption", "cr\rhere"},
      {"CONFIG", "Cap=tion", "x"},
      {"CON]FIG", "Caption", "x"},
      {"CONFIG", "", "x"},
      {"", "Caption", "x"},
      {"CONFIG", ";Caption", "x"},
  };
  for (const auto& c : cases) {
    ExpectUnableToWrite(existing_,
                        [&] { WritePrivateProfileString(c.section, c.key, c.value, existing_); });
  }
  EXPECT_EQ(ReadFile(existing_), original_);
}

}  // namespace
}  // namespace velmora::test
