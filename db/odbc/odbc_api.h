// The unixODBC driver manager (libodbc.so.2, or the file db/core/client_libraries.h names for it),
// loaded with dlopen when the first ODBC connection opens and never unloaded. sql.h and sqlext.h
// give the types and declarations only; every call goes through the table below.
#pragma once

#include <sql.h>
#include <sqlext.h>

namespace velmora {

struct TOdbcApi {
#define VELMORA_ODBC_FN(name) decltype(&::name) name = nullptr
  VELMORA_ODBC_FN(SQLAllocHandle);
  VELMORA_ODBC_FN(SQLFreeHandle);
  VELMORA_ODBC_FN(SQLSetEnvAttr);
  VELMORA_ODBC_FN(SQLSetConnectAttr);
  VELMORA_ODBC_FN(SQLGetConnectAttr);
  VELMORA_ODBC_FN(SQLDriverConnect);
  VELMORA_ODBC_FN(SQLDisconnect);
  VELMORA_ODBC_FN(SQLDrivers);
  VELMORA_ODBC_FN(SQLGetDiagRec);
  VELMORA_ODBC_FN(SQLGetInfo);
  VELMORA_ODBC_FN(SQLGetFunctions);
  VELMORA_ODBC_FN(SQLEndTran);
  VELMORA_ODBC_FN(SQLExecDirect);
  VELMORA_ODBC_FN(SQLBindParameter);
  VELMORA_ODBC_FN(SQLNumResultCols);
  VELMORA_ODBC_FN(SQLDescribeCol);
  VELMORA_ODBC_FN(SQLColAttribute);
  VELMORA_ODBC_FN(SQLFetch);
  VELMORA_ODBC_FN(SQLGetData);
  VELMORA_ODBC_FN(SQLMoreResults);
  VELMORA_ODBC_FN(SQLRowCount);
  VELMORA_ODBC_FN(SQLCancel);
  VELMORA_ODBC_FN(SQLFreeStmt);
  VELMORA_ODBC_FN(SQLPrimaryKeys);
#undef VELMORA_ODBC_FN
};

// The loaded driver manager. The first call loads it (once, for the process); raises
// EFDException naming the library when it or one of its functions cannot be loaded, on this call
// and every later one.
const TOdbcApi& OdbcApi();

}  // namespace velmora
