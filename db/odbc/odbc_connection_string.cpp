#include "db/odbc/odbc_connection_string.h"

#include <fmt/core.h>
#include <unistd.h>

#include <array>
#include <cstdint>

#include "db/core/db_error.h"
#include "db/core/engine_connection.h"
#include "variant/variant_text.h"

namespace velmora {
namespace {

enum class TEngine { kMSSQL, kMSAcc, kGeneric };

// Where Debian and other distributions put an ODBC driver library that odbcinst.ini may not
// list (a driver package installed without registering itself).
constexpr std::array<std::string_view, 4> kDriverFolders{"/usr/lib/x86_64-linux-gnu/odbc/",
                                                         "/usr/lib/aarch64-linux-gnu/odbc/",
                                                         "/usr/lib/odbc/", "/usr/local/lib/"};

struct TDefaultDriver {
  std::string_view name;
  std::string_view library;
};

// The parameters the mapping itself reads; every other Name=Value line passes through.
constexpr std::array<std::string_view, 10> kMappedKeys{
    "DriverID",  "Server",     "Database",   "User_Name",    "Password",
    "OSAuthent", "ODBCDriver", "DataSource", "ODBCAdvanced", "LoginTimeout"};

bool IsMappedKey(std::string_view name) {
  for (std::string_view key : kMappedKeys) {
    if (EqualsNoCase(name, key)) return true;
  }
  return false;
}

std::string DriverLibraryPath(std::string_view library) {
  for (std::string_view folder : kDriverFolders) {
    std::string path = std::string(folder) + std::string(library);
    if (::access(path.c_str(), R_OK) == 0) return path;
  }
  return std::string(kDriverFolders[0]) + std::string(library);
}

// The Driver= value: ODBCDriver as written, else the engine's default when the driver manager
// knows it, else the default driver's library.
std::string DriverValue(const TStringList& params, const TDefaultDriver& fallback,
                        const TOdbcDriverRegistered& registered) {
  std::string named = params.Values("ODBCDriver");
  if (!named.empty()) return named;
  if (registered && registered(fallback.name)) return std::string(fallback.name);
  return DriverLibraryPath(fallback.library);
}

class TBuilder {
 public:
  void Add(std::string_view key, std::string_view value) {
    if (value.empty()) return;
    if (!text_.empty()) text_ += ';';
    text_ += key;
    text_ += '=';
    text_ += QuoteOdbcValue(value);
  }
  // A driver name is always braced: registered names hold blanks ("PostgreSQL Unicode").
  void AddDriver(std::string_view value) {
    if (!text_.empty()) text_ += ';';
    text_ += "Driver=";
    text_ += value.find_first_of(";{}") == std::string_view::npos ? fmt::format("{{{}}}", value)
                                                                  : QuoteOdbcValue(value);
  }
  void AddRaw(std::string_view text) {
    while (!text.empty() && (text.front() == ';' || text.front() == ' ')) text.remove_prefix(1);
    if (text.empty()) return;
    if (!text_.empty()) text_ += ';';
    text_ += text;
  }
  std::string Take() { return std::move(text_); }

