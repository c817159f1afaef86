#include "services/files/file_transfer.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

#include "codec/packet_pieces.h"
#include "codec/uCompressionStream.h"
#include "codec/uMemoryStream2OLEVariant.h"
#include "common/file_errors.h"
#include "common/memory_budget.h"
#include "common/server_limits.h"
#include "data/memory_stream.h"
#include "services/files/file_holds.h"
#include "services/files/file_reader.h"
#include "services/files/replacement_file.h"
#include "services/files/safe_path.h"
#include "services/files/server_own_files.h"

namespace velmora {

std::string ExchangeFolder(const std::string& root) {
  std::string folder = root;
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder + "Upload/";
}

uint64_t FileTransferLimit(uint64_t upload_max, uint64_t message_max) {
  const auto fits = [&](uint64_t n) { return PacketBound(n) + kReplyOverhead <= message_max; };
  if (message_max < kReplyOverhead || !fits(0)) return 0;
  // The largest n that fits: PacketBound grows with n, and n itself never exceeds its bound.
  uint64_t low = 0;
  uint64_t high = std::min<uint64_t>(message_max, kMaxTransferSize);
  while (low < high) {
    const uint64_t mid = low + (high - low + 1) / 2;
    if (fits(mid)) {
      low = mid;
    } else {
      high = mid - 1;
    }
  }
  return std::min(upload_max, low);
}

uint64_t DefaultTransferLimit() {
  return std::min<uint64_t>(Limits().UploadMax, kMaxTransferSize);
}

bool UploadFile(const std::string& root, const OleVariant& FileOV, const std::string& FileName,
                uint64_t limit) {
  const SafePath target = ResolveInside(ExchangeFolder(root), {FileName});
  RefuseServerOwnFile(target);
  if (FileOV.IsByteArray() && FileOV.ByteData().bytes.size() > PacketBound(limit)) {
    throw EPacketTooLarge(fmt::format(
        "The uploaded packet of {} bytes is larger than any packet of a file within the transfer "
        "limit of {} bytes",
        FileOV.ByteData().bytes.size(), limit));
  }
  auto hold = FileHoldTable::Instance().TryExclusive(target.key);
  if (!hold) throw EFCreateError(target.full, kFileInUseMessage);
  // Created before the packet is decoded, so a target that cannot be made fails the same way
  // whatever the packet holds.
  ReplacementFile file(target);
  if (!FileOV.IsByteArray()) return false;
  const std::vector<uint8_t>& packet = FileOV.ByteData().bytes;
  try {
    InflateTo(std::string_view(reinterpret_cast<const char*>(packet.data()), packet.size()), limit,
              "The uploaded file", [&](const char* data, size_t size) { file.Write(data, size); });
  } catch (const EZDecompressionError&) {
    return false;  // not a zlib stream; the reasons below reach the client as remote errors
  }
  file.Commit();
  return true;
}

OleVariant DownLoadFile(const std::string& root, const std::string& FileName, int32_t& Size,
                        uint64_t limit) {
  const SafePath source = ResolveInside(ExchangeFolder(root), {FileName});
  RefuseServerOwnFile(source);
  if (!RegularFileExists(source.full)) return OleVariant::Null();
  auto hold = FileHoldTable::Instance().TryExclusive(source.key);
  if (!hold) throw EFOpenError(source.full, kFileInUseMessage);
  // The file is read and deflated piece by piece: what grows with it is the packet alone, and
  // then the reply frame's copy of it.
  MemoryReservation held;
  std::optional<TPacketFromPieces> deflater;
  uint64_t read = 0;
  uint64_t pieces = 0;  // the piece read and its deflated form
  ReadFileInPieces(
      source.full, limit,
      [&](uint64_t size) {
        pieces = 2 * PacketBound(std::min<uint64_t>(size, kPacketPiece));
        held = MemoryBudget::Process().Reserve(2 * PacketBound(size) + pieces);
        deflater.emplace(kPacketSelector, size);
      },
      kPacketPiece,
      [&](const char* data, size_t size) {
        deflater->Add(data, size);
        read += size;
      });
  hold.reset();
  Size = static_cast<int32_t>(read);
  OleVariant packet = OleVariant::Bytes(deflater->Finish());
  deflater.reset();
  held.Shrink(pieces);                 // the pieces are gone
  KeepUntilCallEnds(std::move(held));  // the packet and the reply made of it, until it is sent
  return packet;
}

size_t RemoveLeftoverTemporaries(const std::string& root) {
  namespace fs = std::filesystem;
  constexpr int kMaxDepth = 16;
  size_t removed = 0;
  std::error_code ec;
  fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec);
  for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it.depth() >= kMaxDepth) it.disable_recursion_pending();
    std::error_code type_ec;
    if (!it->is_regular_file(type_ec) || it->is_symlink(type_ec)) continue;
    if (!IsReplacementTempName(it->path().filename().string())) continue;
    std::error_code remove_ec;
    if (fs::remove(it->path(), remove_ec)) ++removed;
  }
  return removed;
}

}  // namespace velmora
