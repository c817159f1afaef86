#include "services/files/file_store.h"

#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>

#include "codec/uMemoryStream2OLEVariant.h"
#include "common/file_errors.h"
#include "common/memory_budget.h"
#include "data/memory_stream.h"
#include "services/files/file_holds.h"
#include "services/files/file_reader.h"
#include "services/files/replacement_file.h"
#include "services/files/safe_path.h"
#include "services/files/server_own_files.h"
#include "services/files/unique_fd.h"

namespace velmora {
namespace {

// The store's folder for writes: every missing level is made unless a file stands there. Whether
// this succeeds is not examined; creating the file reports the failure.
void MakeFolder(const std::string& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) return;
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
}

}  // namespace

OleVariant ReadData(const std::string& root, const std::string& FilePath,
                    const std::string& FileName, std::string& ErrMsg, uint64_t limit) {
  ErrMsg.clear();
  TMemoryStream content;
  MemoryReservation held;
  try {
    const SafePath source = ResolveInside(root, {FilePath, FileName});
    RefuseServerOwnFile(source);
    if (!RegularFileExists(source.full)) return OleVariant::Null();
    auto hold = FileHoldTable::Instance().TryShared(source.key);
    if (!hold) throw EFOpenError(source.full, kFileInUseMessage);
    // Loading: the content is charged before it is read, and a refusal is a loading failure.
    ReadWholeFile(source, content, limit,
                  [&](uint64_t size) { held = MemoryBudget::Process().Reserve(size); });
  } catch (const std::exception& e) {
    ErrMsg = e.what();
    return OleVariant();
  }
  // The result is built outside the loading's guard: the byte array, which exists beside the
  // content, is charged here, and a refusal reaches the client as a remote error.
  held.Grow(content.Size());
  OleVariant bytes;
  MemoryStream2OleVariant(content, bytes);
  KeepUntilCallEnds(std::move(held));  // the byte array and the reply made of it, until it is sent
  return bytes;
}

void PostData(const OleVariant& FileOV, const std::string& root, const std::string& FilePath,
              const std::string& FileName, std::string& ErrMsg, uint64_t limit) {
  ErrMsg.clear();
  try {
    const SafePath target = ResolveInside(root, {FilePath, FileName});
    RefuseServerOwnFile(target);
    if (FileOV.IsByteArray() && FileOV.ByteData().bytes.size() > limit) {
      throw EFileError(fmt::format(
          "Cannot write file \"{}\". The content is {} bytes long, more than the transfer limit "
          "of {} bytes",
          target.full, FileOV.ByteData().bytes.size(), limit));
    }
    MakeFolder(ResolveInside(root, {FilePath}).full);
    if (!FileOV.IsByteArray())
      throw EFileError(
          fmt::format("Invalid file content for \"{}\": a variant of type ({}) is "
                      "not an array of bytes",
                      target.full, VarTypeName(FileOV.VarType())));
    const std::vector<uint8_t>& content = FileOV.ByteData().bytes;
    auto hold = FileHoldTable::Instance().TryExclusive(target.key);
    if (!hold) throw EFCreateError(target.full, kFileInUseMessage);
    ReplacementFile file(target);
    file.Write(reinterpret_cast<const char*>(content.data()), content.size());
    file.Commit();
  } catch (const std::exception& e) {
    ErrMsg = e.what();
  }
}

void DeleteData(const std::string& root, const std::string& FilePath, const std::string& FileName,
                std::string& ErrMsg) {
  ErrMsg.clear();
  try {
    const SafePath target = ResolveInside(root, {FilePath, FileName});
    RefuseServerOwnFile(target);
    if (!RegularFileExists(target.full)) return;
    auto hold = FileHoldTable::Instance().TryExclusive(target.key);
    if (!hold) {
      throw EFileError(
          fmt::format("Cannot delete file \"{}\". {}", target.full, kFileInUseMessage));
    }
    // The entry is removed in the folder that was opened and checked, not through the path again.
    const UniqueFd folder(OpenCheckedFolder(target));
    if (!folder.Valid() || ::unlinkat(folder.Get(), target.leaf.c_str(), 0) != 0) {
      const int error = errno;
      if (error == ENOENT) return;  // removed meanwhile by other means
      throw EFileError(
          fmt::format("Cannot delete file \"{}\". {}", target.full, SystemMessage(error)));
    }
  } catch (const std::exception& e) {
    ErrMsg = e.what();
  }
}

}  // namespace velmora
