// Conversions between OleVariant and the C++ types of published method parameters and results.
#pragma once

#include <cstdint>
#include <string>

#include "common/velmora_error.h"
#include "rpc/server_module_base.h"
#include "variant/ole_variant.h"

namespace velmora {

// Raised when an argument cannot be turned into the parameter's type.
class EDSArgumentError : public EVelmoraError {
 public:
  using EVelmoraError::EVelmoraError;
};

// In-parameters. `index` (1-based) names the argument in the error text.
// Text accepts the three string kinds; integers accept every integer kind within range;
// double accepts integers, floats, currency and dates; bool accepts booleans only.
const std::string& ArgText(const OleVariant& v, size_t index);
int32_t ArgInt32(const OleVariant& v, size_t index);
int64_t ArgInt64(const OleVariant& v, size_t index);
double ArgDouble(const OleVariant& v, size_t index);
bool ArgBool(const OleVariant& v, size_t index);

template <class T>
T FromArg(const OleVariant& v, size_t index);
template <>
inline std::string FromArg<std::string>(const OleVariant& v, size_t i) {
  return ArgText(v, i);
}
template <>
inline int32_t FromArg<int32_t>(const OleVariant& v, size_t i) {
  return ArgInt32(v, i);
}
template <>
inline int64_t FromArg<int64_t>(const OleVariant& v, size_t i) {
  return ArgInt64(v, i);
}
template <>
inline double FromArg<double>(const OleVariant& v, size_t i) {
  return ArgDouble(v, i);
}
template <>
inline bool FromArg<bool>(const OleVariant& v, size_t i) {
  return ArgBool(v, i);
}
template <>
inline TDateTime FromArg<TDateTime>(const OleVariant& v, size_t i) {
  return {ArgDouble(v, i)};
}
template <>
inline OleVariant FromArg<OleVariant>(const OleVariant& v, size_t) {
  return v;
}

// Results and out-parameters: text travels as varOleStr, a TDateTime as varDate.
inline OleVariant ToVariant(std::string v) {
  return OleVariant::OleStr(std::move(v));
}
inline OleVariant ToVariant(int32_t v) {
  return OleVariant(v);
}
inline OleVariant ToVariant(int64_t v) {
  return OleVariant(v);
}
inline OleVariant ToVariant(double v) {
  return OleVariant(v);
}
inline OleVariant ToVariant(bool v) {
  return OleVariant(v);
}
inline OleVariant ToVariant(TDateTime v) {
  return OleVariant::Date(v.Value);
}
inline OleVariant ToVariant(OleVariant v) {
  return v;
}

}  // namespace velmora
