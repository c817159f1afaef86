#include "db/core/string_list.h"

#include <fmt/core.h>

#include <cerrno>
#include <fstream>
#include <iterator>

#include "common/atomic_file.h"
#include "common/file_errors.h"
#include "db/core/text_encoding.h"
#include "variant/variant_text.h"

namespace velmora {

std::string TStringList::Text() const {
  std::string out;
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (i > 0) out += '\n';
    out += lines_[i];
  }
  return out;
}

void TStringList::SetText(std::string_view text) {
  lines_.clear();
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines_.emplace_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines_.emplace_back(text.substr(start));
}

int TStringList::IndexOfName(std::string_view name) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    const std::string_view line = lines_[i];
    const size_t eq = line.find('=');
    if (eq != std::string_view::npos && EqualsNoCase(line.substr(0, eq), name)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

std::string TStringList::Values(std::string_view name) const {
  const int i = IndexOfName(name);
  return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStringList::SetValue(std::string_view name, std::string_view value) {
  const int i = IndexOfName(name);
  if (value.empty()) {
    if (i >= 0) Delete(i);
    return;
  }
  if (i >= 0) {
    lines_[static_cast<size_t>(i)] = fmt::format("{}={}", Names(i), value);  // keeps the spelling
  } else {
    lines_.push_back(fmt::format("{}={}", name, value));
  }
}

std::string TStringList::Names(int index) const {
  const std::string& line = (*this)[index];
  const size_t eq = line.find('=');
  return eq == std::string::npos ? std::string() : line.substr(0, eq);
}

std::string TStringList::ValueFromIndex(int index) const {
  const std::string& line = (*this)[index];
  const size_t eq = line.find('=');
  return eq == std::string::npos ? std::string() : line.substr(eq + 1);
}

void TStringList::LoadFromFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EFOpenError(path, SystemMessage(errno));
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw EFileError(fmt::format("Cannot read file \"{}\"", path));
  SetText(DecodeText(bytes));
}

void TStringList::SaveToFile(const std::string& path) const {
  std::string text;
  for (const std::string& line : lines_) {
    text += line;
    text += "\r\n";
  }
  if (ReadOnlyFile(path)) throw EFCreateError(path, SystemMessage(EACCES));
  const FileReplacement done = ReplaceFileContents(path, EncodeAnsiText(text));
  if (done.failure == FileReplacement::Failure::kCreate) {
    throw EFCreateError(path, SystemMessage(done.error));
  }
  if (!done) {
    throw EFileError(fmt::format("Cannot write file \"{}\". {}", path, SystemMessage(done.error)));
  }
}

}  // namespace velmora
