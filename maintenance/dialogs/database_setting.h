// DataBase.CFG as the operator sets it: where it lies, how its parameters are shown (never with the
// password in clear), and the test that saves it, shared by the connection dialogs and by the
// headless `--set-database`.
//
// The rules:
// - The file is saved only after a connection with its parameters has opened; a refused test
//   leaves it byte for byte as it was.
// - Wherever parameters are shown, a password shows as "Password=********", whatever its length.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "db/connection.h"
#include "db/string_list.h"

namespace velmora {

inline constexpr std::string_view kDatabaseConfigFileName = "DataBase.CFG";
inline constexpr std::string_view kMaskedPasswordLine = "Password=********";
// The first line of a summary after a test: it opened, or it was refused (then the error's
// message follows).
inline constexpr std::string_view kConnectSucceeded = "连接成功";
inline constexpr std::string_view kConnectRefused = "连接参数错误";

// AppPath() + "DataBase.CFG".
std::string DatabaseConfigPath();

// The summary of a loaded parameter list: "DriverID=" + the driver; "User_Name=" + the user when
// set; the masked password when one is set; "OSAuthent=" and "Server=" + their values when set;
// "Database=" + the database always. Other lines are not shown.
std::vector<std::string> ParameterSummary(const TStringList& params);
// Every line of `params`, in order, with a Password line (any case of the name) masked.
std::vector<std::string> MaskedParameterLines(const TStringList& params);

// Closes `connection`, replaces its parameters with the "Name=Value" pairs of `connection_string`
// (separated by ";", as TFDConnection::SetConnectionString reads them) and opens it. Raises the
// engine's or the data-access layer's error when it does not open; the connection is then closed.
void OpenWithConnectionString(TFDConnection& connection, std::string_view connection_string);
// Saves the parameters of `connection` to `path`, replacing the whole file, then closes the
// connection. Raises EFCreateError or EFileError when the file cannot be written (the connection
// stays as it was).
void SaveDatabaseConfig(TFDConnection& connection, const std::string& path);

}  // namespace velmora
