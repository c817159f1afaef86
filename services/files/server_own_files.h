// The server's own files, kept out of reach of the file methods.
//
// The shell names them at each service start: its settings, its connection definition, the TLS
// certificate and key, the database files the connections open, its executable. Every file method
// (ReadData, PostData, DeleteData, UploadFile, DownLoadFile) then refuses a target that is one of
// them, before it touches anything, with the text of ServerOwnFileMessage. Other files, those a
// client put there itself among them, are reached as before.
//
// A target counts as one of them when
// - it is the same file: device and inode equal, following links. So a symbolic or hard link, and
//   any spelling of the name ("./", "Upload/../"), are refused too. Each file's inode is held open
//   (O_PATH) from when it is first seen, and one replaced since (the settings are saved by rename)
//   stays one of them as long as any link still reaches it: a hard link made before the
//   replacement would hand out the former contents, password included. Held open, such an inode's
//   number cannot pass to an unrelated file, so nothing else is refused by mistake. The former
//   files the server itself replaced (common/atomic_file.h) count the same way, also when they
//   were replaced between two calls;
// - or its resolved path is that of one of them, or lies below it. This covers a file that does
//   not exist (yet), such as a missing DataBase.CFG: a client can create neither it nor a folder in
//   its place.
//
// The check is made twice: on the path before anything is touched (RefuseServerOwnFile), and on
// what was actually opened (RefuseOpenedServerOwnFile), because a link can be swapped between a
// look at a path and its open. Readers check the open file; writers and deleters check the open
// folder they then work in by descriptor, so a folder swapped for a link afterwards changes
// nothing.
//
// Thread rules: SetServerOwnFiles is called while no file method runs (the service is stopped);
// the checks run on any thread, one at a time (they share the held inodes).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/velmora_error.h"
#include "services/files/safe_path.h"

namespace velmora {

// A file method refused on one of the server's own files.
class EServerOwnFile : public EVelmoraError {
 public:
  using EVelmoraError::EVelmoraError;
};

// "Access denied: "<path>" is one of the server's own files".
std::string ServerOwnFileMessage(std::string_view path);

// Replaces the set by these files (absolute paths; they need not exist). An empty list protects
// nothing, which is the state before the first call.
void SetServerOwnFiles(const std::vector<std::string>& paths);

// Raises EServerOwnFile when `target` is one of the server's own files (the message names the
// target as the client reached it) or leads through one of them (the message names that file).
void RefuseServerOwnFile(const SafePath& target);

// The same for what `fd` has opened, whatever the path named at the check above: with `leaf`
// empty, `fd` is the file itself; else `fd` is the folder that holds the entry `leaf` to be
// written or removed. Raises EUnsafePath when what was opened lies outside target.root (a link
// swapped in after the path was resolved), EServerOwnFile (naming the target) when it is, or
// was and is still linked as, one of the server's own files.
void RefuseOpenedServerOwnFile(int fd, const SafePath& target, std::string_view leaf = {});

// Opens target.folder, the folder a write or a removal of target.leaf then works in by descriptor,
// and checks it as above. Returns the descriptor, or -1 with errno set when the folder cannot be
// opened.
int OpenCheckedFolder(const SafePath& target);

}  // namespace velmora
