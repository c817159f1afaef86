// CheckUpload: the listing of the exchange folder.
#include <dirent.h>
#include <fmt/format.h>
#include <sys/stat.h>

#include <ctime>
#include <string_view>
#include <vector>

#include "services/files/file_transfer.h"
#include "services/files/replacement_file.h"
#include "services/files/safe_path.h"

namespace velmora {
namespace {

struct DirCloser {
  DIR* dir;
  ~DirCloser() { ::closedir(dir); }
};

// The local time zone's offset from UTC in seconds, as in force now.
long CurrentUtcOffset() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  return local.tm_gmtoff;
}

// "YYYYMMDDHHNN" of a UTC time shifted by the given offset.
std::string FormatStamp(std::time_t utc, long offset) {
  const std::time_t shifted = utc + offset;
  std::tm t{};
  ::gmtime_r(&shifted, &t);
  return fmt::format("{:04}{:02}{:02}{:02}{:02}", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                     t.tm_hour, t.tm_min);
}

// Entry names of the folder that are not folders, in enumeration order.
std::vector<std::string> FileNamesOf(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return names;
  DirCloser closer{dir};
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == ".." || IsReplacementTempName(name)) continue;
    if (!IsListableName(name)) continue;  // put there by other means; it would break the listing
    const std::string path = folder + std::string(name);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 && ::lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) continue;
    names.emplace_back(name);
  }
  return names;
}

void AppendItem(std::string& text, std::string_view item) {
  text += '|';
  text += item;
}

}  // namespace

int32_t CheckUpload(const std::string& root, std::string& FileName, std::string& FileTime,
                    std::string& Size) {
  FileName.clear();
  FileTime.clear();
  Size.clear();
  const std::string folder = ExchangeFolder(root);
  const long offset = CurrentUtcOffset();
  int32_t count = 0;
  for (const std::string& name : FileNamesOf(folder)) {
    // Looked up again by its full path; a file gone meanwhile is left out of the listing.
    const std::string path = folder + name;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 && ::lstat(path.c_str(), &st) != 0) continue;
    AppendItem(FileName, name);
    AppendItem(Size, fmt::format("{}", static_cast<int64_t>(st.st_size)));
    AppendItem(FileTime, FormatStamp(st.st_mtim.tv_sec, offset));
    ++count;
  }
  if (!FileName.empty()) FileName.erase(0, 1);
  if (!FileTime.empty()) FileTime.erase(0, 1);
  if (!Size.empty()) Size.erase(0, 1);
  return count;
}

}  // namespace velmora
