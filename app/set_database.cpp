#include "app/set_database.h"

#include <exception>
#include <string>

#include "db/core/connection.h"
#include "maintenance/dialogs/database_setting.h"

namespace velmora {

namespace {

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

CommandOutcome SetDatabase(const QString& connection_string, const std::function<void()>& restart) {
  TFDConnection connection;
  try {
    OpenWithConnectionString(connection, connection_string.toStdString());
  } catch (const std::exception& e) {
    return {1, FromUtf8(kConnectRefused) + QLatin1Char('\n') + QString::fromUtf8(e.what())};
  }
  try {
    SaveDatabaseConfig(connection, DatabaseConfigPath());
  } catch (const std::exception& e) {
    return {1, QString::fromUtf8(e.what())};
  }
  QString text = FromUtf8(kConnectSucceeded);
  for (const std::string& line : MaskedParameterLines(connection.Params())) {
    text += QLatin1Char('\n') + QString::fromStdString(line);
  }
  if (!restart) {
    return {0, text + QStringLiteral("\nNo copy of the server runs for this folder: it uses these "
                                     "settings when it starts.")};
  }
  try {
    restart();
  } catch (const std::exception& e) {
    return {1, QString::fromStdString(DatabaseConfigPath()) +
                   QStringLiteral(" was saved, but the service did not start again: ") +
                   QString::fromUtf8(e.what())};
  }
  return {0, text + QStringLiteral("\nThe service restarted with these settings.")};
}

}  // namespace velmora
