#include "rpc/arg_convert.h"

#include <fmt/format.h>

#include <limits>

namespace velmora {
namespace {

[[noreturn]] void Refuse(const OleVariant& v, size_t index, const char* target) {
  throw EDSArgumentError(
      fmt::format("Argument {}: could not convert variant of type ({}) into type ({})", index,
                  VarTypeName(v.VarType()), target));
}

}  // namespace

const std::string& ArgText(const OleVariant& v, size_t index) {
  if (!v.IsText()) Refuse(v, index, "String");
  return v.Text();
}

int64_t ArgInt64(const OleVariant& v, size_t index) {
  if (!v.IsOrdinal()) Refuse(v, index, "Int64");
  if (v.VarType() == varUInt64 &&
      v.RawUnsigned() > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
    Refuse(v, index, "Int64");
  }
  return v.AsInt64();
}

int32_t ArgInt32(const OleVariant& v, size_t index) {
  if (!v.IsOrdinal()) Refuse(v, index, "Integer");
  const int64_t n = ArgInt64(v, index);
  if (n < std::numeric_limits<int32_t>::min() || n > std::numeric_limits<int32_t>::max()) {
    throw EDSArgumentError(
        fmt::format("Argument {}: value {} is out of the range of Integer", index, n));
  }
  return static_cast<int32_t>(n);
}

double ArgDouble(const OleVariant& v, size_t index) {
  if (!v.IsOrdinal() && !v.IsFloat() && v.VarType() != varCurrency && v.VarType() != varDate) {
    Refuse(v, index, "Double");
  }
  return v.AsDouble();
}

bool ArgBool(const OleVariant& v, size_t index) {
  if (v.VarType() != varBoolean) Refuse(v, index, "Boolean");
  return v.AsBoolean();
}

}  // namespace velmora
