// The one-step writer keeps what the replaced file had besides its contents (mode, owner, group),
// and remembers a replaced file that another link still reaches.
#include "common/atomic_file.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/temp_dir.h"

namespace velmora::test {
namespace {

namespace fs = std::filesystem;

struct stat StatOf(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st;
}

bool Listed(const struct stat& st) {
  const std::vector<FileIdentity> former = FormerFilesStillLinked();
  return std::find(former.begin(), former.end(), FileIdentity{st.st_dev, st.st_ino}) !=
         former.end();
}

// Root writes the settings of a service that runs as another user (here: nobody): the file stays
// that user's, with its mode, so the service can still read it.
TEST(ReplaceFileContents, KeepsTheOwnerGroupAndModeOfTheReplacedFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
  const passwd* nobody = ::getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  TempDir dir;
  const fs::path file = dir.File("CONFIG.CFG");
  WriteFile(file, "[CONFIG]\nSVRPASSWORD=s3cret\n");
  ASSERT_EQ(::chown(file.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  ASSERT_EQ(::chmod(file.c_str(), 0640), 0);

  ASSERT_TRUE(ReplaceFileContents(file, "[CONFIG]\nSVRPASSWORD=changed\n"));
  const struct stat st = StatOf(file);
  EXPECT_EQ(st.st_uid, nobody->pw_uid);
  EXPECT_EQ(st.st_gid, nobody->pw_gid);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(ReadFile(file), "[CONFIG]\nSVRPASSWORD=changed\n");

  // A new file is the writer's own.
  ASSERT_TRUE(ReplaceFileContents(dir.File("new.cfg"), "x"));
  EXPECT_EQ(StatOf(dir.File("new.cfg")).st_uid, ::geteuid());
  EXPECT_EQ(StatOf(dir.File("new.cfg")).st_mode & 07777, 0644u);
}

TEST(ReplaceFileContents, RemembersAReplacedFileOnlyWhileAnotherLinkReachesIt) {
  TempDir dir;
  const fs::path file = dir.File("CONFIG.CFG");
  WriteFile(file, "first");
  const struct stat alone = StatOf(file);
  WriteFile(dir.File("DataBase.CFG"), "first");
  fs::create_hard_link(dir.File("DataBase.CFG"), dir.File("link"));
  const struct stat linked = StatOf(dir.File("DataBase.CFG"));

  ASSERT_TRUE(ReplaceFileContents(file, "second"));
  ASSERT_TRUE(ReplaceFileContents(dir.File("DataBase.CFG"), "second"));
  EXPECT_FALSE(Listed(alone));  // gone with its only name
  EXPECT_TRUE(Listed(linked));  // "link" still reads "first"
  EXPECT_EQ(ReadFile(dir.File("link")), "first");
  EXPECT_FALSE(Listed(StatOf(dir.File("DataBase.CFG"))));

  fs::remove(dir.File("link"));
  EXPECT_FALSE(Listed(linked));
}

}  // namespace
}  // namespace velmora::test
