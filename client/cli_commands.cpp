#include "client/cli_commands.h"

#include <fmt/format.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "client/cli_param_value.h"
#include "client/file_listing.h"
#include "variant/date_time_format.h"

namespace velmora::cli {
namespace {

// Files at least this large get a progress note while they travel.
constexpr size_t kProgressThreshold = 4u << 20;

void CheckErrMsg(const std::string& errMsg) {
  if (!errMsg.empty()) throw ECommandFailed(errMsg);
}

std::string ReadLocal(const std::string& file) {
  if (file == "-") {
    std::ostringstream s;
    s << std::cin.rdbuf();
    return std::move(s).str();
  }
  std::error_code ec;
  if (std::filesystem::is_directory(file, ec))
    throw ECommandFailed(fmt::format("Cannot read {}: {}", file, std::strerror(EISDIR)));
  std::ifstream in(file, std::ios::binary);
  if (!in) throw ECommandFailed(fmt::format("Cannot read {}: {}", file, std::strerror(errno)));
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw ECommandFailed(fmt::format("Cannot read {}: {}", file, std::strerror(errno)));
  return bytes;
}

void WriteLocal(const std::string& file, std::string_view bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (out) out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (out) out.close();
  if (!out) throw ECommandFailed(fmt::format("Cannot write {}: {}", file, std::strerror(errno)));
}

// The last component of a server-side name, which may use '\' or '/'.
std::string BaseName(const std::string& name) {
  const size_t sep = name.find_last_of("/\\");
  return sep == std::string::npos ? name : name.substr(sep + 1);
}

// A note on standard error around a large transfer; whole files travel in one call, so the note
// says what is under way and when it is over.
class ProgressNote {
 public:
  ProgressNote(Context& ctx, std::string_view verb, std::string_view name, size_t bytes)
      : ctx_(ctx), shown_(ctx.progress && bytes >= kProgressThreshold) {
    if (shown_)
      ctx_.err << fmt::format("{} {} ({:.1f} MiB)... ", verb, name, bytes / 1048576.0)
               << std::flush;
  }
  void Done() {
    if (shown_) ctx_.err << "done\n" << std::flush;
    shown_ = false;
  }
  ~ProgressNote() {
    if (shown_) ctx_.err << "failed\n" << std::flush;
  }
  ProgressNote(const ProgressNote&) = delete;
  ProgressNote& operator=(const ProgressNote&) = delete;

 private:
  Context& ctx_;
  bool shown_;
};

}  // namespace

std::string FormatServerTime(double value) {
  return FormatDateTimeText(value, DateTimeForm::kMilliseconds);
}

void RunTime(Context& ctx) {
  ctx.out << FormatServerTime(ctx.client.GetServerDateTime()) << '\n';
}

namespace {

// The --param values as a parameter list, in order and unnamed: the server binds an unnamed
// value to the marker of its place (a ":name" marker: its place among the distinct names).
TParams BoundValues(const std::vector<std::string>& args) {
  TParams params;
  for (const std::string& arg : args) {
    const TParam value = BoundValueFromArg(arg);
    TParam& p = params.CreateParam(value.DataType, "", ptInput);
    p.SetValue(value.Value());
  }
  return params;
}

}  // namespace

void RunQuery(Context& ctx, const std::string& sql, const std::vector<std::string>& params) {
  std::string errMsg;
  const OleVariant packet = params.empty()
                                ? ctx.client.SQL2OleVariant(sql, errMsg)
                                : ctx.client.SQLParams2OleVariant(sql, BoundValues(params), errMsg);
  CheckErrMsg(errMsg);
  TFDMemTable table;
  ReadResultPacket(packet, table);
  WriteDataSet(ctx.format, table, ctx.out);
}

void RunExec(Context& ctx, const std::string& sql, const std::vector<std::string>& params) {
  std::string errMsg;
  if (params.empty()) {
    ctx.client.ExecSQL(sql, errMsg);
  } else {
    const TParams sets[] = {BoundValues(params)};
    std::vector<int64_t> rows;
    ctx.client.ExecSQLParamSets(sql, sets, rows, errMsg);
  }
  CheckErrMsg(errMsg);
}

void RunBatch(Context& ctx, const std::string& file) {
  const OleVariant packet = CompressToPacket(ReadLocal(file));
  std::string errMsg;
  ctx.client.UpdateSQL(packet, errMsg);
  CheckErrMsg(errMsg);
}

void RunUpload(Context& ctx, const std::string& local, std::string name) {
  if (name.empty()) name = BaseName(local);
  const std::string bytes = ReadLocal(local);
  ProgressNote note(ctx, "Uploading", name, bytes.size());
  if (!ctx.client.UploadFile(CompressToPacket(bytes), name))
    throw ECommandFailed(fmt::format("Upload failed: {}", name));
  note.Done();
}

void RunDownload(Context& ctx, const std::string& name, std::string local) {
  if (local.empty()) local = BaseName(name);
  int32_t size = -1;
  const OleVariant packet = ctx.client.DownLoadFile(name, size);
  if (packet.IsNull()) throw ECommandFailed(fmt::format("No such file: {}", name));
  const std::string bytes = PacketToBytes(packet);
  if (size >= 0 && bytes.size() != static_cast<size_t>(size))
    throw ECommandFailed(fmt::format("Download of {} gave {} bytes, the server announced {}", name,
                                     bytes.size(), size));
  ProgressNote note(ctx, "Writing", local, bytes.size());
  WriteLocal(local, bytes);
  note.Done();
}

void RunList(Context& ctx) {
  std::string names, times, sizes;
  ctx.client.CheckUpload(names, times, sizes);
  TFDMemTable table;
  BuildFileListing(names, times, sizes, table);
  WriteDataSet(ctx.format, table, ctx.out);
}

void RunRead(Context& ctx, const std::string& path, const std::string& name,
             const std::string& local) {
  std::string errMsg;
  const OleVariant data = ctx.client.ReadData(path, name, errMsg);
  CheckErrMsg(errMsg);
  const std::string shown = path.empty() ? name : path + "/" + name;
  if (data.IsNull()) throw ECommandFailed(fmt::format("No such file: {}", shown));
  if (!data.IsByteArray()) throw ECommandFailed(fmt::format("No content for {}", shown));
  const std::string bytes = ByteArrayToBytes(data);
  if (local.empty() || local == "-") {
    ctx.out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ctx.out.flush();
    return;
  }
  WriteLocal(local, bytes);
}

void RunPost(Context& ctx, const std::string& local, const std::string& path,
             const std::string& name) {
  const std::string bytes = ReadLocal(local);
  ProgressNote note(ctx, "Posting", name, bytes.size());
  std::string errMsg;
  ctx.client.PostData(OleVariant::Bytes(std::string_view(bytes)), path, name, errMsg);
  CheckErrMsg(errMsg);
  note.Done();
}

void RunRemove(Context& ctx, const std::string& path, const std::string& name) {
  std::string errMsg;
  ctx.client.DeleteData(path, name, errMsg);
  CheckErrMsg(errMsg);
}

std::string ReadLocalFile(const std::string& file) {
  return ReadLocal(file);
}

}  // namespace velmora::cli
