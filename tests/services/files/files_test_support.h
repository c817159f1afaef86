// Helpers of the file operation tests: pattern bytes, packets at a compression level the client
// never uses, and snapshots of a folder that show whether anything in it was created, changed or
// deleted. The temporary folder is tests/support/temp_dir.h; the client's packets are made and
// read with codec/packets.h.
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "codec/uCompressionStream.h"
#include "codec/uMemoryStream2OLEVariant.h"
#include "data/memory_stream.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/temp_dir.h"
#include "variant/ole_variant.h"

namespace velmora::test {

namespace fs = std::filesystem;

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

// A packet compressed at `selector`: uploads hold for every level a client may pick, not only the
// one the client library compresses at.
inline OleVariant PacketAt(const std::string& bytes, int selector) {
  TMemoryStream stream(bytes);
  CompressMemoryStream(stream, selector);
  OleVariant out;
  MemoryStream2OleVariant(stream, out);
  return out;
}

// Every entry below a folder (links not followed) with its content, or a mark for folders and
// links: equal snapshots mean nothing was created, changed or deleted.
inline std::map<std::string, std::string> Snapshot(const fs::path& base) {
  std::map<std::string, std::string> out;
  for (const auto& entry : fs::recursive_directory_iterator(base)) {
    // Lexically: fs::relative would resolve a link and file it under its target's name.
    const std::string rel = entry.path().lexically_relative(base).string();
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
