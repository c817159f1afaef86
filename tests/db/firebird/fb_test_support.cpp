#include "tests/db/firebird/fb_test_support.h"

#include <stdexcept>

#include "db/firebird/fb_api.h"
#include "db/firebird/fb_connection.h"

// LeakSanitizer's defaults for the Firebird test programs: thread-local storage is not scanned.
// The embedded engine's modules carry thread-local storage and are loaded and unloaded by the
// client library's plugin manager; LeakSanitizer's record of dynamic thread-local blocks then goes
// stale and its scan at exit crashes now and then ("Tracer caught signal 11", seen with this
// GCC 12 runtime on processes that opened many databases). Not scanning it can only report more
// leaks, never hide one.
extern "C" const char* __lsan_default_options() {
  return "use_tls=0";
}

namespace velmora::test {

void CreateFbDatabase(const std::string& path) {
  const TFbApi& api = FbApi();
  ISC_STATUS_ARRAY status{};
  isc_db_handle db = 0;
  isc_tr_handle tr = 0;
  const std::string sql =
      "CREATE DATABASE '" + path + "' USER 'SYSDBA' PAGE_SIZE 8192 DEFAULT CHARACTER SET UTF8";
  if (api.isc_dsql_execute_immediate(status, &db, &tr, 0, sql.c_str(), SQL_DIALECT_V6, nullptr))
    throw std::runtime_error(FbErrorText(api, status));
  if (api.isc_detach_database(status, &db)) throw std::runtime_error(FbErrorText(api, status));
}

void SetFbParams(TStringList& params, const std::string& path) {
  params.SetValue("DriverID", "FB");
  params.SetValue("Database", path);
  params.SetValue("User_Name", "SYSDBA");
}

void FbTest::SetUp() {
  CreateFbDatabase(db_path_);
  SetFbParams(connection_.Params(), db_path_);
  connection_.Open();
}

std::string FbTest::Scalar(const std::string& sql) {
  TFDQuery q;
  q.SetConnection(&connection_);
  q.SQL().SetText(sql);
  q.Open();
  return q.Fields(0).AsString();
}

void FbTest::Exec(const std::string& sql) {
  TFDQuery q;
  q.SetConnection(&connection_);
  q.SQL().SetText(sql);
  q.ExecSQL();
}

}  // namespace velmora::test
