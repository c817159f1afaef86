// The commands of velmora-cli, each run on a connected client.
#pragma once

#include <ostream>
#include <string>

#include "client/format.h"
#include "client/velmora_client.h"
#include "common/velmora_error.h"

namespace velmora::cli {

// A failure the server reported in its ErrMsg, or a local one (a file that cannot be read or
// written, a missing remote file): its text goes to standard error as it is, exit code 1.
class ECommandFailed : public EVelmoraError {
 public:
  using EVelmoraError::EVelmoraError;
};

struct Context {
  TVelmoraClient& client;
  OutputFormat format;
  std::ostream& out;  // results
  std::ostream& err;  // progress notes
  bool progress;      // show progress notes for large files
};

void RunTime(Context& ctx);
void RunQuery(Context& ctx, const std::string& sql);
void RunExec(Context& ctx, const std::string& sql);
// file "-" reads standard input.
void RunBatch(Context& ctx, const std::string& file);
void RunUpload(Context& ctx, const std::string& local, std::string name);
void RunDownload(Context& ctx, const std::string& name, std::string local);
void RunList(Context& ctx);
// local "" or "-" writes to `ctx.out`.
void RunRead(Context& ctx, const std::string& path, const std::string& name,
             const std::string& local);
void RunPost(Context& ctx, const std::string& local, const std::string& path,
             const std::string& name);
void RunRemove(Context& ctx, const std::string& path, const std::string& name);

// "yyyy-mm-dd hh:nn:ss.zzz".
std::string FormatServerTime(double value);

}  // namespace velmora::cli