 private:
  std::string text_;
};

// "(local)", "." and "" are this machine; "tcp:" is dropped; "host,port" is split.
void AddSqlServer(TBuilder& out, std::string server) {
  if (server.size() > 4 && EqualsNoCase(std::string_view(server).substr(0, 4), "tcp:"))
    server.erase(0, 4);
  std::string port;
  if (const size_t comma = server.find(','); comma != std::string::npos) {
    port = server.substr(comma + 1);
    server.resize(comma);
  }
  std::string instance;
  if (const size_t slash = server.find('\\'); slash != std::string::npos) {
    instance = server.substr(slash);
    server.resize(slash);
  }
  if (server.empty() || server == "." || EqualsNoCase(server, "(local)")) server = "127.0.0.1";
  out.Add("Server", server + instance);
  out.Add("Port", port);
}

TEngine EngineOf(const TStringList& params) {
  const std::string id = params.Values("DriverID");
  if (EqualsNoCase(id, "MSSQL")) return TEngine::kMSSQL;
  if (EqualsNoCase(id, "MSAcc")) return TEngine::kMSAcc;
  return TEngine::kGeneric;
}

int LoginTimeout(const TStringList& params) {
  const std::string text = params.Values("LoginTimeout");
  if (text.empty()) return 10;
  int64_t seconds = 0;
  if (!ParseInteger(text, seconds) || seconds < 0 || seconds > 3600) {
    throw EFDException(
        fmt::format("Invalid value [{}] of connection parameter LoginTimeout", text));
  }
  return static_cast<int>(seconds);
}

}  // namespace

std::string QuoteOdbcValue(std::string_view value) {
  if (value.find_first_of(";{}") == std::string_view::npos) return std::string(value);
  std::string out = "{";
  for (char c : value) {
    out += c;
    if (c == '}') out += '}';
  }
  out += '}';
  return out;
}

TOdbcConnectTarget BuildOdbcConnectTarget(const TStringList& params,
                                          const TOdbcDriverRegistered& registered) {
  TOdbcConnectTarget target;
  target.login_timeout_seconds = LoginTimeout(params);
  TBuilder out;
  bool free_tds = false;
  bool psql = false;
  switch (EngineOf(params)) {
    case TEngine::kMSSQL: {
      out.AddDriver(DriverValue(params, {"FreeTDS", "libtdsodbc.so"}, registered));
      AddSqlServer(out, params.Values("Server"));
      out.Add("Database", params.Values("Database"));
      if (EqualsNoCase(params.Values("OSAuthent"), "Yes")) {
        out.Add("Trusted_Connection", "Yes");
      } else {
        out.Add("UID", params.Values("User_Name"));
        out.Add("PWD", params.Values("Password"));
      }
      const std::string named = params.Values("ODBCDriver");
      free_tds = named.empty() || named.find("FreeTDS") != std::string::npos ||
                 named.find("tdsodbc") != std::string::npos;
      break;
    }
    case TEngine::kMSAcc: {
      const std::string file = RequiredDatabase(params);
      out.AddDriver(DriverValue(params, {"MDBTools", "libmdbodbc.so"}, registered));
      out.Add("DBQ", file);
      out.Add("UID", params.Values("User_Name"));
      out.Add("PWD", params.Values("Password"));
      break;
    }
    case TEngine::kGeneric: {
      const std::string driver = params.Values("ODBCDriver");
      const std::string source = params.Values("DataSource");
      if (driver.empty() && source.empty())
        throw EFDException("Connection parameter ODBCDriver or DataSource is missing");
      out.Add("DSN", source);
      if (!driver.empty()) out.AddDriver(driver);
      out.Add("Server", params.Values("Server"));
      out.Add("Database", params.Values("Database"));
      out.Add("UID", params.Values("User_Name"));
      out.Add("PWD", params.Values("Password"));
      psql = driver.find("PostgreSQL") != std::string::npos ||
             driver.find("psqlodbc") != std::string::npos;
      break;
    }
  }
  for (int i = 0; i < params.Count(); ++i) {
    const std::string name = params.Names(i);
    if (name.empty() || IsMappedKey(name) || params.IndexOfName(name) != i) continue;
    out.Add(name, params.ValueFromIndex(i));
  }
  if (free_tds) {
    // FreeTDS's own defaults that the file does not override: text as UTF-8, and a fixed
    // protocol version (SQL Server 2012 and later), because its automatic choice waits for a
    // silent server without any time-out.
    if (params.IndexOfName("ClientCharset") < 0) out.Add("ClientCharset", "UTF-8");
    if (params.IndexOfName("TDS_Version") < 0) out.Add("TDS_Version", "7.4");
  }
  // PostgreSQL's driver describes booleans as text unless told otherwise.
  if (psql && params.IndexOfName("BoolsAsChar") < 0) out.Add("BoolsAsChar", "0");
  // And a failed statement undoes itself only (the driver's "statement" level of rollback on
  // errors, a savepoint before each statement in a transaction): the transaction goes on, as on
  // every other engine, where a "transaction" level would drop the statements before it and a
  // "nop" level would leave the session in an aborted transaction.
  if (psql && params.IndexOfName("Protocol") < 0) out.Add("Protocol", "7.4-2");
  out.AddRaw(params.Values("ODBCAdvanced"));
  target.connection_string = out.Take();
  return target;
}

}  // namespace velmora
