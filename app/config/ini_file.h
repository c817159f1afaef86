// The settings-file layer: private-profile reading and writing of one key at a time.
//
// Rules, as the server's settings files expect them:
// - Section and key names are compared without regard to ASCII case. The first section of a name
//   counts, and within it the first line of a key.
// - Nothing is cached: every call reads the file, every write rewrites it at once.
// - A line is a section header "[name]", a comment (first non-blank character ';'), a key line
//   "key=value" (blanks around the key and the value are not part of them), or anything else,
//   which is ignored. Lines before the first header belong to no section.
// - A value read back loses one pair of matching surrounding quotes (' or ") and is cut at 2047
//   characters (Unicode code points; a UTF-8 sequence is never split).
// - A missing file, section or key yields the default; reading never creates the file.
// - The file is UTF-8. A UTF-8 byte-order mark at its start is skipped when reading and kept when
//   writing.
// - A write changes one line and keeps every other byte of the file as it was: comments, blank
//   lines, other sections, line endings, the spelling of the key already in the file.
//   - An existing key line becomes "<key as spelled in the file>=<value>", with its own ending.
//   - A key missing from an existing section is inserted after the last key line of that section
//     (right after the header when the section has none), so a blank line or comment ahead of
//     the next section stays where it is.
//   - A missing section is appended at the end of the file: one blank line first when the file's
//     last line is not blank, then "[section]" and "key=value". An unterminated last line is
//     terminated first.
//   - New lines end like the file's first line ("\r\n" or "\n"); a new file uses "\n".
//   - The first write creates the file.
// - A write is refused with "Unable to write to <path>" (EIniFileError) when the folder is
//   missing or not writable, the path is not a regular file, the file is read-only (no write
//   permission for this process, or no write permission bit at all, which holds for root too),
//   or a name or value would break the file's line structure (a line break in any of them, "=" in
//   a key, "]" in a section name). The new contents go to a temporary file that is renamed over
//   the old one, so a failed write leaves the file exactly as it was.
#pragma once

#include <string>
#include <string_view>

#include "common/velmora_error.h"

namespace velmora {

// A write the file refuses: "Unable to write to <path>".
class EIniFileError : public EVelmoraError {
 public:
  using EVelmoraError::EVelmoraError;
};

inline constexpr size_t kMaxProfileValueLength = 2047;

std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view default_value, const std::string& path);

void WritePrivateProfileString(std::string_view section, std::string_view key,
                               std::string_view value, const std::string& path);

// An integer value: more than two characters starting with "0x" or "0X" are hexadecimal;
// otherwise a signed integer, where a leading "$" also means hexadecimal. Text that does not
// convert, or a number outside the 32-bit range, gives the default.
int ReadProfileInteger(std::string_view section, std::string_view key, int default_value,
                       const std::string& path);

// A boolean value, read as an integer: non-zero is true; text that does not convert gives the
// default. Written as "1" or "0".
bool ReadProfileBool(std::string_view section, std::string_view key, bool default_value,
                     const std::string& path);

}  // namespace velmora
