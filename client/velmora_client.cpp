#include "client/velmora_client.h"

#include <initializer_list>
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
  channel_.Tls = tls;
  channel_.Connect(host, port, user, password);
}

TDSCallResult TVelmoraClient::Call(std::string_view method, std::span<const OleVariant> args) {
  return channel_.Call(kServerModuleClass, method, args);
}

OleVariant TVelmoraClient::SQL2OleVariant(const std::string& sql, std::string& errMsg) {
  const OleVariant args[] = {OleVariant(sql)};
  TDSCallResult r = Call("SQL2OleVariant", args);
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

double TVelmoraClient::GetServerDateTime() {
  const TDSCallResult r = Call("GetServerDateTime", {});
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
  TDSCallResult r = Call("DownLoadFile", args);
  const OleVariant& out = Out(r, 0, "DownLoadFile");
  // Without a file the server leaves Size unassigned; what travels then means nothing.
  if (!r.Result.IsNull() && !out.IsEmpty() && !out.IsNull()) size = out.AsInteger();
  return std::move(r.Result);
}

int32_t TVelmoraClient::CheckUpload(std::string& fileName, std::string& fileTime,
                                    std::string& size) {
  const TDSCallResult r = Call("CheckUpload", {});
  fileName = OutText(r, 0, "CheckUpload");
  fileTime = OutText(r, 1, "CheckUpload");
  size = OutText(r, 2, "CheckUpload");
  return r.Result.AsInteger();
}

OleVariant TVelmoraClient::ReadData(const std::string& filePath, const std::string& fileName,
                                    std::string& errMsg) {
  const OleVariant args[] = {OleVariant(filePath), OleVariant(fileName)};
  TDSCallResult r = Call("ReadData", args);
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
