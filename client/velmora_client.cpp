#include "client/velmora_client.h"

#include <fmt/format.h>

#include <algorithm>
#include <initializer_list>
#include <numeric>
#include <stdexcept>
#include <thread>
#include <vector>

#include "codec/uMemoryStream2OLEVariant.h"

namespace velmora {
namespace {

// The out-parameter at `index`; a reply with fewer outs than the method declares is a server
// that speaks another interface.
const OleVariant& Out(const TDSCallResult& r, size_t index, std::string_view method) {
  if (index >= r.Outs.size())
    throw EDSProtocolError(std::string(method) + ": reply lacks out-parameter " +
                           std::to_string(index + 1));
  return r.Outs[index];
}

std::string OutText(const TDSCallResult& r, size_t index, std::string_view method) {
  return Out(r, index, method).AsString();
}

}  // namespace

void TVelmoraClient::Connect(const std::string& host, uint16_t port, const std::string& user,
                             const std::string& password, const TDSTlsClientSettings& tls) {
  Connect(std::vector<TServerAddress>{{host, port}}, user, password, tls);
}

void TVelmoraClient::Connect(const std::vector<TServerAddress>& servers, const std::string& user,
                             const std::string& password, const TDSTlsClientSettings& tls,
                             TReconnectRules rules) {
  if (servers.empty()) throw std::invalid_argument("No server address given");
  Close();
  channel_.Tls = tls;
  channel_.ConnectTimeout = rules.ConnectTimeout;
  servers_ = servers;
  user_ = user;
  password_ = password;
  rules_ = rules;
  reconnects_ = 0;
  // Seeded here rather than per client: the connect benchmark makes a client per call.
  if (rules.RandomOrder) random_.seed(std::random_device{}());
  try {
    if (TryEachServer()) return;
  } catch (...) {
    servers_.clear();  // a refused login leaves nothing to reconnect to
    throw;
  }
  // One server keeps the connection's own message, as it always read.
  const std::string text =
      servers.size() == 1 ? last_failure_ : UnreachableText(1, std::chrono::milliseconds(0));
  servers_.clear();
  throw EDSConnectionError(text);
}

void TVelmoraClient::Close() {
  servers_.clear();
  channel_.Close();
}

bool TVelmoraClient::TryEachServer() {
  failures_.resize(servers_.size());
  std::vector<size_t> order(servers_.size());
  std::iota(order.begin(), order.end(), size_t{0});
  if (rules_.RandomOrder) std::shuffle(order.begin(), order.end(), random_);
  for (size_t i : order) {
    try {
      channel_.Connect(servers_[i].host, servers_[i].port, user_, password_);
      return true;
    } catch (const EDSLoginError&) {
      throw;  // the server answered: a refusal is not an outage
    } catch (const EDSConnectionError& e) {
      failures_[i] = e.what();
      last_failure_ = e.what();
    }
  }
  return false;
}

void TVelmoraClient::Reconnect() {
  using std::chrono::milliseconds;
  const auto start = std::chrono::steady_clock::now();
  std::fill(failures_.begin(), failures_.end(), std::string());
  int attempt = 0;
  for (;;) {
    if (TryEachServer()) {
      ++reconnects_;
      return;
    }
    ++attempt;
    const milliseconds delay = ReconnectDelay(rules_, attempt);
    const auto spent =
        std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);
    if (attempt >= rules_.MaxAttempts || spent + delay > rules_.GiveUp)
      throw EDSConnectionError(UnreachableText(attempt, spent));
    std::this_thread::sleep_for(delay);
  }
}

std::string TVelmoraClient::UnreachableText(int attempts, std::chrono::milliseconds spent) const {
  std::string tried;
  for (size_t i = 0; i < servers_.size(); ++i) {
    if (failures_[i].empty()) continue;
    if (!tried.empty()) tried += "; ";
    tried += fmt::format("{} ({})", FormatServerAddress(servers_[i]), failures_[i]);
  }
  return fmt::format("No server could be reached ({} attempt{} in {} ms); tried {}; last error: {}",
                     attempts, attempts == 1 ? "" : "s", spent.count(), tried, last_failure_);
}

