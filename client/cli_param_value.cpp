#include "client/cli_param_value.h"

#include <fmt/format.h>

#include <cctype>
#include <charconv>
#include <climits>
#include <map>

#include "client/cli_commands.h"
#include "data/field_family.h"
#include "data/field_type.h"

namespace velmora::cli {
namespace {

// "0aFF" as its bytes; nullopt when the text is not pairs of hex digits.
std::optional<std::vector<uint8_t>> HexBytes(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::vector<uint8_t> bytes(hex.size() / 2);
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto [end, ec] =
        std::from_chars(hex.data() + 2 * i, hex.data() + 2 * i + 2, bytes[i], 16);
    if (ec != std::errc() || end != hex.data() + 2 * i + 2) return std::nullopt;
  }
  return bytes;
}

}  // namespace

std::optional<TFieldType> ParamTypeFromName(std::string name) {
  if (auto t = FieldTypeFromName(name)) return t;
  for (char& ch : name) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  static const std::map<std::string, TFieldType> kNames = {
      {"int", ftInteger},       {"integer", ftInteger},
      {"smallint", ftSmallint}, {"bigint", ftLargeint},
      {"largeint", ftLargeint}, {"float", ftFloat},
      {"double", ftFloat},      {"string", ftWideString},
      {"text", ftWideString},   {"varchar", ftWideString},
      {"bool", ftBoolean},      {"boolean", ftBoolean},
      {"date", ftDate},         {"time", ftTime},
      {"datetime", ftDateTime}, {"timestamp", ftTimeStamp},
      {"decimal", ftFMTBcd},    {"numeric", ftFMTBcd},
      {"bcd", ftBCD},           {"blob", ftBlob},
      {"memo", ftWideMemo},
  };
  const auto it = kNames.find(name);
  if (it == kNames.end()) return std::nullopt;
  return it->second;
}

TParam TypedFromValue(const std::string& name, const std::string& text) {
  TParam p(name, ftWideString, ptInput);
  int64_t i = 0;
  const char* end = text.data() + text.size();
  if (!text.empty()) {
    auto [ptr, ec] = std::from_chars(text.data(), end, i);
    if (ec == std::errc() && ptr == end) {
      const bool small = i >= INT32_MIN && i <= INT32_MAX;
      p.DataType = small ? ftInteger : ftLargeint;
      p.SetValue(small ? OleVariant(static_cast<int32_t>(i)) : OleVariant(i));
      return p;
    }
    double d = 0;
    auto [dptr, dec] = std::from_chars(text.data(), end, d);
    if (dec == std::errc() && dptr == end) {
      p.DataType = ftFloat;
      p.SetValue(OleVariant(d));
      return p;
    }
  }
  if (text == "true" || text == "false") {
    p.DataType = ftBoolean;
    p.SetValue(OleVariant(text == "true"));
    return p;
  }
  p.SetValue(OleVariant(text));
  return p;
}

TParam BoundValueFromArg(const std::string& arg) {
  if (arg == "null") return TParam("", ftUnknown, ptInput);  // NULL: no value, bound as text
  if (const size_t colon = arg.find(':'); colon != std::string::npos && colon > 0) {
    const std::string type_name = arg.substr(0, colon);
    const std::string value = arg.substr(colon + 1);
    if (type_name == "bytes" || type_name == "blob") {
      const auto bytes = HexBytes(value);
      if (!bytes) throw EUsage(fmt::format("--param {}: the bytes must be given in hex", arg));
      TParam p("", ftBlob, ptInput);
      p.SetValue(OleVariant(ByteArray{0, *bytes}));
      return p;
    }
    if (const auto type = ParamTypeFromName(type_name)) {
      TParam p("", *type, ptInput);
      const TFieldFamily family = FieldFamilyOf(*type);
      if (family == TFieldFamily::kInteger || family == TFieldFamily::kFloat) {
        // A number travels as one, so that an engine without column types stores a number.
        const TParam number = TypedFromValue("", value);
        const TFieldFamily given = FieldFamilyOf(number.DataType);
        if (given != TFieldFamily::kInteger && given != TFieldFamily::kFloat) {
          throw EUsage(fmt::format("--param {}: {} is not a number", arg, value));
        }
        p.SetValue(family == TFieldFamily::kFloat ? OleVariant(number.Value().AsDouble())
                                                  : number.Value());
        return p;
      }
      p.SetValue(OleVariant(value));  // dates, decimals, text: the engine reads the text
      return p;
    }
  }
  return TypedFromValue("", arg);
}

}  // namespace velmora::cli
