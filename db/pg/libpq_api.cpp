#include "db/pg/libpq_api.h"

#include <dlfcn.h>

#include "db/core/client_libraries.h"

namespace velmora {
namespace {

void Fill(const TOpenedLibrary& library, TLibPq& api) {
#define VELMORA_PQ(field, name) library.Resolve(#name, api.field)
  VELMORA_PQ(connectdb, PQconnectdb);
  VELMORA_PQ(finish, PQfinish);
  VELMORA_PQ(status, PQstatus);
  VELMORA_PQ(errorMessage, PQerrorMessage);
  VELMORA_PQ(socket, PQsocket);
  VELMORA_PQ(transactionStatus, PQtransactionStatus);
  VELMORA_PQ(setNoticeProcessor, PQsetNoticeProcessor);
  VELMORA_PQ(conninfoParse, PQconninfoParse);
  VELMORA_PQ(conninfoFree, PQconninfoFree);
  VELMORA_PQ(sendQueryParams, PQsendQueryParams);
  VELMORA_PQ(sendPrepare, PQsendPrepare);
  VELMORA_PQ(sendQueryPrepared, PQsendQueryPrepared);
  VELMORA_PQ(sendDescribePrepared, PQsendDescribePrepared);
  VELMORA_PQ(consumeInput, PQconsumeInput);
  VELMORA_PQ(isBusy, PQisBusy);
  VELMORA_PQ(getResult, PQgetResult);
  VELMORA_PQ(resultStatus, PQresultStatus);
  VELMORA_PQ(resultErrorMessage, PQresultErrorMessage);
  VELMORA_PQ(resultErrorField, PQresultErrorField);
  VELMORA_PQ(clear, PQclear);
  VELMORA_PQ(ntuples, PQntuples);
  VELMORA_PQ(nfields, PQnfields);
  VELMORA_PQ(fname, PQfname);
  VELMORA_PQ(ftype, PQftype);
  VELMORA_PQ(fmod, PQfmod);
  VELMORA_PQ(ftable, PQftable);
  VELMORA_PQ(ftablecol, PQftablecol);
  VELMORA_PQ(getvalue, PQgetvalue);
  VELMORA_PQ(getlength, PQgetlength);
  VELMORA_PQ(getisnull, PQgetisnull);
  VELMORA_PQ(cmdTuples, PQcmdTuples);
  VELMORA_PQ(cmdStatus, PQcmdStatus);
  VELMORA_PQ(getCancel, PQgetCancel);
  VELMORA_PQ(freeCancel, PQfreeCancel);
  VELMORA_PQ(cancel, PQcancel);
  VELMORA_PQ(parameterStatus, PQparameterStatus);
#undef VELMORA_PQ
  library.ResolveIfPresent("PQenterPipelineMode", api.enterPipelineMode);
  library.ResolveIfPresent("PQexitPipelineMode", api.exitPipelineMode);
  library.ResolveIfPresent("PQpipelineSync", api.pipelineSync);
  if (api.enterPipelineMode == nullptr || api.exitPipelineMode == nullptr ||
      api.pipelineSync == nullptr) {
    api.enterPipelineMode = nullptr;  // all or none
  }
  library.ResolveIfPresent("PQsendClosePrepared", api.sendClosePrepared);
}

}  // namespace

const TLibPq& LibPq() {
  static TClientLibraryApi<TLibPq> library(ClientLibrary::kPostgreSql, RTLD_NOW | RTLD_LOCAL,
                                           {"Cannot load the PostgreSQL client library {}: {}",
                                            "The PostgreSQL client library {} has no function {}"},
                                           &Fill);
  return library.Get();
}

}  // namespace velmora