void TVelmoraClient::EnsureConnected() {
  if (!channel_.PeerClosed()) return;
  channel_.Close();
  if (servers_.empty()) throw EDSConnectionError("The client is not connected");
  if (!rules_.Reconnect)
    throw EDSConnectionError(
        fmt::format("The connection to {} is closed and reconnecting is off; the call was not sent",
                    channel_.Peer()));
  Reconnect();
}

TDSCallResult TVelmoraClient::Invoke(std::string_view method, std::span<const OleVariant> args,
                                     TResend resend) {
  EnsureConnected();
  if (resend == TResend::Never || !rules_.RetryReads || !rules_.Reconnect)
    return channel_.Call(kServerModuleClass, method, args);
  try {
    return channel_.Call(kServerModuleClass, method, args);
  } catch (const EDSOutcomeUnknown&) {
    if (channel_.Interrupted()) throw;  // the caller cut it short: it stays unsent
    // A read changes nothing, so running it twice is harmless: once more on a fresh connection.
  }
  Reconnect();
  return channel_.Call(kServerModuleClass, method, args);
}

TDSCallResult TVelmoraClient::Call(std::string_view method, std::span<const OleVariant> args) {
  return Invoke(method, args, TResend::Never);
}

OleVariant TVelmoraClient::SQL2OleVariant(const std::string& sql, std::string& errMsg) {
  return SQL2OleVariant(sql, errMsg, TCallSafety::MayChangeData);
}

OleVariant TVelmoraClient::SQL2OleVariant(const std::string& sql, std::string& errMsg,
                                          TCallSafety safety) {
  const OleVariant args[] = {OleVariant(sql)};
  TDSCallResult r =
      Invoke("SQL2OleVariant", args,
             safety == TCallSafety::ReadOnly ? TResend::IfReadsMayRetry : TResend::Never);
  errMsg = OutText(r, 0, "SQL2OleVariant");
  return std::move(r.Result);
}

void TVelmoraClient::ExecSQL(const std::string& sql, std::string& errMsg) {
  const OleVariant args[] = {OleVariant(sql)};
  errMsg = OutText(Call("ExecSQL", args), 0, "ExecSQL");
}

void TVelmoraClient::UpdateSQL(const OleVariant& sqlList, std::string& errMsg) {
  const OleVariant args[] = {sqlList};
  errMsg = OutText(Call("UpdateSQL", args), 0, "UpdateSQL");
}

namespace {

OleVariant PackedInputs(const TParams& params) {
  OleVariant packed;
  Params2OleVariant(params, kAllParamTypes, packed);
  return packed;
}

}  // namespace

OleVariant TVelmoraClient::SQLParams2OleVariant(const std::string& sql, const TParams& params,
                                                std::string& errMsg) {
  const OleVariant args[] = {OleVariant(sql), PackedInputs(params)};
  TDSCallResult r = Call("SQLParams2OleVariant", args);
  errMsg = OutText(r, 0, "SQLParams2OleVariant");
  return std::move(r.Result);
}

int64_t TVelmoraClient::ExecSQLParamSets(const std::string& sql, std::span<const TParams> sets,
                                         std::vector<int64_t>& rowsPerSet, std::string& errMsg) {
  VariantArray packed;
  packed.items.reserve(sets.size());
  for (const TParams& set : sets) packed.items.push_back(PackedInputs(set));
  const OleVariant args[] = {OleVariant(sql), OleVariant(std::move(packed))};
  const TDSCallResult r = Call("ExecSQLParamSets", args);
  errMsg = OutText(r, 1, "ExecSQLParamSets");
  rowsPerSet.clear();
  const OleVariant& per_set = Out(r, 0, "ExecSQLParamSets");
  if (per_set.IsVariantArray()) {
    for (const OleVariant& n : per_set.Array().items) rowsPerSet.push_back(n.AsInt64());
  }
  return r.Result.IsEmpty() ? 0 : r.Result.AsInt64();
}

double TVelmoraClient::GetServerDateTime() {
  const TDSCallResult r = Invoke("GetServerDateTime", {}, TResend::IfReadsMayRetry);
  if (r.Result.VarType() == varDate) return r.Result.DateValue();
  return r.Result.AsDouble();
}

