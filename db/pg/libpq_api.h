// The libpq functions the PostgreSQL driver calls, resolved at run time from libpq.so.5 (or the
// file db/core/client_libraries.h names for it).
//
// The rules:
// - The library is loaded when the first PostgreSQL connection opens, once per process, and never
//   unloaded; a machine without it still runs every other engine.
// - A missing library or function fails that connection's open with EFDException naming the
//   library file; the next open tries again.
// - libpq-fe.h is used for its types and declarations only: nothing is linked.
// - The pipeline functions (libpq 14 and later) and PQsendClosePrepared (libpq 17) are optional:
//   nullptr when the library is older.
#pragma once

#include <libpq-fe.h>

namespace velmora {

struct TLibPq {
  decltype(&::PQconnectdb) connectdb;
  decltype(&::PQfinish) finish;
  decltype(&::PQstatus) status;
  decltype(&::PQerrorMessage) errorMessage;
  decltype(&::PQsocket) socket;
  decltype(&::PQtransactionStatus) transactionStatus;
  decltype(&::PQsetNoticeProcessor) setNoticeProcessor;
  decltype(&::PQconninfoParse) conninfoParse;
  decltype(&::PQconninfoFree) conninfoFree;
  decltype(&::PQsendQueryParams) sendQueryParams;
  decltype(&::PQsendPrepare) sendPrepare;
  decltype(&::PQsendQueryPrepared) sendQueryPrepared;
  decltype(&::PQsendDescribePrepared) sendDescribePrepared;
  decltype(&::PQconsumeInput) consumeInput;
  decltype(&::PQisBusy) isBusy;
  decltype(&::PQgetResult) getResult;
  decltype(&::PQresultStatus) resultStatus;
  decltype(&::PQresultErrorMessage) resultErrorMessage;
  decltype(&::PQresultErrorField) resultErrorField;
  decltype(&::PQclear) clear;
  decltype(&::PQntuples) ntuples;
  decltype(&::PQnfields) nfields;
  decltype(&::PQfname) fname;
  decltype(&::PQftype) ftype;
  decltype(&::PQfmod) fmod;
  decltype(&::PQftable) ftable;
  decltype(&::PQftablecol) ftablecol;
  decltype(&::PQgetvalue) getvalue;
  decltype(&::PQgetlength) getlength;
  decltype(&::PQgetisnull) getisnull;
  decltype(&::PQcmdTuples) cmdTuples;
  decltype(&::PQcmdStatus) cmdStatus;
  decltype(&::PQgetCancel) getCancel;
  decltype(&::PQfreeCancel) freeCancel;
  decltype(&::PQcancel) cancel;
  decltype(&::PQparameterStatus) parameterStatus;
  // Optional (libpq 14 and later).
  decltype(&::PQenterPipelineMode) enterPipelineMode;
  decltype(&::PQexitPipelineMode) exitPipelineMode;
  decltype(&::PQpipelineSync) pipelineSync;
  // Optional (libpq 17 and later); declared here, as older headers lack it.
  int (*sendClosePrepared)(PGconn* conn, const char* name);
};

// The loaded table; raises EFDException when the library or one of its functions is missing.
const TLibPq& LibPq();

}  // namespace velmora
