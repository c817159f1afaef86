#include "maintenance/dialogs/database_setting.h"

#include <exception>

#include "common/app_path.h"
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
