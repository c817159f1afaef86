#include "tests/support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace velmora::testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "velmora-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("Cannot create a temporary folder");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

}  // namespace velmora::testing
