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

#include "db/core/connection.h"
#include "db/core/string_list.h"

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

// Raises EFDException, naming the parameter, when `value` holds a line break: DataBase.CFG keeps
// one parameter per line, so the rest would come back as a line of its own (another parameter).
void CheckOneLineValue(std::string_view name, std::string_view value);

// The parameter list of the Access dialog's test, with each field as typed (blanks, quotes and
// all): DriverID=MSAcc, User_Name, Password, Database, a parameter left out when its field is
// empty. Raises EFDException, naming the parameter and why, for a value that DataBase.CFG or the
// Access driver (MDB Tools, through ODBC) cannot carry as typed:
// - a line break anywhere (see CheckOneLineValue);
// - ";" anywhere: the driver splits its connection string at every ";" and knows no quoting;
// - "{" or "}" in the database path: ODBC's quoting of such a value is not the driver's;
// - a blank (space or tab) at the start of the database path: the driver drops it, and would look
//   for another file. Blanks at the end, and quotes, reach it as typed.
TStringList AccessParameters(std::string_view user, std::string_view password,
                             std::string_view database);

// Closes `connection`, replaces its parameters with the "Name=Value" pairs of `connection_string`
// (separated by ";", as TFDConnection::SetConnectionString reads them) and opens it. Raises the
// engine's or the data-access layer's error when it does not open; the connection is then closed.
void OpenWithConnectionString(TFDConnection& connection, std::string_view connection_string);
// Saves the parameters of `connection` to `path`, replacing the whole file, then closes the
// connection. Raises EFCreateError or EFileError when the file cannot be written (the connection
// stays as it was).
void SaveDatabaseConfig(TFDConnection& connection, const std::string& path);

}  // namespace velmora
