// File transfer through the exchange folder root + "Upload/": whole files, zlib-compressed data
// packets both ways, and a listing of the folder. The server module publishes these with AppPath()
// as the root. The exchange folder is never created here.
//
// Transfer limit: one file moved either way is at most `limit` bytes (the server module passes
// FileTransferLimit(): the smaller of Limits().UploadMax and what one message can carry). It is
// checked before any work: a download of a longer file is refused before the file is read, an
// upload whose packet is longer than any packet of `limit` bytes could be is refused before the
// target is touched, and an upload's content is counted while it is inflated and streamed to the
// temporary file, so a packet that inflates past the limit (a zlib bomb) is refused having held no
// more than one working buffer.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "variant/ole_variant.h"

namespace velmora {

// What one message must hold beside the packet of a reply (its type, the result's variant header,
// the out-parameters); generous.
inline constexpr uint64_t kReplyOverhead = 64;

// The largest content whose data packet (the codec's PacketBound: the worst case, incompressible
// content) fits with kReplyOverhead in a message of `message_max` bytes, and at
// most `upload_max` and INT32_MAX (the Size out-parameter).
uint64_t FileTransferLimit(uint64_t upload_max, uint64_t message_max);

// The transfer limit when no message size is known: Limits().UploadMax, at most INT32_MAX.
uint64_t DefaultTransferLimit();

// Writes the inflated content of the data packet FileOV to the exchange folder under FileName,
// replacing a file of that name wholly. Returns false, leaving any earlier file as it was, when
// the packet is not a byte array or not a zlib stream, and when the content cannot be written
// (a full disk; the reason, "Cannot write file ..." with the system's, is logged through
// common/log_sink.h). Raises, also leaving an earlier file as it was:
// - EUnsafePath for a name that leads outside the exchange folder or holds "|" or a line break;
// - EServerOwnFile for one of the server's own files (server_own_files.h);
// - EFCreateError when the target cannot be created (missing folder, target is a folder, in use);
// - EPacketTooLarge when the packet or its content is larger than `limit` allows;
// - EMemoryBudgetExceeded when no working buffer can be had.
bool UploadFile(const std::string& root, const OleVariant& FileOV, const std::string& FileName,
                uint64_t limit = DefaultTransferLimit());

// The exchange folder's file FileName as a data packet (compression selector 2), Size its length
// before compression; Null, with Size unassigned, when no file exists there (a folder does not
// count). Raises EFOpenError when the file is in use, cannot be opened or is longer than `limit`
// (refused before it is read), EUnsafePath and EServerOwnFile as above, EMemoryBudgetExceeded when
// the process memory budget cannot hold the content, the packet and the reply's copy of it. The
// file is held (file_holds.h) only while it is read into memory; it is deflated after, in pieces
// (codec/packet_pieces.h), while other calls may use it. `once_read`, when given, is called between
// the two.
OleVariant DownLoadFile(const std::string& root, const std::string& FileName, int32_t& Size,
                        uint64_t limit = DefaultTransferLimit(),
                        const std::function<void()>& once_read = {});

// Lists the files of the exchange folder (hidden ones included, sub-folders, upload temporaries
// and names holding "|" or a line break left out) in the order the file system gives them: names,
// last-write times "YYYYMMDDHHNN" in local time and sizes in bytes, each text's items joined by
// "|". Returns the number of files listed.
int32_t CheckUpload(const std::string& root, std::string& FileName, std::string& FileTime,
                    std::string& Size);

// Removes the temporaries that uploads and file-store writes killed mid-way left in the exchange
// folder and below the root (hidden files named ".<name>.velmora-XXXXXX"), so that none stays
// readable by name. Call at service start, before any client is served. Returns how many were
// removed; folders that cannot be read are passed over.
size_t RemoveLeftoverTemporaries(const std::string& root);

// root + "Upload/".
std::string ExchangeFolder(const std::string& root);

}  // namespace velmora
