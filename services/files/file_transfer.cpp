#include "services/files/file_transfer.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <string_view>
#include <system_error>

#include "codec/packet_pieces.h"
#include "codec/uCompressionStream.h"
#include "codec/uMemoryStream2OLEVariant.h"
#include "common/file_errors.h"
#include "common/log_sink.h"
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
    file.Commit();
  } catch (const EZDecompressionError&) {
    return false;  // not a zlib stream; the limit and the memory budget reach the client as
                   // remote errors
  } catch (const EFileError& e) {
    // The content could not be written (a full disk): the answer is False, as for every failure
    // of the write, and the reason is for the operator.
    LogServerEvent(fmt::format("UploadFile failed: {}", e.what()));
    return false;
  }
  return true;
}

OleVariant DownLoadFile(const std::string& root, const std::string& FileName, int32_t& Size,
                        uint64_t limit, const std::function<void()>& once_read) {
  const SafePath source = ResolveInside(ExchangeFolder(root), {FileName});
  RefuseServerOwnFile(source);
  if (!RegularFileExists(source.full)) return OleVariant::Null();
  // The content and the packet, then the packet and the reply frame's copy of it: the content is
  // gone before the copy is made, and is never longer than the packet's bound.
  MemoryReservation held;
  uint64_t deflating = 0;  // one piece's deflated form
  TMemoryStream content;
  {
    auto hold = FileHoldTable::Instance().TryExclusive(source.key);
    if (!hold) throw EFOpenError(source.full, kFileInUseMessage);
    ReadWholeFile(source, content, limit, [&](uint64_t size) {
      deflating = PacketBound(std::min<uint64_t>(size, kPacketPiece));
      held = MemoryBudget::Process().Reserve(2 * PacketBound(size) + deflating);
    });
  }  // the hold ends once the file is read: others may use it while it is deflated
  if (once_read) once_read();
  const std::string& bytes = content.Buffer();
  Size = static_cast<int32_t>(bytes.size());
  std::vector<uint8_t> deflated;
  {
    TPacketFromPieces deflater(kPacketSelector, bytes.size());
    for (size_t at = 0; at < bytes.size(); at += kPacketPiece) {
      deflater.Add(bytes.data() + at, std::min(kPacketPiece, bytes.size() - at));
    }
    deflated = deflater.Finish();
  }
  std::string().swap(content.Buffer());  // its memory goes now, not at the end of the call
  OleVariant packet = OleVariant::Bytes(std::move(deflated));
  held.Shrink(deflating);
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
