// A database file's identity: the same file while its device and inode are, whatever happens to
// its contents; deleted or replaced once the path names nothing or another file.
#include "db/core/file_identity.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/temp_dir.h"

namespace velmora::test {
namespace {

TEST(FileIdentity, SaysWhatBecameOfTheFileThePathNamed) {
  const struct {
    const char* name;
    void (*change)(const std::string& path, const std::string& other);
    const char* expected;
  } cases[] = {
      {"untouched", [](const std::string&, const std::string&) {}, ""},
      {"written in place",
       [](const std::string& path, const std::string&) {
         std::ofstream(path, std::ios::app) << "more pages";
       },
       ""},
      {"moved away and back",
       [](const std::string& path, const std::string& other) {
         std::filesystem::rename(path, other);
         std::filesystem::rename(other, path);
       },
       ""},
      {"deleted",
       [](const std::string& path, const std::string&) { std::filesystem::remove(path); },
       "deleted"},
      {"moved away",
       [](const std::string& path, const std::string& other) {
         std::filesystem::rename(path, other);
       },
       "deleted"},
      {"another file renamed onto it",
       [](const std::string& path, const std::string& other) {
         WriteFile(other, "database");  // the same bytes, another file
         std::filesystem::rename(other, path);
       },
       "replaced"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir.File("db.sqlite");
    WriteFile(path, "database");
    const TFileIdentity identity = TFileIdentity::Of(path);
    ASSERT_TRUE(identity.Watched());
    EXPECT_EQ(identity.Path(), path);
    c.change(path, dir.File("other"));
    EXPECT_EQ(identity.Change(), c.expected);
    const std::string message = *c.expected == '\0'
                                    ? ""
                                    : std::string("The database file was ") + c.expected +
                                          " since this connection opened it: " + path;
    EXPECT_EQ(identity.ChangeMessage(), message);
    const TFileIdentity copy = identity;  // a value: a copy looks at the same file
    EXPECT_EQ(copy.Change(), c.expected);
  }
}

TEST(FileIdentity, APathThatNamedNothingIsNotWatched) {
  TempDir dir;
  const std::string path = dir.File("later.db");
  const TFileIdentity identity = TFileIdentity::Of(path);
  WriteFile(path, "made after the look");
  for (const TFileIdentity& unwatched : {identity, TFileIdentity()}) {
    EXPECT_FALSE(unwatched.Watched());
    EXPECT_EQ(unwatched.Path(), "");
    EXPECT_EQ(unwatched.Change(), "");
    EXPECT_EQ(unwatched.ChangeMessage(), "");
  }
}

}  // namespace
}  // namespace velmora::test
