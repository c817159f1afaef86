// The server file store: single files below the root folder, addressed by a relative folder and a
// file name, carried as plain (uncompressed) byte arrays. Failures come back as text in ErrMsg,
// which every call empties first. The server module publishes these with AppPath() as the root.
// The server's own files (server_own_files.h) are refused by every call, whether they exist or
// not, with ErrMsg "Access denied: ..." and nothing touched.
#pragma once

#include <string>

#include "services/files/file_transfer.h"
#include "variant/ole_variant.h"

namespace velmora {

// The bytes of root/FilePath/FileName as a byte array with bounds 0..N-1. Null when no file
// exists there (a folder does not count); Empty, with ErrMsg set, when it cannot be read (in use
// by a writer, refused path, open or read error, longer than `limit`: refused before reading,
// content the process memory budget cannot hold). Raises EMemoryBudgetExceeded when the budget
// can hold the content but not the byte array made of it beside it.
OleVariant ReadData(const std::string& root, const std::string& FilePath,
                    const std::string& FileName, std::string& ErrMsg,
                    uint64_t limit = DefaultTransferLimit());

// Writes the bytes of the byte array FileOV (any lower bound) to root/FilePath/FileName, creating
// the folder and its parents as needed and replacing an earlier file wholly. On failure (among
// them content longer than `limit`) ErrMsg holds the reason and an earlier file is left as it was.
void PostData(const OleVariant& FileOV, const std::string& root, const std::string& FilePath,
              const std::string& FileName, std::string& ErrMsg,
              uint64_t limit = DefaultTransferLimit());

// Deletes root/FilePath/FileName when a file is there; a missing file or a folder is no error.
void DeleteData(const std::string& root, const std::string& FilePath, const std::string& FileName,
                std::string& ErrMsg);

}  // namespace velmora
