#include "tests/support/temp_dir.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace velmora::test {

std::vector<std::string> TempDir::Listing() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(Path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write test file " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read test file " + path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace velmora::test
