// TStringList: an ordered list of text lines, used for command text (SQL) and for parameter
// lists of Name=Value lines (connection parameters, DataBase.CFG).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velmora {

class TStringList {
 public:
  int Count() const { return static_cast<int>(lines_.size()); }
  const std::string& operator[](int index) const { return lines_.at(static_cast<size_t>(index)); }
  const std::vector<std::string>& Lines() const { return lines_; }

  void Clear() { lines_.clear(); }
  void Add(std::string line) { lines_.push_back(std::move(line)); }
  void Delete(int index) { lines_.erase(lines_.begin() + index); }

  // The lines joined by "\n" (no terminator after the last one).
  std::string Text() const;
  // Replaces the lines: split at CR, LF or CR LF; a terminator at the very end adds no empty line.
  void SetText(std::string_view text);

  // Name=Value lines. Names are compared without regard to ASCII letter case; the first line
  // with the name wins.
  int IndexOfName(std::string_view name) const;
  std::string Values(std::string_view name) const;
  // Replaces the value of the first line with that name (keeping the name as spelled there), or
  // appends a line; an empty value removes the line.
  void SetValue(std::string_view name, std::string_view value);
  // Name and value of line `index` ("" when the line holds no "=").
  std::string Names(int index) const;
  std::string ValueFromIndex(int index) const;

  // Reads a text file with byte-order-mark detection (no mark: the ANSI code page); replaces the
  // lines. Raises EFOpenError when the file cannot be opened, EFileError when it cannot be read,
  // EEncodingError when its bytes are not valid in the character set they are decoded with.
  void LoadFromFile(const std::string& path);
  // Writes the lines, each ended by CR LF, in the ANSI code page without a mark, replacing the
  // file in one step (common/atomic_file.h): a failed save leaves it byte for byte as it was.
  // Raises EFCreateError when the file is read-only or cannot be created, EFileError ("Cannot
  // write file ...", with the system's reason) when writing fails, e.g. on a full disk.
  void SaveToFile(const std::string& path) const;

  bool operator==(const TStringList&) const = default;

 private:
  std::vector<std::string> lines_;
};

}  // namespace velmora
