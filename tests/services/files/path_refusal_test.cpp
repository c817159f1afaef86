// Every operation that takes a client's name refuses one that leads outside its folder, and
// touches nothing.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "codec/packets.h"
#include "services/files/file_store.h"
#include "services/files/file_transfer.h"
#include "services/files/safe_path.h"
#include "tests/services/files/files_test_support.h"

namespace velmora::test {
namespace {

// base/app is the root, with its exchange folder app/Upload; base/outside lies beside it. Links
// inside both the root and the exchange folder lead to base/outside and to a file in it.
class PathRefusalTest : public ::testing::TestWithParam<std::tuple<std::string, int>> {
 protected:
  void SetUp() override {
    fs::create_directories(App() / "Upload" / "a");
    fs::create_directories(Outside());
    for (const fs::path& where : {App() / "x", App() / "Upload" / "x", fs::path(base_.Path()) / "x",
                                  Outside() / "x", Outside() / "passwd"})
      WriteFile(where, "keep " + where.string());
    for (const fs::path& folder : {App(), App() / "Upload"}) {
      fs::create_directory_symlink(Outside(), folder / "link");
      fs::create_symlink(Outside() / "x", folder / "leaf");
    }
  }
  fs::path App() const { return fs::path(base_.Path()) / "app"; }
  fs::path Outside() const { return fs::path(base_.Path()) / "outside"; }
  std::string Root() const { return App().string() + "/"; }

  // The client's name for a case; the store splits it into folder and file name.
  std::string Name() const {
    const std::string& n = std::get<0>(GetParam());
    return n == "<absolute>" ? Outside().string() + "/x" : n;
  }

  TempDir base_;
};

TEST_P(PathRefusalTest, RefusedAndNothingTouched) {
  const auto before = Snapshot(base_.Path());
  const std::string name = Name();
  const size_t cut = name.find_last_of("/\\");
  const std::string folder = cut == std::string::npos ? "" : name.substr(0, cut);
  const std::string file = cut == std::string::npos ? name : name.substr(cut + 1);
  const std::string named = "Refused path \"";
  std::string err;
  int32_t size = -1;

  switch (std::get<1>(GetParam())) {
    case 0:
      EXPECT_THROW(UploadFile(Root(), CompressToPacket("evil"), name), EUnsafePath);
      break;
    case 1:
      EXPECT_THROW(DownLoadFile(Root(), name, size), EUnsafePath);
      break;
    case 2:
      EXPECT_TRUE(ReadData(Root(), folder, file, err).IsEmpty());
      break;
    case 3:
      PostData(OleVariant::Bytes("evil"), Root(), folder, file, err);
      break;
    case 4:
      DeleteData(Root(), folder, file, err);
      break;
  }
  if (std::get<1>(GetParam()) >= 2) {
    EXPECT_EQ(err.rfind(named, 0), 0u) << err;
  }
  EXPECT_EQ(size, -1);
  EXPECT_EQ(Snapshot(base_.Path()), before);
}

std::string CaseLabel(const ::testing::TestParamInfo<std::tuple<std::string, int>>& info) {
  static const char* const kOps[] = {"Upload", "Download", "Read", "Post", "Delete"};
  std::string label = kOps[std::get<1>(info.param)];
  label += '_';
  for (char c : std::get<0>(info.param))
    label += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return label + "_" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(
    Names, PathRefusalTest,
    ::testing::Combine(::testing::Values("..\\x", "../x", "a/../../x", "<absolute>", "C:\\x",
                                         "link/x", "link\\new\\y", "leaf", "a/.x.velmora-Ab12Cd"),
                       ::testing::Range(0, 5)),
    CaseLabel);

}  // namespace
}  // namespace velmora::test
