#include "db/core/text_encoding.h"

#include <fmt/core.h>
#include <iconv.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "variant/variant_text.h"

namespace velmora {
namespace {

std::mutex g_code_page_mutex;
std::string g_code_page_override;

bool IsUtf8Name(std::string_view name) {
  return EqualsNoCase(name, "UTF-8") || EqualsNoCase(name, "UTF8");
}

std::string CharsetFromLocale(const char* locale) {
  if (locale == nullptr) return {};
  std::string_view s(locale);
  const size_t dot = s.find('.');
  if (dot == std::string_view::npos) return {};
  s.remove_prefix(dot + 1);
  return std::string(s.substr(0, s.find('@')));
}

class Iconv {
 public:
  Iconv(const std::string& from, const std::string& to)
      : cd_(iconv_open(to.c_str(), from.c_str())) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      throw EEncodingError(
          fmt::format("Unsupported character set conversion from {} to {}", from, to));
    }
  }
  ~Iconv() { iconv_close(cd_); }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

// Converts all of `in` with `cd` into `out` (bytes), which is grown as needed; what `cd` finds
// invalid is replaced by `replacement` and skipped by `unit` bytes, or, without a replacement,
// raises naming `from`.
void RunIconv(iconv_t cd, std::string_view in, std::string& out, std::string_view replacement,
              size_t unit, const char* from) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // a fresh shift state
  char* in_ptr = const_cast<char*>(in.data());
  size_t in_left = in.size();
  size_t done = 0;
  while (true) {
    char* out_ptr = out.data() + done;
    size_t out_left = out.size() - done;
    const size_t rc = iconv(cd, in_left > 0 ? &in_ptr : nullptr, &in_left, &out_ptr, &out_left);
    done = out.size() - out_left;
    if (rc != static_cast<size_t>(-1)) {
      if (in_left == 0) break;
      continue;
    }
    if (errno == E2BIG || (!replacement.empty() && out_left < replacement.size())) {
      out.resize(out.size() * 2 + replacement.size());
      continue;
    }
    if (replacement.empty()) {
      throw EEncodingError(
          fmt::format("Text is not valid {} (byte offset {})", from, in.size() - in_left));
    }
    // EILSEQ, or EINVAL: a sequence cut off by the end of the text.
    std::copy(replacement.begin(), replacement.end(), out.begin() + static_cast<ptrdiff_t>(done));
    done += replacement.size();
    const size_t skip = std::min(unit, in_left);
    in_ptr += skip;
    in_left -= skip;
    if (in_left == 0) break;
  }
  out.resize(done);
}

constexpr const char* kUtf16 = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

// U+FFFD in each direction's output.
constexpr std::string_view kUtf8Replacement = "\xEF\xBF\xBD";
constexpr char16_t kReplacementUnit = u'\uFFFD';

// The two descriptors of this thread, opened on first use: wide text is converted for every
// value an ODBC driver reads, and opening a descriptor costs far more than a short conversion.
const Iconv& ThreadIconv(bool to_utf16) {
  thread_local Iconv to_wide("UTF-8", kUtf16);
  thread_local Iconv to_narrow(kUtf16, "UTF-8");
  return to_utf16 ? to_wide : to_narrow;
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::string bytes(utf8.size() * 2 + 2, '\0');  // one unit per byte at most
  RunIconv(ThreadIconv(true).get(), utf8, bytes,
           std::string_view(reinterpret_cast<const char*>(&kReplacementUnit), 2), 1, "UTF-8");
  std::u16string out(bytes.size() / 2, u'\0');
  std::memcpy(out.data(), bytes.data(), out.size() * 2);
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out(utf16.size() * 3 + 3, '\0');  // three bytes per unit at most
  RunIconv(ThreadIconv(false).get(),
           std::string_view(reinterpret_cast<const char*>(utf16.data()), utf16.size() * 2), out,
           kUtf8Replacement, 2, kUtf16);
  return out;
}

std::string AnsiCodePage() {
  {
    std::lock_guard lock(g_code_page_mutex);
    if (!g_code_page_override.empty()) return g_code_page_override;
  }
  for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(var);
    if (value == nullptr || *value == '\0') continue;
    std::string charset = CharsetFromLocale(value);
    return charset.empty() ? "UTF-8" : charset;  // the first variable set decides
  }
  return "UTF-8";
}

void SetAnsiCodePage(std::string charset) {
  std::lock_guard lock(g_code_page_mutex);
  g_code_page_override = std::move(charset);
}

std::string ConvertCharset(std::string_view bytes, const std::string& from, const std::string& to) {
  Iconv cd(from, to);
  std::string out(bytes.size() * 2 + 16, '\0');
  RunIconv(cd.get(), bytes, out, {}, 0, from.c_str());
  return out;
}

std::string DecodeText(std::string_view bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) {
    bytes.remove_prefix(3);
    return ConvertCharset(bytes, "UTF-8", "UTF-8");  // validates
  }
  if (bytes.starts_with("\xFF\xFE")) return ConvertCharset(bytes.substr(2), "UTF-16LE", "UTF-8");
  if (bytes.starts_with("\xFE\xFF")) return ConvertCharset(bytes.substr(2), "UTF-16BE", "UTF-8");
  const std::string code_page = AnsiCodePage();
  return ConvertCharset(bytes, IsUtf8Name(code_page) ? "UTF-8" : code_page, "UTF-8");
}

std::string EncodeAnsiText(std::string_view utf8) {
  const std::string code_page = AnsiCodePage();
  if (IsUtf8Name(code_page)) return std::string(utf8);
  try {
    return ConvertCharset(utf8, "UTF-8", code_page);
  } catch (const EEncodingError&) {
    return "\xEF\xBB\xBF" + std::string(utf8);
  }
}

}  // namespace velmora
