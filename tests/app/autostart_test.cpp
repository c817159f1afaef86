#include "app/config/autostart.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "tests/support/temp_dir.h"

namespace velmora::test {
namespace {

class AutostartTest : public ::testing::Test {
 protected:
  TempDir temp_;
  std::string folder_ = temp_.File("autostart");
  std::string entry_ = folder_ + "/Velmora.desktop";
};

TEST_F(AutostartTest, EnablingWritesTheEntryAndDisablingRemovesIt) {
  ASSERT_TRUE(SetAutostart(folder_, "Velmora.exe", "/opt/velmora/Velmora.exe", true));
  EXPECT_EQ(ReadFile(entry_),
            "[Desktop Entry]\n"
            "Type=Application\n"
            "Name=Velmora\n"
            "Exec=/opt/velmora/Velmora.exe\n"
            "X-GNOME-Autostart-enabled=true\n");

  ASSERT_TRUE(SetAutostart(folder_, "Velmora", "/usr/local/bin/Velmora", true));
  EXPECT_NE(ReadFile(entry_).find("\nExec=/usr/local/bin/Velmora\n"), std::string::npos);

  ASSERT_TRUE(SetAutostart(folder_, "Velmora", "/usr/local/bin/Velmora", false));
  EXPECT_FALSE(std::filesystem::exists(entry_));
  EXPECT_TRUE(SetAutostart(folder_, "Velmora", "/usr/local/bin/Velmora", false));  // absent: fine
  EXPECT_TRUE(std::filesystem::is_empty(folder_));
}

TEST(DesktopEntry, ExecQuotesPathsThatNeedIt) {
  const struct {
    const char* path;
    const char* exec_line;
  } cases[] = {
      {"/opt/velmora/Velmora", "Exec=/opt/velmora/Velmora"},
      {"/opt/my server/Velmora", "Exec=\"/opt/my server/Velmora\""},
      {"/opt/a$b/Velmora", "Exec=\"/opt/a\\\\$b/Velmora\""},
      {"/opt/say \"hi\"/V", "Exec=\"/opt/say \\\\\"hi\\\\\"/V\""},
      {"/opt/back\\slash/V", "Exec=\"/opt/back\\\\\\\\slash/V\""},
      {"/opt/100%/V", "Exec=/opt/100%%/V"},
  };
  for (const auto& c : cases) {
    const std::string text = DesktopEntryText("Velmora", c.path);
    EXPECT_NE(text.find(std::string("\n") + c.exec_line + "\n"), std::string::npos)
        << c.path << "\n"
        << text;
  }
}

TEST_F(AutostartTest, AFolderThatCannotBeOpenedIsPassedOverSilently) {
  const std::string blocker = temp_.File("blocker");
  WriteFile(blocker, "a file, not a folder");
  EXPECT_FALSE(SetAutostart(blocker, "Velmora", "/opt/Velmora", true));
  EXPECT_FALSE(SetAutostart(blocker + "/autostart", "Velmora", "/opt/Velmora", true));
  EXPECT_FALSE(SetAutostart(blocker, "Velmora", "/opt/Velmora", false));
  EXPECT_EQ(ReadFile(blocker), "a file, not a folder");
}

TEST_F(AutostartTest, AnEntryThatCannotBeWrittenRaisesFailedToSetData) {
  std::filesystem::create_directories(entry_);  // a folder where the entry should go
  try {
    SetAutostart(folder_, "Velmora.exe", "/opt/Velmora.exe", true);
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "Failed to set data for 'Velmora'");
  }
  EXPECT_TRUE(std::filesystem::is_directory(entry_));
  EXPECT_EQ(temp_.Listing(), std::vector<std::string>{"autostart"});
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_),
                          std::filesystem::directory_iterator()),
            1);  // no temporary file left beside it
}

}  // namespace
}  // namespace velmora::test
