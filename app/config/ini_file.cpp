#include "app/config/ini_file.h"

#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

#include "common/atomic_file.h"
#include "variant/variant_text.h"

namespace velmora {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

struct Line {
  std::string text;    // without its ending
  std::string ending;  // "\r\n", "\n" or "" for an unterminated last line
};

struct ParsedFile {
  std::string bom;
  std::vector<Line> lines;
};

// The whole file, or nothing when it is missing or cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return data;
}

ParsedFile Parse(std::string_view data) {
  ParsedFile file;
  if (data.starts_with(kUtf8Bom)) {
    file.bom = kUtf8Bom;
    data.remove_prefix(kUtf8Bom.size());
  }
  while (!data.empty()) {
    const size_t nl = data.find('\n');
    if (nl == std::string_view::npos) {
      file.lines.push_back({std::string(data), ""});
      break;
    }
    const bool crlf = nl > 0 && data[nl - 1] == '\r';
    const size_t text_end = crlf ? nl - 1 : nl;
    file.lines.push_back({std::string(data.substr(0, text_end)), crlf ? "\r\n" : "\n"});
    data.remove_prefix(nl + 1);
  }
  return file;
}

std::optional<std::string_view> SectionName(std::string_view line) {
  line = TrimBlanks(line);
  if (!line.starts_with('[')) return std::nullopt;
  line.remove_prefix(1);
  const size_t close = line.find(']');
  return TrimBlanks(line.substr(0, close));
}

struct KeyLine {
  std::string_view key;
  std::string_view value;
};

std::optional<KeyLine> ParseKeyLine(std::string_view line) {
  const std::string_view trimmed = TrimBlanks(line);
  if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '[') return std::nullopt;
  const size_t eq = trimmed.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return KeyLine{TrimBlanks(trimmed.substr(0, eq)), TrimBlanks(trimmed.substr(eq + 1))};
}

// Where a section's lines lie: the header's index and one past its last line.
struct SectionRange {
  size_t header;
  size_t end;
};

std::optional<SectionRange> FindSection(const std::vector<Line>& lines, std::string_view section) {
  for (size_t i = 0; i < lines.size(); ++i) {
    const auto name = SectionName(lines[i].text);
    if (!name || !EqualsNoCase(*name, section)) continue;
    size_t end = i + 1;
    while (end < lines.size() && !SectionName(lines[end].text)) ++end;
    return SectionRange{i, end};
  }
  return std::nullopt;
}

std::optional<size_t> FindKey(const std::vector<Line>& lines, SectionRange range,
                              std::string_view key) {
  for (size_t i = range.header + 1; i < range.end; ++i) {
    const auto entry = ParseKeyLine(lines[i].text);
    if (entry && EqualsNoCase(entry->key, key)) return i;
  }
  return std::nullopt;
}

std::string_view StripQuotes(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value.remove_prefix(1);
    value.remove_suffix(1);
  }
  return value;
}

bool HasLineBreak(std::string_view s) {
  return s.find_first_of("\r\n") != std::string_view::npos;
}

bool WriteAllowed(std::string_view section, std::string_view key, std::string_view value) {
  return !TrimBlanks(section).empty() && !TrimBlanks(key).empty() && !HasLineBreak(section) &&
         !HasLineBreak(key) && !HasLineBreak(value) &&
         section.find(']') == std::string_view::npos && key.find('=') == std::string_view::npos &&
         !TrimBlanks(key).starts_with(';') && !TrimBlanks(key).starts_with('[');
}

std::string Serialize(const ParsedFile& file) {
  std::string out = file.bom;
  for (const Line& line : file.lines) {
    out += line.text;
    out += line.ending;
  }
  return out;
}

void Insert(ParsedFile& file, size_t at, std::string text, const std::string& eol) {
  if (at > 0 && file.lines[at - 1].ending.empty()) file.lines[at - 1].ending = eol;
  file.lines.insert(file.lines.begin() + static_cast<std::ptrdiff_t>(at),
                    Line{std::move(text), eol});
}

void SetKey(ParsedFile& file, std::string_view section, std::string_view key,
            std::string_view value) {
  std::string eol = "\n";
  for (const Line& line : file.lines) {
    if (!line.ending.empty()) {
      eol = line.ending;
      break;
    }
  }
  const auto range = FindSection(file.lines, section);
  if (!range) {
    if (!file.lines.empty() && !TrimBlanks(file.lines.back().text).empty()) {
      Insert(file, file.lines.size(), "", eol);
    }
    Insert(file, file.lines.size(), fmt::format("[{}]", section), eol);
    Insert(file, file.lines.size(), fmt::format("{}={}", key, value), eol);
    return;
  }
  if (const auto at = FindKey(file.lines, *range, key)) {
    const std::string spelled(ParseKeyLine(file.lines[*at].text)->key);
    file.lines[*at].text = fmt::format("{}={}", spelled, value);
    return;
  }
  size_t after = range->header;
  for (size_t i = range->header + 1; i < range->end; ++i) {
    if (ParseKeyLine(file.lines[i].text)) after = i;
  }
  Insert(file, after + 1, fmt::format("{}={}", key, value), eol);
}

}  // namespace

std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view default_value, const std::string& path) {
  const auto data = ReadWholeFile(path);
  if (!data) return std::string(default_value);
  const ParsedFile file = Parse(*data);
  const auto range = FindSection(file.lines, section);
  if (!range) return std::string(default_value);
  const auto at = FindKey(file.lines, *range, key);
  if (!at) return std::string(default_value);
  const std::string_view value = StripQuotes(ParseKeyLine(file.lines[*at].text)->value);
  return std::string(CutToCodePoints(value, kMaxProfileValueLength));
}

void WritePrivateProfileString(std::string_view section, std::string_view key,
                               std::string_view value, const std::string& path) {
  const auto refuse = [&path] { return EIniFileError(fmt::format("Unable to write to {}", path)); };
  if (!WriteAllowed(section, key, value) || ReadOnlyFile(path)) throw refuse();

  std::string data;
  if (::access(path.c_str(), F_OK) == 0) {
    auto existing = ReadWholeFile(path);
    if (!existing) throw refuse();
    data = std::move(*existing);
  }
  ParsedFile file = Parse(data);
  SetKey(file, TrimBlanks(section), TrimBlanks(key), value);
  if (!ReplaceFileContents(path, Serialize(file))) throw refuse();
}

int ReadProfileInteger(std::string_view section, std::string_view key, int default_value,
                       const std::string& path) {
  const std::string text = GetPrivateProfileString(section, key, "", path);
  int64_t number = 0;
  if (!ParseInteger(text, number) || number < INT_MIN || number > INT_MAX) return default_value;
  return static_cast<int>(number);
}

bool ReadProfileBool(std::string_view section, std::string_view key, bool default_value,
                     const std::string& path) {
  return ReadProfileInteger(section, key, default_value ? 1 : 0, path) != 0;
}

}  // namespace velmora
