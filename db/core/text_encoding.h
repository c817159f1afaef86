// Decoding and encoding of text files: byte-order-mark detection, UTF-16, and the system's ANSI
// code page (UTF-8 unless the locale names another character set); and UTF-8 to and from UTF-16
// in the machine's byte order (the wide text of ODBC), all through iconv.
//
// Thread contract: every function may be called from any thread; Utf8ToUtf16 and Utf16ToUtf8
// keep one conversion descriptor per thread, opened on the thread's first call.
#pragma once

#include <string>
#include <string_view>

#include "common/velmora_error.h"

namespace velmora {

// Bytes that are not valid in the character set they are read in, or a conversion between two
// character sets that iconv does not offer.
class EEncodingError : public EVelmoraError {
 public:
  using EVelmoraError::EVelmoraError;
};

// The character set text without a byte-order mark is read in: the one named by LC_ALL,
// LC_CTYPE or LANG ("zh_CN.GBK" -> "GBK"), or "UTF-8" when none names one.
std::string AnsiCodePage();
// Overrides the ANSI code page for the whole process (empty restores the locale's). For tests.
void SetAnsiCodePage(std::string charset);

// Bytes of a text file to UTF-8: EF BB BF -> UTF-8, FF FE -> UTF-16 LE, FE FF -> UTF-16 BE, no
// mark -> the ANSI code page. Raises EEncodingError when the bytes are not valid in it.
std::string DecodeText(std::string_view bytes);
// UTF-8 text to bytes in the ANSI code page, without a mark. When the ANSI code page cannot hold
// every character, the text is written as UTF-8 with its mark instead, so nothing is lost.
std::string EncodeAnsiText(std::string_view utf8);

// UTF-8 to UTF-16 and back. They never raise: what is not valid (a byte that starts no UTF-8
// sequence, a lone surrogate) becomes U+FFFD, and the rest is converted.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// Converts between character sets with iconv; raises EEncodingError on invalid input.
std::string ConvertCharset(std::string_view bytes, const std::string& from, const std::string& to);

}  // namespace velmora
