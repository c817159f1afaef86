#include "services/files/file_transfer.h"

#include <exception>
#include <memory>

#include "common/file_errors.h"
#include "data/memory_stream.h"
#include "services/files/file_holds.h"
#include "services/files/file_reader.h"
#include "services/files/replacement_file.h"
#include "services/files/safe_path.h"
#include "codec/uCompressionStream.h"
#include "codec/uMemoryStream2OLEVariant.h"

namespace velmora {

std::string ExchangeFolder(const std::string& root) {
  std::string folder = root;
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder + "Upload/";
}

bool UploadFile(const std::string& root, const OleVariant& FileOV, const std::string& FileName) {
  const SafePath target = ResolveInside(ExchangeFolder(root), {FileName});
  auto hold = FileHoldTable::Instance().TryExclusive(target.key);
  if (!hold) throw EFCreateError(target.full, kFileInUseMessage);
  // Created before the packet is decoded, so a target that cannot be made fails the same way
  // whatever the packet holds.
  ReplacementFile file(target);
  try {
    std::unique_ptr<TMemoryStream> content = OleVariant2MemoryStream(FileOV);
    if (content == nullptr) return false;
    DecompressMemoryStream(*content);
    file.Write(content->Data(), content->Size());
    file.Commit();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

OleVariant DownLoadFile(const std::string& root, const std::string& FileName, int32_t& Size) {
  const SafePath source = ResolveInside(ExchangeFolder(root), {FileName});
  if (!RegularFileExists(source.full)) return OleVariant::Null();
  auto hold = FileHoldTable::Instance().TryExclusive(source.key);
  if (!hold) throw EFOpenError(source.full, kFileInUseMessage);
  TMemoryStream content;
  ReadWholeFile(source.full, content);
  hold.reset();
  Size = static_cast<int32_t>(content.Size());
  CompressMemoryStream(content, kPacketSelector);
  OleVariant packet;
  MemoryStream2OleVariant(content, packet);
  return packet;
}

}  // namespace velmora
