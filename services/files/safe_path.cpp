#include "services/files/safe_path.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>
#include <vector>

#include "services/files/replacement_file.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

bool HasDrive(std::string_view part) {
  return part.size() >= 2 && part[1] == ':' && std::isalpha(static_cast<unsigned char>(part[0]));
}

// A NUL character is shown as "\0" so that the message stays one C string.
[[noreturn]] void Refuse(std::string_view shown, std::string_view reason) {
  std::string text;
  for (char c : shown) {
    if (c == '\0') {
      text += "\\0";
    } else {
      text += c;
    }
  }
  throw EUnsafePath(fmt::format("Refused path \"{}\": {}", text, reason));
}

std::string WithoutTrailingSlash(std::string_view root) {
  std::string out(root);
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

bool IsWithin(const fs::path& inner, const fs::path& outer) {
  auto [o, i] = std::mismatch(outer.begin(), outer.end(), inner.begin(), inner.end());
  return o == outer.end();
}

// Names (without separators) of one part, in order.
std::vector<std::string_view> Components(std::string_view part) {
  std::vector<std::string_view> names;
  size_t start = 0;
  for (size_t i = 0; i <= part.size(); ++i) {
    if (i == part.size() || IsSeparator(part[i])) {
      if (i > start) names.push_back(part.substr(start, i - start));
      start = i + 1;
    }
  }
  return names;
}

}  // namespace

bool IsListableName(std::string_view name) {
  return name.find_first_of("|\r\n") == std::string_view::npos;
}

SafePath ResolveInside(std::string_view root, std::initializer_list<std::string_view> parts) {
  std::string shown;
  for (std::string_view part : parts) {
    if (part.empty()) continue;
    if (!shown.empty()) shown += '/';
    shown += part;
  }

  std::vector<std::string_view> names;
  for (std::string_view part : parts) {
    if (part.find('\0') != std::string_view::npos) Refuse(part, "it contains a NUL character");
    // The listing of the exchange folder joins names with "|", and clients split it into lines.
    if (!IsListableName(part)) Refuse(part, "names may not contain \"|\" or a line break");
    if (!part.empty() && IsSeparator(part.front())) Refuse(part, "absolute paths are not allowed");
    if (HasDrive(part)) Refuse(part, "drive letters are not allowed");
    for (std::string_view name : Components(part)) {
      if (name == ".") continue;
      if (name == "..") {
        if (names.empty()) Refuse(part, "it leads outside its folder");
        names.pop_back();
        continue;
      }
      // The server's write temporaries are hidden from the listing and removed at start, so a
      // client's file of such a name would vanish.
      if (IsReplacementTempName(name)) Refuse(part, "the name is reserved for temporary files");
      names.push_back(name);
    }
  }
  // The path names a folder when it ends in a separator, ".", "..", or an empty last part.
  const std::string_view last_part = parts.size() == 0 ? std::string_view() : *(parts.end() - 1);
  const std::string_view last = last_part.substr(last_part.find_last_of("/\\") + 1);
  const bool names_folder = last.empty() || last == "." || last == "..";

  const std::string base = WithoutTrailingSlash(root);
  SafePath out;
  out.folder = base == "/" ? base : base + '/';
  for (size_t i = 0; i + 1 < names.size(); ++i) {
    out.folder += names[i];
    out.folder += '/';
  }
  if (!names.empty()) {
    if (names_folder) {
      out.folder += names.back();
      out.folder += '/';
    } else {
      out.leaf = names.back();
    }
  }
  out.full = out.folder + out.leaf;

  // Symbolic links inside the root must not lead out of it.
  std::error_code ec;
  const fs::path canonical_root = fs::weakly_canonical(base, ec);
  if (ec) Refuse(shown, fmt::format("it cannot be resolved ({})", ec.message()));
  const fs::path canonical = fs::weakly_canonical(WithoutTrailingSlash(out.full), ec);
  if (ec) Refuse(shown, fmt::format("it cannot be resolved ({})", ec.message()));
  if (!IsWithin(canonical, canonical_root)) Refuse(shown, "it leads outside its folder");
  out.key = canonical.string();
  out.root = canonical_root.string();
  return out;
}

}  // namespace velmora
