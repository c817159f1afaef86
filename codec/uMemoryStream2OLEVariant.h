// Conversions between memory streams and byte-array variants, and the packing of parameter lists
// into nested variant arrays for the remote interface.
#pragma once

#include <cstdint>
#include <memory>

#include "data/memory_stream.h"
#include "data/params.h"
#include "variant/ole_variant.h"

namespace velmora {

// out := byte array with bounds 0..N-1 holding the stream's N bytes (0..-1 when empty). The
// stream's position is left at its end.
void MemoryStream2OleVariant(const TMemoryStream& stream, OleVariant& out);
void MemoryStream2OleVariant(TMemoryStream& stream, OleVariant& out);

// A new stream holding the bytes of a byte array (any lower bound), its position at the end;
// nullptr for any other value or on any failure. Never raises.
std::unique_ptr<TMemoryStream> OleVariant2MemoryStream(const OleVariant& value) noexcept;

// out := Null when no parameter's kind is in `kinds`, else an array 0..n-1 of seven-entry arrays
// (Name, Value, DataType, ParamType, Size, Precision, NumericScale) in list order. Values of the
// custom kinds (decimal, SQL time-stamps, interval) are written as their text.
void Params2OleVariant(const TParams& params, TParamTypes kinds, OleVariant& out);

// Replaces the list's contents with the parameters of a packed list. Null, Empty, a non-array or
// an array whose first entry is not an array leave the list untouched. Entries may be shorter
// than seven elements but need at least two. A malformed entry raises EVariantError and the list
// keeps its earlier contents.
void OleVariant2Params(const OleVariant& packed, TParams& params);

}  // namespace velmora
