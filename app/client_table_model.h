// The online-user table as the grid shows it: columns ID "用户ID", IP "用户IP地址" and LoginTime
// "登录时间" (local short date and long time), read-only, refreshed whenever the table changes.
#pragma once

#include <QAbstractTableModel>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <vector>

namespace velmora {

class TServiceController;

class TClientTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit TClientTableModel(TServiceController& service, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // A date-time value (days since 1899-12-30, local) as a QDateTime.
  static QDateTime ToQDateTime(double value);
  // A login time as the grid shows it: the locale's short date and long time, without the time
  // zone that Qt's long time format carries (the times are all local).
  static QString LoginTimeText(const QDateTime& time, const QLocale& locale);

 private:
  struct Row {
    QString id;
    QString ip;
    QDateTime login_time;
  };
  void Reload();

  TServiceController& service_;
  std::vector<Row> rows_;
};

}  // namespace velmora
