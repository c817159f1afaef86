#include "tests/support/temp_dir.h"

#include <algorithm>
#include <filesystem>

namespace velmora::test {

std::vector<std::string> TempDir::Listing() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(Path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace velmora::test
