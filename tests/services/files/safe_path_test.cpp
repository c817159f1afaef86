#include "services/files/safe_path.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/services/files/files_test_support.h"

namespace velmora::test {
namespace {

using test::TempDir;
namespace fs = std::filesystem;

struct AcceptedCase {
  std::vector<std::string> parts;
  std::string full;  // expected, relative to the root
  std::string leaf;
};

class SafePathTest : public ::testing::TestWithParam<AcceptedCase> {
 protected:
  SafePath Resolve(const std::vector<std::string>& parts) {
    if (parts.size() == 1) return ResolveInside(dir_.Root(), {parts[0]});
    return ResolveInside(dir_.Root(), {parts[0], parts[1]});
  }
  TempDir dir_;
};

TEST_P(SafePathTest, NormalisesSeparatorsAndDotsInsideTheRoot) {
  const AcceptedCase& c = GetParam();
  const SafePath p = Resolve(c.parts);
  EXPECT_EQ(p.full, dir_.Root() + c.full);
  EXPECT_EQ(p.leaf, c.leaf);
  EXPECT_EQ(p.folder + p.leaf, p.full);
  EXPECT_EQ(p.folder.back(), '/');
}

INSTANTIATE_TEST_SUITE_P(
    Names, SafePathTest,
    ::testing::Values(AcceptedCase{{"a.txt"}, "a.txt", "a.txt"},
                      AcceptedCase{{"a\\b.txt"}, "a/b.txt", "b.txt"},
                      AcceptedCase{{"a/./b"}, "a/b", "b"}, AcceptedCase{{"a\\..\\b"}, "b", "b"},
                      AcceptedCase{{"a//b"}, "a/b", "b"},
                      AcceptedCase{{".hidden"}, ".hidden", ".hidden"},
                      AcceptedCase{{"..x"}, "..x", "..x"}, AcceptedCase{{""}, "", ""},
                      AcceptedCase{{"sub\\"}, "sub/", ""}, AcceptedCase{{"a/.."}, "", ""},
                      AcceptedCase{{"Data\\Photos", "x.jpg"}, "Data/Photos/x.jpg", "x.jpg"},
                      AcceptedCase{{"", "x"}, "x", "x"}, AcceptedCase{{"Data", ""}, "Data/", ""},
                      AcceptedCase{{"a\\b", "..\\c"}, "a/c", "c"}));

struct RefusedCase {
  std::vector<std::string> parts;
  std::string named;  // the text the message must name
};

class SafePathRefusalTest : public ::testing::TestWithParam<RefusedCase> {
 protected:
  TempDir dir_;
};

TEST_P(SafePathRefusalTest, RefusesWithAMessageNamingThePath) {
  const RefusedCase& c = GetParam();
  try {
    if (c.parts.size() == 1) {
      ResolveInside(dir_.Root(), {c.parts[0]});
    } else {
      ResolveInside(dir_.Root(), {c.parts[0], c.parts[1]});
    }
    FAIL() << "accepted " << c.named;
  } catch (const EUnsafePath& e) {
    EXPECT_NE(std::string(e.what()).find("Refused path \"" + c.named + "\""), std::string::npos)
        << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Names, SafePathRefusalTest,
    ::testing::Values(RefusedCase{{"..\\x"}, "..\\x"}, RefusedCase{{"../x"}, "../x"},
                      RefusedCase{{"a/../../x"}, "a/../../x"}, RefusedCase{{".."}, ".."},
                      RefusedCase{{"/etc/passwd"}, "/etc/passwd"},
                      RefusedCase{{"\\\\server\\share"}, "\\\\server\\share"},
                      RefusedCase{{"C:\\x"}, "C:\\x"}, RefusedCase{{"c:x"}, "c:x"},
                      RefusedCase{{std::string("x\0/../../y", 10)}, "x\\0/../../y"},
                      RefusedCase{{"Data", "..\\..\\x"}, "..\\..\\x"},
                      RefusedCase{{"..", "x"}, ".."}, RefusedCase{{"Data", "/x"}, "/x"}));

TEST(SafePathLinkTest, LinkLeadingOutsideIsRefusedAndLinkInsideShareTheKey) {
  TempDir root;
  TempDir outside;
  fs::create_directory(fs::path(root.Path()) / "real");
  fs::create_directory_symlink(outside.Path(), fs::path(root.Path()) / "out");
  fs::create_directory_symlink(fs::path(root.Path()) / "real", fs::path(root.Path()) / "in");

  EXPECT_THROW(ResolveInside(root.Root(), {"out\\x.txt"}), EUnsafePath);
  EXPECT_THROW(ResolveInside(root.Root(), {"out", "new\\x.txt"}), EUnsafePath);
  const SafePath via_link = ResolveInside(root.Root(), {"in/x.txt"});
  const SafePath direct = ResolveInside(root.Root(), {"real/x.txt"});
  EXPECT_EQ(via_link.full, root.Root() + "in/x.txt");
  EXPECT_EQ(via_link.key, direct.key);
}

}  // namespace
}  // namespace velmora::test
