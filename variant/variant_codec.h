// Binary encoding of OleVariant values, used on the wire and for variant fields of datasets.
// The layout is written down in docs/protocol.md.
#pragma once

#include <string>

#include "variant/byte_io.h"
#include "variant/ole_variant.h"

namespace velmora {

// Nesting of variant arrays accepted by the decoder.
inline constexpr int kMaxVariantDepth = 32;

void EncodeVariant(const OleVariant& value, ByteWriter& out);
// Raises EFormatError on truncated or malformed input, an unknown type code or nesting deeper
// than kMaxVariantDepth. Never allocates more than the input can justify.
OleVariant DecodeVariant(ByteReader& in);

}  // namespace velmora
