// Temporary folders and packet helpers for the file operation tests.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "data/memory_stream.h"
#include "codec/uCompressionStream.h"
#include "codec/uMemoryStream2OLEVariant.h"
#include "variant/ole_variant.h"

namespace velmora::test {

namespace fs = std::filesystem;

// A fresh folder, removed with everything in it when the object goes.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "velmora-files-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  // The folder with a trailing "/".
  std::string Root() const { return path_.string() + "/"; }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

inline void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write test file " + path.string());
}

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read test file " + path.string());
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Bytes that do not compress well and show any misplaced byte.
inline std::string PatternBytes(size_t n, unsigned seed = 1) {
  std::string out(n, '\0');
  unsigned x = seed * 2654435761u + 1;
  for (char& c : out) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 23);
  }
  return out;
}

// A data packet: the zlib stream of the bytes in a byte array.
inline OleVariant Packet(const std::string& bytes, int selector = 2) {
  TMemoryStream stream(bytes);
  CompressMemoryStream(stream, selector);
  OleVariant out;
  MemoryStream2OleVariant(stream, out);
  return out;
}

// The bytes a data packet inflates to.
inline std::string Inflate(const OleVariant& packet) {
  std::unique_ptr<TMemoryStream> stream = OleVariant2MemoryStream(packet);
  if (stream == nullptr) throw std::runtime_error("not a byte array");
  DecompressMemoryStream(*stream);
  return std::string(stream->View());
}

inline std::string BytesOf(const OleVariant& array) {
  const auto& bytes = array.ByteData().bytes;
  return std::string(bytes.begin(), bytes.end());
}

// Every entry below a folder (links not followed) with its content, or a mark for folders and
// links: equal snapshots mean nothing was created, changed or deleted.
inline std::map<std::string, std::string> Snapshot(const fs::path& base) {
  std::map<std::string, std::string> out;
  for (const auto& entry : fs::recursive_directory_iterator(base)) {
    const std::string rel = fs::relative(entry.path(), base).string();
    if (entry.is_symlink()) {
      out[rel] = "-> " + fs::read_symlink(entry.path()).string();
    } else if (entry.is_directory()) {
      out[rel] = "<dir>";
    } else {
      out[rel] = ReadFile(entry.path());
    }
  }
  return out;
}

// Names of the entries of one folder.
inline std::set<std::string> EntriesOf(const fs::path& folder) {
  std::set<std::string> out;
  for (const auto& entry : fs::directory_iterator(folder)) out.insert(entry.path().filename());
  return out;
}

}  // namespace velmora::test
