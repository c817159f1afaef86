// CONFIG.CFG's section "Limits": every key read in its unit, values refused or clamped with a
// note, defaults for what is missing.
#include "app/config/limits_config.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "tests/support/temp_dir.h"

namespace velmora::test {
namespace {

class LimitsConfigTest : public ::testing::Test {
 protected:
  LoadedLimits Load(const std::string& section_body) {
    WriteFile(path_, "[CONFIG]\r\nSVROPENPORT=211\r\n[Limits]\r\n" + section_body);
    return LoadLimits(path_);
  }
  TempDir folder_;
  std::string path_ = folder_.Path() + "/CONFIG.CFG";
};

TEST_F(LimitsConfigTest, MissingFileOrSectionGivesTheDefaultsWithoutNotes) {
  LoadedLimits loaded = LoadLimits(path_);
  EXPECT_TRUE(loaded.notes.empty());
  const ServerLimits defaults;
  for (const LimitSetting& s : LimitSettings())
    EXPECT_EQ(s.get(loaded.limits), s.get(defaults)) << s.key;
  loaded = Load("");
  EXPECT_TRUE(loaded.notes.empty());
  EXPECT_EQ(loaded.limits.UploadMax, 512 * kMiB);
}

// Each key sets its own field, and only it: a distinct in-range value per key reads back.
TEST_F(LimitsConfigTest, EveryKeySetsItsOwnField) {
  std::string body;
  std::set<std::string> keys;
  for (const LimitSetting& s : LimitSettings()) {
    EXPECT_TRUE(keys.insert(std::string(s.key)).second) << "duplicate key " << s.key;
    body += std::string(s.key) + "=" + std::to_string(s.min + 1) + "\r\n";
  }
  EXPECT_EQ(keys.size(), 22u) << "one key per field of ServerLimits";
  const LoadedLimits loaded = Load(body);
  EXPECT_TRUE(loaded.notes.empty()) << loaded.notes.front();
  for (const LimitSetting& s : LimitSettings()) EXPECT_EQ(s.get(loaded.limits), s.min + 1) << s.key;
}

TEST_F(LimitsConfigTest, ValuesAreReadInTheUnitsTheKeysName) {
  const LoadedLimits loaded = Load(
      "UploadMaxMiB=64\r\nmemorybudgetmib=0x100\r\nHelloTimeoutSeconds=$1E\r\n"
      "PreLoginFrameMaxBytes=8192\r\nLogLinesKept=500\r\n");
  EXPECT_TRUE(loaded.notes.empty());
  EXPECT_EQ(loaded.limits.UploadMax, 64 * kMiB);
  EXPECT_EQ(loaded.limits.MemoryBudget, 256 * kMiB);
  EXPECT_EQ(loaded.limits.HelloTimeout, std::chrono::seconds(30));
  EXPECT_EQ(loaded.limits.PreLoginFrameMax, 8192u);
  EXPECT_EQ(loaded.limits.LogLinesKept, 500u);
}

TEST_F(LimitsConfigTest, BadValuesAreRefusedOrClampedWithANote) {
  const struct {
    const char* line;
    const char* note;
  } cases[] = {
      {"UploadMaxMiB=lots", "CONFIG.CFG [Limits] UploadMaxMiB=lots is not a number; 512 is used"},
      {"UploadMaxMiB=0", "CONFIG.CFG [Limits] UploadMaxMiB=0 is outside 1 to 2047; 1 is used"},
      {"UploadMaxMiB=4096",
       "CONFIG.CFG [Limits] UploadMaxMiB=4096 is outside 1 to 2047; 2047 is used"},
      {"MaxConnections=-5",
       "CONFIG.CFG [Limits] MaxConnections=-5 is outside 1 to 100000; 1 is used"},
      {"LogLinesKept=99999999999",
       "CONFIG.CFG [Limits] LogLinesKept=99999999999 is outside 100 to 10000000; 10000000 is used"},
      {"LoginDelayFirstSeconds=30\r\nLoginDelayMaxSeconds=5",
       "CONFIG.CFG [Limits] LoginDelayMaxSeconds=5 is below LoginDelayFirstSeconds; 30 is used"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const LoadedLimits loaded = Load(std::string(c.line) + "\r\n");
    ASSERT_EQ(loaded.notes.size(), 1u);
    EXPECT_EQ(loaded.notes[0], c.note);
  }
  EXPECT_EQ(Load("UploadMaxMiB=0\r\n").limits.UploadMax, 1 * kMiB);
  EXPECT_EQ(Load("UploadMaxMiB=x\r\n").limits.UploadMax, 512 * kMiB);
  EXPECT_EQ(Load("LoginDelayFirstSeconds=30\r\nLoginDelayMaxSeconds=5\r\n").limits.LoginDelayMax,
            std::chrono::seconds(30));
}

}  // namespace
}  // namespace velmora::test
