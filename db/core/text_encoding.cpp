#include "db/core/text_encoding.h"

#include <fmt/core.h>
#include <iconv.h>

#include <cerrno>
#include <cstdlib>
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

}  // namespace

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
  std::string out;
  out.resize(bytes.size() * 2 + 16);
  char* in_ptr = const_cast<char*>(bytes.data());
  size_t in_left = bytes.size();
  size_t done = 0;
  while (true) {
    char* out_ptr = out.data() + done;
    size_t out_left = out.size() - done;
    const size_t rc =
        iconv(cd.get(), in_left > 0 ? &in_ptr : nullptr, &in_left, &out_ptr, &out_left);
    done = out.size() - out_left;
    if (rc != static_cast<size_t>(-1)) {
      if (in_left == 0) break;
      continue;
    }
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    throw EEncodingError(
        fmt::format("Text is not valid {} (byte offset {})", from, bytes.size() - in_left));
  }
  out.resize(done);
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
