#include "app/client_table_model.h"

#include <QLocale>

#include "app/service_controller.h"
#include "variant/ole_date.h"

namespace velmora {

TClientTableModel::TClientTableModel(TServiceController& service, QObject* parent)
    : QAbstractTableModel(parent), service_(service) {
  connect(&service_, &TServiceController::ClientsChanged, this, &TClientTableModel::Reload);
  Reload();
}

QDateTime TClientTableModel::ToQDateTime(double value) {
  const DateTimeParts p = DecodeDateTime(value);
  return QDateTime(QDate(p.year, p.month, p.day), QTime(p.hour, p.minute, p.second, p.millisecond));
}

QString TClientTableModel::LoginTimeText(const QDateTime& time, const QLocale& locale) {
  // The zone is the letter t outside quoted text ('...' is literal in a format).
  QString format;
  bool quoted = false;
  for (const QChar c : locale.timeFormat(QLocale::LongFormat)) {
    if (c == QLatin1Char('\'')) quoted = !quoted;
    if (!quoted && c == QLatin1Char('t')) continue;
    format += c;
  }
  return locale.toString(time.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
         locale.toString(time.time(), format.simplified());
}

void TClientTableModel::Reload() {
  beginResetModel();
  rows_.clear();
  TFDMemTable& table = service_.Clients();
  for (table.First(); !table.Eof(); table.Next()) {
    rows_.push_back({QString::fromStdString(table.FieldByName("ID").AsString()),
                     QString::fromStdString(table.FieldByName("IP").AsString()),
                     ToQDateTime(table.FieldByName("LoginTime").AsFloat())});
  }
  endResetModel();
}

int TClientTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TClientTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : 3;
}

QVariant TClientTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || role != Qt::DisplayRole) return {};
  const auto row = static_cast<size_t>(index.row());
  if (row >= rows_.size()) return {};
  const Row& r = rows_[row];
  switch (index.column()) {
    case 0:
      return r.id;
    case 1:
      return r.ip;
    case 2:
      return LoginTimeText(r.login_time, QLocale());
    default:
      return {};
  }
}

QVariant TClientTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case 0:
      return QStringLiteral("用户ID");
    case 1:
      return QStringLiteral("用户IP地址");
    case 2:
      return QStringLiteral("登录时间");
    default:
      return {};
  }
}

Qt::ItemFlags TClientTableModel::flags(const QModelIndex& index) const {
  return index.isValid() ? (Qt::ItemIsSelectable | Qt::ItemIsEnabled) : Qt::NoItemFlags;
}

}  // namespace velmora
