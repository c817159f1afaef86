// `velmora --set-database` run by the operator with no room left in the application folder: the
// connection test passes, the save does not. The program says why and exits with 1; DataBase.CFG
// keeps every byte and no temporary is left beside it. The folder is a 64 KiB tmpfs filled to its
// last page, so the test needs root (tests/db/string_list_test.cpp covers the save without it).
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"

namespace velmora::test {
namespace {

std::set<std::string> EntriesOf(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

TEST(SetDatabaseFullDisk, SaveFailsSayingWhyAndKeepsTheOldFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root";
  TempDir scratch;
  const std::string app = scratch.File("app");
  ASSERT_TRUE(std::filesystem::create_directory(app));
  if (::mount("tmpfs", app.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(errno);
  }
  struct Unmount {
    std::string at;
    ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
  } unmount{app};

  const std::string config = app + "/DataBase.CFG";
  const std::string old = "DriverID=SQLite\r\nDatabase=/srv/app/velmora.db\r\n";
  WriteFile(config, old);
  {
    std::ofstream filler(app + "/filler", std::ios::binary);
    const std::string page(4096, 'f');
    while (filler.write(page.data(), static_cast<std::streamsize>(page.size())) && filler.flush()) {
    }
  }
  const auto before = EntriesOf(app);

  // The database lies outside the full folder, so the test of the connection opens; the settings
  // take more than a page.
  const std::string settings =
      "DriverID=SQLite;CreateDatabase=Yes;Database=" + scratch.File("new.db") +
      ";Note=" + std::string(5000, 'x');
  const std::vector<std::string> env =
      ChildEnvironment({"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="});
  const ProgramResult r =
      RunProgram({VELMORA_PROGRAM, "--app-dir", app, "--set-database", settings}, scratch.Path(),
                 "/dev/null", &env);
  EXPECT_EQ(r.code, 1) << r.out << r.err;
  EXPECT_NE(r.err.find("DataBase.CFG\". No space left on device"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(ReadFile(config), old);
  EXPECT_EQ(EntriesOf(app), before);
}

}  // namespace
}  // namespace velmora::test
