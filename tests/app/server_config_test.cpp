#include "app/config/server_config.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "app/config/ini_file.h"
#include "tests/support/temp_dir.h"

namespace velmora::test {
namespace {

class ServerConfigTest : public ::testing::Test {
 protected:
  std::string ExpectWriteError(auto write) {
    try {
      write();
    } catch (const std::runtime_error& e) {
      return e.what();
    }
    ADD_FAILURE() << "no error";
    return {};
  }
  TempDir folder_;
  std::string app_path_ = folder_.Path() + "/";
  std::string path_ = app_path_ + std::string(kConfigFileName);
};

TEST_F(ServerConfigTest, MissingFileLoadsEveryDefaultAndCreatesNothing) {
  const ServerConfig c = LoadConfig(path_, app_path_);
  EXPECT_EQ(c.Caption, "数据服务器3.0");
  EXPECT_EQ(c.SVRUSERNAME, "admin");
  EXPECT_EQ(c.SVRPASSWORD, "velmo");
  EXPECT_EQ(c.SVROPENPORT, "211");
  EXPECT_TRUE(c.SVRStart);
  EXPECT_EQ(c.BackupType, 0);
  EXPECT_EQ(c.EveryTime, 0);
  EXPECT_EQ(c.EveryDay, 0);
  EXPECT_EQ(c.EveryWeek, 0);
  EXPECT_EQ(c.EveryMonth, 1);
  EXPECT_EQ(c.bakpath, app_path_ + "BackupData");
  EXPECT_TRUE(folder_.Listing().empty());
}

TEST_F(ServerConfigTest, LoadsStoredValuesAsTyped) {
  WriteFile(path_,
            "[config]\r\ncaption=Test Server\r\nSVRUSERNAME= ops \r\nSVRPASSWORD=S3cret!\r\n"
            "SVROPENPORT=abc\r\nSVRStart=0\r\n"
            "[BACKUP]\r\nBackupType=3\r\nEveryTime=30\r\nEveryDay=22\r\nEveryWeek=6\r\n"
            "EveryMonth=28\r\nbakpath=/srv/备份\r\n");
  ServerConfig expected = DefaultConfig(app_path_);
  expected.Caption = "Test Server";
  expected.SVRUSERNAME = "ops";
  expected.SVRPASSWORD = "S3cret!";
  expected.SVROPENPORT = "abc";  // no check on load; the start falls back to 211
  expected.SVRStart = false;
  expected.BackupType = 3;
  expected.EveryTime = 30;
  expected.EveryDay = 22;
  expected.EveryWeek = 6;
  expected.EveryMonth = 28;
  expected.bakpath = "/srv/备份";
  EXPECT_EQ(LoadConfig(path_, app_path_), expected);
}

struct ClampCase {
  const char* line;  // "Section|Key=value"
  int ServerConfig::*field;
  int expected;
};

TEST_F(ServerConfigTest, NumbersAreBroughtIntoTheirRanges) {
  const ClampCase cases[] = {
      {"EveryMonth=40", &ServerConfig::EveryMonth, 31},
      {"EveryMonth=0", &ServerConfig::EveryMonth, 1},
      {"EveryMonth=-7", &ServerConfig::EveryMonth, 1},
      {"EveryMonth=x", &ServerConfig::EveryMonth, 1},
      {"EveryTime=-3", &ServerConfig::EveryTime, 0},
      {"EveryTime=60", &ServerConfig::EveryTime, 59},
      {"EveryDay=24", &ServerConfig::EveryDay, 23},
      {"EveryDay=0x0A", &ServerConfig::EveryDay, 10},
      {"BackupType=9", &ServerConfig::BackupType, 4},
      {"BackupType=-5", &ServerConfig::BackupType, -1},
      {"BackupType=-1", &ServerConfig::BackupType, -1},
      {"BackupType=$2", &ServerConfig::BackupType, 2},
      {"EveryWeek=-5", &ServerConfig::EveryWeek, -1},
      {"EveryWeek=7", &ServerConfig::EveryWeek, 6},
      {"EveryWeek=six", &ServerConfig::EveryWeek, 0},
  };
  for (const ClampCase& c : cases) {
    WriteFile(path_, std::string("[Backup]\n") + c.line + "\n");
    EXPECT_EQ(LoadConfig(path_, app_path_).*c.field, c.expected) << c.line;
  }
}

TEST_F(ServerConfigTest, StartBoxReadsAsAnInteger) {
  const struct {
    const char* stored;
    bool expected;
  } cases[] = {{"0x1", true}, {"no", true}, {"0", false}, {"1", true}, {"$0", false}};
  for (const auto& c : cases) {
    WriteFile(path_, std::string("[CONFIG]\nSVRStart=") + c.stored + "\n");
    EXPECT_EQ(LoadConfig(path_, app_path_).SVRStart, c.expected) << c.stored;
  }
}

TEST_F(ServerConfigTest, SaveSecurityWritesExactlyThreeKeys) {
  const std::string before =
      "[CONFIG]\r\nCaption=Mine\r\nSVRPASSWORD=old\r\nSVRStart=0\r\n\r\n"
      "[Backup]\r\nBackupType=2\r\nbakpath=/b\r\n";
  WriteFile(path_, before);
  SaveSecurity(path_, "", "new pass", "not-a-port");  // saved as typed, empty or not
  EXPECT_EQ(ReadFile(path_),
            "[CONFIG]\r\nCaption=Mine\r\nSVRPASSWORD=new pass\r\nSVRStart=0\r\n"
            "SVRUSERNAME=\r\nSVROPENPORT=not-a-port\r\n\r\n"
            "[Backup]\r\nBackupType=2\r\nbakpath=/b\r\n");
}

TEST_F(ServerConfigTest, SaveStartWritesOneOrZero) {
  SaveStart(path_, false);
  EXPECT_EQ(ReadFile(path_), "[CONFIG]\nSVRStart=0\n");
  SaveStart(path_, true);
  EXPECT_EQ(ReadFile(path_), "[CONFIG]\nSVRStart=1\n");
}

TEST_F(ServerConfigTest, SaveBackupWritesTheSixKeysInOrderAndLoadsBackEqual) {
  ServerConfig schedule = DefaultConfig(app_path_);
  schedule.BackupType = 3;
  schedule.EveryTime = 45;
  schedule.EveryDay = 23;
  schedule.EveryWeek = -1;
  schedule.EveryMonth = 31;
  schedule.bakpath = "/srv/backup dir";
  SaveBackup(path_, schedule);
  EXPECT_EQ(ReadFile(path_),
            "[Backup]\nBackupType=3\nEveryTime=45\nEveryDay=23\nEveryWeek=-1\nEveryMonth=31\n"
            "bakpath=/srv/backup dir\n");
  EXPECT_EQ(LoadConfig(path_, app_path_), schedule);
}

TEST_F(ServerConfigTest, AFailedWriteKeepsTheKeysWrittenBeforeIt) {
  // A line break cannot be stored, so the last key of each save fails after the others.
  ServerConfig schedule = DefaultConfig(app_path_);
  schedule.BackupType = 1;
  schedule.EveryTime = 5;
  schedule.bakpath = "two\nlines";
  EXPECT_EQ(ExpectWriteError([&] { SaveBackup(path_, schedule); }), "Unable to write to " + path_);
  EXPECT_EQ(ReadFile(path_),
            "[Backup]\nBackupType=1\nEveryTime=5\nEveryDay=0\nEveryWeek=0\nEveryMonth=1\n");

  EXPECT_EQ(ExpectWriteError([&] { SaveSecurity(path_, "ops", "pass\r\nword", "212"); }),
            "Unable to write to " + path_);
  const ServerConfig loaded = LoadConfig(path_, app_path_);
  EXPECT_EQ(loaded.SVRUSERNAME, "ops");
  EXPECT_EQ(loaded.SVRPASSWORD, kDefaultPassword);
  EXPECT_EQ(loaded.SVROPENPORT, "211");
}

TEST_F(ServerConfigTest, SavesIntoAnUnwritablePlaceRaiseWithThePath) {
  const std::string blocker = folder_.File("blocker");
  WriteFile(blocker, "");
  const std::string path = blocker + "/CONFIG.CFG";
  const std::string expected = "Unable to write to " + path;
  EXPECT_EQ(ExpectWriteError([&] { SaveStart(path, true); }), expected);
  EXPECT_EQ(ExpectWriteError([&] { SaveSecurity(path, "a", "b", "1"); }), expected);
  EXPECT_EQ(ExpectWriteError([&] { SaveBackup(path, DefaultConfig(app_path_)); }), expected);
}

}  // namespace
}  // namespace velmora::test
