#include "db/odbc/odbc_api.h"

#include <dlfcn.h>

#include "db/core/client_libraries.h"

namespace velmora {
namespace {

void Fill(const TOpenedLibrary& library, TOdbcApi& a) {
#define VELMORA_RESOLVE(name) library.Resolve(#name, a.name)
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
}

}  // namespace

const TOdbcApi& OdbcApi() {
  // RTLD_GLOBAL: the drivers the manager loads resolve its functions through the global scope.
  static TClientLibraryApi<TOdbcApi> library(
      ClientLibrary::kOdbc, RTLD_NOW | RTLD_GLOBAL,
      {"Cannot load the ODBC driver manager {}: {}", "{} has no function {}"}, &Fill);
  return library.Get();
}

}  // namespace velmora
