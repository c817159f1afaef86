#include "db/odbc/odbc_api.h"

#include <dlfcn.h>
#include <fmt/core.h>

#include <string>

#include "db/core/client_libraries.h"
#include "db/core/db_error.h"

namespace velmora {
namespace {

struct TLoaded {
  TOdbcApi api;
  std::string error;  // empty when every function was found
};

template <typename Fn>
bool Resolve(void* library, const std::string& file, const char* name, Fn& out,
             std::string& error) {
  void* symbol = dlsym(library, name);
  if (symbol == nullptr) {
    error = fmt::format("{} has no function {}", file, name);
    return false;
  }
  out = reinterpret_cast<Fn>(symbol);
  return true;
}

TLoaded Load() {
  TLoaded loaded;
  const std::string file = ClientLibraryFile(ClientLibrary::kOdbc);
  // Never closed: drivers the manager loads keep pointers into it for the life of the process.
  void* library = dlopen(file.c_str(), RTLD_NOW | RTLD_GLOBAL);
  if (library == nullptr) {
    const char* why = dlerror();
    loaded.error = fmt::format("Cannot load the ODBC driver manager {}: {}", file,
                               why != nullptr ? why : "unknown error");
    return loaded;
  }
  TOdbcApi& a = loaded.api;
  std::string& e = loaded.error;
#define VELMORA_RESOLVE(name) \
  if (!Resolve(library, file, #name, a.name, e)) return loaded
  VELMORA_RESOLVE(SQLAllocHandle);
  VELMORA_RESOLVE(SQLFreeHandle);
  VELMORA_RESOLVE(SQLSetEnvAttr);
  VELMORA_RESOLVE(SQLSetConnectAttr);
  VELMORA_RESOLVE(SQLGetConnectAttr);
  VELMORA_RESOLVE(SQLDriverConnect);
  VELMORA_RESOLVE(SQLDisconnect);
  VELMORA_RESOLVE(SQLDrivers);
  VELMORA_RESOLVE(SQLGetDiagRec);
  VELMORA_RESOLVE(SQLGetInfo);
  VELMORA_RESOLVE(SQLGetFunctions);
  VELMORA_RESOLVE(SQLEndTran);
  VELMORA_RESOLVE(SQLExecDirect);
  VELMORA_RESOLVE(SQLBindParameter);
  VELMORA_RESOLVE(SQLNumResultCols);
  VELMORA_RESOLVE(SQLDescribeCol);
  VELMORA_RESOLVE(SQLColAttribute);
  VELMORA_RESOLVE(SQLFetch);
  VELMORA_RESOLVE(SQLGetData);
  VELMORA_RESOLVE(SQLMoreResults);
  VELMORA_RESOLVE(SQLRowCount);
  VELMORA_RESOLVE(SQLCancel);
  VELMORA_RESOLVE(SQLFreeStmt);
  VELMORA_RESOLVE(SQLPrimaryKeys);
#undef VELMORA_RESOLVE
  return loaded;
}

}  // namespace

const TOdbcApi& OdbcApi() {
  static const TLoaded loaded = Load();  // once for the process, under the static's own lock
  if (!loaded.error.empty()) throw EFDException(loaded.error);
  return loaded.api;
}

}  // namespace velmora
