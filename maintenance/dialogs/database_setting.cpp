#include "maintenance/dialogs/database_setting.h"

#include <fmt/core.h>

#include <exception>
#include <utility>

#include "common/app_path.h"
#include "db/core/db_error.h"
#include "variant/variant_text.h"

namespace velmora {

std::string DatabaseConfigPath() {
  return AppPath() + std::string(kDatabaseConfigFileName);
}

std::vector<std::string> ParameterSummary(const TStringList& params) {
  std::vector<std::string> lines;
  lines.push_back("DriverID=" + params.Values("DriverID"));
  const std::string user = params.Values("User_Name");
  if (!user.empty()) lines.push_back("User_Name=" + user);
  if (!params.Values("Password").empty()) lines.emplace_back(kMaskedPasswordLine);
  const std::string os_authent = params.Values("OSAuthent");
  if (!os_authent.empty()) lines.push_back("OSAuthent=" + os_authent);
  const std::string server = params.Values("Server");
  if (!server.empty()) lines.push_back("Server=" + server);
  lines.push_back("Database=" + params.Values("Database"));
  return lines;
}

std::vector<std::string> MaskedParameterLines(const TStringList& params) {
  std::vector<std::string> lines;
  lines.reserve(static_cast<size_t>(params.Count()));
  for (int i = 0; i < params.Count(); ++i) {
    if (EqualsNoCase(params.Names(i), "Password")) {
      lines.emplace_back(kMaskedPasswordLine);
    } else {
      lines.push_back(params[i]);
    }
  }
  return lines;
}

void CheckOneLineValue(std::string_view name, std::string_view value) {
  if (value.find_first_of("\r\n") != std::string_view::npos) {
    throw EFDException(fmt::format(
        "Connection parameter {} cannot hold a line break: DataBase.CFG keeps one parameter per "
        "line",
        name));
  }
}

TStringList AccessParameters(std::string_view user, std::string_view password,
                             std::string_view database) {
  const std::pair<std::string_view, std::string_view> fields[] = {
      {"User_Name", user}, {"Password", password}, {"Database", database}};
  for (const auto& [name, value] : fields) {
    CheckOneLineValue(name, value);
    if (value.find(';') != std::string_view::npos) {
      throw EFDException(fmt::format(
          "Connection parameter {} cannot hold \";\": the Access driver splits its connection "
          "string at every \";\" and knows no quoting",
          name));
    }
  }
  if (database.find_first_of("{}") != std::string_view::npos) {
    throw EFDException(
        "Connection parameter Database cannot hold \"{\" or \"}\": the Access driver reads "
        "ODBC's braces as part of the file name");
  }
  if (!database.empty() && (database.front() == ' ' || database.front() == '\t')) {
    throw EFDException(
        "Connection parameter Database cannot begin with a blank: the Access driver drops it and "
        "would look for another file");
  }
  TStringList params;
  params.SetValue("DriverID", "MSAcc");
  for (const auto& [name, value] : fields) params.SetValue(name, value);  // empty: left out
  return params;
}

void OpenWithConnectionString(TFDConnection& connection, std::string_view connection_string) {
  connection.Close();
  connection.SetConnectionString(connection_string);
  connection.LoginPrompt = false;
  try {
    connection.Open();
  } catch (const std::exception&) {
    connection.Close();
    throw;
  }
}

void SaveDatabaseConfig(TFDConnection& connection, const std::string& path) {
  connection.Params().SaveToFile(path);
  connection.Close();
}

}  // namespace velmora