void TVelmoraClient::UpdateOleVariant(const std::string& updateTableName,
                                      const OleVariant& sourceOleVariant, std::string& errMsg) {
  const OleVariant args[] = {OleVariant(updateTableName), sourceOleVariant};
  errMsg = OutText(Call("UpdateOleVariant", args), 0, "UpdateOleVariant");
}

void TVelmoraClient::ApplyUpdates(TDataSet& table, const std::string& updateTableName,
                                  std::string& errMsg) {
  UpdateOleVariant(updateTableName, WriteDeltaPacket(table), errMsg);
}

OleVariant TVelmoraClient::StoredProc(const std::string& storedProcName,
                                      const OleVariant& inPutPack, OleVariant& outPutPack,
                                      std::string& errMsg, bool resultDataSet) {
  const OleVariant args[] = {OleVariant(storedProcName), inPutPack, OleVariant(resultDataSet)};
  TDSCallResult r = Call("StoredProc", args);
  outPutPack = Out(r, 0, "StoredProc");
  errMsg = OutText(r, 1, "StoredProc");
  return std::move(r.Result);
}

OleVariant TVelmoraClient::StoredProc(const std::string& storedProcName, TParams& params,
                                      std::string& errMsg, bool resultDataSet) {
  OleVariant in, out;
  Params2OleVariant(params, kAllParamTypes, in);
  OleVariant result = StoredProc(storedProcName, in, out, errMsg, resultDataSet);
  TParams outputs;
  OleVariant2Params(out, outputs);
  for (int i = 0; i < outputs.Count(); ++i) {
    // Every returned parameter was declared by name in `params`; the first of that name gets it.
    // One declared ftUnknown takes the type the server packed: a decimal travels as text, and
    // its value alone would make it a string.
    if (TParam* p = params.FindParam(outputs[i].Name); p != nullptr) {
      if (p->DataType == ftUnknown) p->DataType = outputs[i].DataType;
      p->SetValue(outputs[i].Value());
    }
  }
  return result;
}

bool TVelmoraClient::UploadFile(const OleVariant& fileOV, const std::string& fileName) {
  const OleVariant args[] = {fileOV, OleVariant(fileName)};
  return Call("UploadFile", args).Result.AsBoolean();
}

OleVariant TVelmoraClient::DownLoadFile(const std::string& fileName, int32_t& size) {
  const OleVariant args[] = {OleVariant(fileName)};
  TDSCallResult r = Invoke("DownLoadFile", args, TResend::IfReadsMayRetry);
  const OleVariant& out = Out(r, 0, "DownLoadFile");
  // Without a file the server leaves Size unassigned; what travels then means nothing.
  if (!r.Result.IsNull() && !out.IsEmpty() && !out.IsNull()) size = out.AsInteger();
  return std::move(r.Result);
}

int32_t TVelmoraClient::CheckUpload(std::string& fileName, std::string& fileTime,
                                    std::string& size) {
  const TDSCallResult r = Invoke("CheckUpload", {}, TResend::IfReadsMayRetry);
  fileName = OutText(r, 0, "CheckUpload");
  fileTime = OutText(r, 1, "CheckUpload");
  size = OutText(r, 2, "CheckUpload");
  return r.Result.AsInteger();
}

OleVariant TVelmoraClient::ReadData(const std::string& filePath, const std::string& fileName,
                                    std::string& errMsg) {
  const OleVariant args[] = {OleVariant(filePath), OleVariant(fileName)};
  TDSCallResult r = Invoke("ReadData", args, TResend::IfReadsMayRetry);
  errMsg = OutText(r, 0, "ReadData");
  return std::move(r.Result);
}

void TVelmoraClient::PostData(const OleVariant& fileOV, const std::string& filePath,
                              const std::string& fileName, std::string& errMsg) {
  const OleVariant args[] = {fileOV, OleVariant(filePath), OleVariant(fileName)};
  errMsg = OutText(Call("PostData", args), 0, "PostData");
}

void TVelmoraClient::DeleteData(const std::string& filePath, const std::string& fileName,
                                std::string& errMsg) {
  const OleVariant args[] = {OleVariant(filePath), OleVariant(fileName)};
  errMsg = OutText(Call("DeleteData", args), 0, "DeleteData");
}

}  // namespace velmora
