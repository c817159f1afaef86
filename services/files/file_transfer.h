// File transfer through the exchange folder root + "Upload/": whole files, zlib-compressed data
// packets both ways, and a listing of the folder. The server module publishes these with AppPath()
// as the root. The exchange folder is never created here.
#pragma once

#include <cstdint>
#include <string>

#include "variant/ole_variant.h"

namespace velmora {

// Writes the inflated content of the data packet FileOV to the exchange folder under FileName,
// replacing a file of that name wholly. Raises EFCreateError when the target cannot be created
// (missing folder, target is a folder, file in use) and EUnsafePath for a name that leads outside
// the exchange folder. Returns false, leaving any earlier file as it was, when the packet cannot
// be decoded or the content cannot be written.
bool UploadFile(const std::string& root, const OleVariant& FileOV, const std::string& FileName);

// The exchange folder's file FileName as a data packet (compression selector 2), Size its length
// before compression; Null, with Size unassigned, when no file exists there (a folder does not
// count). Raises EFOpenError when the file is in use or cannot be opened, EUnsafePath as above.
OleVariant DownLoadFile(const std::string& root, const std::string& FileName, int32_t& Size);

// Lists the files of the exchange folder (hidden ones included, sub-folders left out) in the
// order the file system gives them: names, last-write times "YYYYMMDDHHNN" in local time and sizes
// in bytes, each text's items joined by "|". Returns the number of files listed.
int32_t CheckUpload(const std::string& root, std::string& FileName, std::string& FileTime,
                    std::string& Size);

// root + "Upload/".
std::string ExchangeFolder(const std::string& root);

}  // namespace velmora
