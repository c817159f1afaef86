// Data packets as every side makes and reads them (the client, the tools and the tests): text or
// file bytes into a compressed packet, packets and plain byte arrays back into bytes, result
// packets into a memory table and a dataset into a packet.
#pragma once

#include <string>
#include <string_view>

#include "codec/uCompressionStream.h"
#include "data/dataset.h"
#include "data/mem_table.h"
#include "variant/ole_variant.h"

namespace velmora {

// A byte array (bounds 0..N-1) holding the zlib stream of `bytes`.
OleVariant CompressToPacket(std::string_view bytes);
// The inflated bytes of a packet. Raises EVariantError when the value is not a byte array,
// EZDecompressionError when its bytes are not a zlib stream.
std::string PacketToBytes(const OleVariant& packet);
// The bytes of a plain (uncompressed) byte array, any lower bound. Raises EVariantError when the
// value is not a byte array.
std::string ByteArrayToBytes(const OleVariant& value);

// Inflates a result packet and loads the dataset it holds into `table` (open on its first row).
void ReadResultPacket(const OleVariant& packet, TFDMemTable& table);
// Saves the dataset (structure, rows and change log) and compresses it into a packet.
OleVariant WriteDeltaPacket(TDataSet& dataset);

}  // namespace velmora
