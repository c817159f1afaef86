#include "codec/packets.h"

#include "codec/uCompressionStream.h"
#include "codec/uMemoryStream2OLEVariant.h"

namespace velmora {

OleVariant CompressToPacket(std::string_view bytes) {
  TMemoryStream stream{std::string(bytes)};
  CompressMemoryStream(stream, kPacketSelector);
  OleVariant out;
  MemoryStream2OleVariant(stream, out);
  return out;
}

std::string ByteArrayToBytes(const OleVariant& value) {
  if (!value.IsByteArray())
    throw EVariantError("Expected a byte array, got " + VarTypeName(value.VarType()));
  const auto& bytes = value.ByteData().bytes;
  return std::string(bytes.begin(), bytes.end());
}

std::string PacketToBytes(const OleVariant& packet) {
  TMemoryStream stream{ByteArrayToBytes(packet)};
  DecompressMemoryStream(stream);
  return std::move(stream.Buffer());
}

void ReadResultPacket(const OleVariant& packet, TFDMemTable& table) {
  TMemoryStream stream{PacketToBytes(packet)};
  table.LoadFromStream(stream);
}

OleVariant WriteDeltaPacket(TDataSet& dataset) {
  TMemoryStream stream;
  dataset.SaveToStream(stream);
  CompressMemoryStream(stream, kPacketSelector);
  OleVariant out;
  MemoryStream2OleVariant(stream, out);
  return out;
}

}  // namespace velmora
