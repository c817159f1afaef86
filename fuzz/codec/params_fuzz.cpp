// Arbitrary bytes decoded as a variant and read as a packed parameter list: refused with an error
// or read, never a crash; a list that was read packs and reads back to the same parameters, with
// the one change packing makes by design: a value of a custom kind (decimal, time-stamp, interval)
// travels as its text, so a parameter that had no data type comes back typed by that text as a
// wide string. A declared data type always comes back as it was.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "codec/uMemoryStream2OLEVariant.h"
#include "variant/variant_codec.h"

namespace {

// The data type a parameter has after packing and reading it back.
velmora::TFieldType TypeAfterRoundTrip(const velmora::TParam& p) {
  if (p.DataType == velmora::ftUnknown && p.Value().IsCustom()) return velmora::ftWideString;
  return p.DataType;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace velmora;
  OleVariant packed;
  try {
    ByteReader in(data, size);
    packed = DecodeVariant(in);
  } catch (const EFormatError&) {
    return 0;
  }
  TParams params;
  params.CreateParam(ftInteger, "sentinel", ptInput);
  try {
    OleVariant2Params(packed, params);
  } catch (const EVariantError&) {
    if (params.Count() != 1 || params[0].Name != "sentinel") std::abort();
    return 0;
  }
  OleVariant again;
  Params2OleVariant(params, kAllParamTypes, again);
  TParams back;
  OleVariant2Params(again, back);
  if (back.Count() != params.Count()) std::abort();
  for (int i = 0; i < back.Count(); ++i) {
    if (back[i].Name != params[i].Name || back[i].DataType != TypeAfterRoundTrip(params[i]) ||
        back[i].ParamType != params[i].ParamType || back[i].Size != params[i].Size)
      std::abort();
  }
  return 0;
}
