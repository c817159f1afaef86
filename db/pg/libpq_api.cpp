#include "db/pg/libpq_api.h"

#include <dlfcn.h>
#include <fmt/core.h>

#include <mutex>
#include <string>

#include "db/core/client_libraries.h"
#include "db/core/db_error.h"

namespace velmora {
namespace {

template <typename F>
void Resolve(void* library, const std::string& file, const char* name, F& out) {
  void* symbol = dlsym(library, name);
  if (symbol == nullptr) {
    throw EFDException(
        fmt::format("The PostgreSQL client library {} has no function {}", file, name));
  }
  out = reinterpret_cast<F>(symbol);
}

TLibPq Load() {
  const std::string file = ClientLibraryFile(ClientLibrary::kPostgreSql);
  void* library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* why = dlerror();
    throw EFDException(fmt::format("Cannot load the PostgreSQL client library {}: {}", file,
                                   why != nullptr ? why : "not found"));
  }
  TLibPq api{};
  try {
#define VELMORA_PQ(field, name) Resolve(library, file, #name, api.field)
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
#undef VELMORA_PQ
  } catch (...) {
    dlclose(library);
    throw;
  }
  return api;  // the library stays loaded for the life of the process
}

}  // namespace

const TLibPq& LibPq() {
  static std::mutex mutex;
  static TLibPq api{};
  static bool loaded = false;
  std::lock_guard lock(mutex);
  if (!loaded) {
    api = Load();
    loaded = true;
  }
  return api;
}

}  // namespace velmora
