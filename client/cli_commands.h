// The commands of velmora-cli, each run on a connected client.
#pragma once

#include <ostream>
#include <string>
#include <vector>

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

// A command line that does not make sense (exit code 2, like CLI11's own usage errors).
class EUsage : public EVelmoraError {
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
// With `params` (--param values, BoundValueFromArg), the values are bound by the server's engine to
// the text's "?" or ":name" markers in order (SQLParams2OleVariant; exec: ExecSQLParamSets with
// one set); without, the text runs as written (SQL2OleVariant, ExecSQL).
void RunQuery(Context& ctx, const std::string& sql, const std::vector<std::string>& params = {});
void RunExec(Context& ctx, const std::string& sql, const std::vector<std::string>& params = {});
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

// Applies a JSON change file ("-": standard input) to `table`: {"key": [...], "insert": [...],
// "update": [...], "delete": [...]}. The current rows of the updated and deleted keys are read
// with SQL2OleVariant, changed locally (the key columns marked as the delta's key fields) and
// sent as a delta. A key that matches no current row, or several, fails before anything is sent;
// refused rows fail with their messages (the accepted changes stay).
void RunApply(Context& ctx, const std::string& table, const std::string& file);
// Calls a stored procedure. `args` in order: NAME=VALUE (typed from the value), NAME:TYPE=VALUE,
// --out NAME[:TYPE], --rows. Prints the output parameters and, with --rows, the result set.
void RunCall(Context& ctx, const std::string& proc, const std::vector<std::string>& args);

// A local file's bytes ("-": standard input); ECommandFailed when it cannot be read.
std::string ReadLocalFile(const std::string& file);

// "yyyy-mm-dd hh:nn:ss.zzz".
std::string FormatServerTime(double value);

}  // namespace velmora::cli
