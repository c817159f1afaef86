// The server's own files, kept out of reach of the file methods.
//
// The shell names them at each service start: its settings, its connection definition, the TLS
// certificate and key, the database files the connections open, its executable. Every file method
// (ReadData, PostData, DeleteData, UploadFile, DownLoadFile) then refuses a target that is one of
// them, before it touches anything, with the text of ServerOwnFileMessage. Other files, those a
// client put there itself among them, are reached as before.
//
// A target counts as one of them when
// - it is the same file: device and inode equal, both looked up at the call, following links. So
//   a symbolic or hard link, and any spelling of the name ("./", "Upload/../"), are refused too,
//   and a file replaced by rename since the start (the settings file is saved that way) is still
//   recognised;
// - or its resolved path is that of one of them, or lies below it. This covers a file that does
//   not exist (yet), such as a missing DataBase.CFG: a client can create neither it nor a folder in
//   its place. Resolved paths are taken when the files are named; links in their folders are not
//   expected to change while the service runs.
//
// Thread rules: SetServerOwnFiles is called while no file method runs (the service is stopped);
// RefuseServerOwnFile runs on any thread and reads the set as it was last named.
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

}  // namespace velmora
