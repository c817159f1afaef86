// The main window: its controls, the settings it loads and saves, start and stop, closing and the
// tray.
#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSpinBox>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTcpServer>
#include <QTimer>
#include <QToolButton>
#include <filesystem>

#include "app/client_table_model.h"
#include "app/config/server_config.h"
#include "app/radio_group.h"
#include "tests/app/shell_fixture.h"
#include "tests/support/http_get.h"

namespace velmora::test {
namespace {

TEST(ErrorReportText, FullStopAfterCharactersAboveTheFullStop) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"Port in use", "Port in use."},
      {"done.", "done."},
      {"a-", "a-"},
      {"what?", "what?."},
      {"x!", "x!"},
      {"", ""},
      {"端口被占用", "端口被占用."},
      {"code 7", "code 7."},
      {"(1)", "(1)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ErrorReportText(QString::fromUtf8(c.in)), QString::fromUtf8(c.out)) << c.in;
  }
}

TEST(PortFromText, DecimalOrTheDefault) {
  const struct {
    const char* text;
    int port;
  } cases[] = {{"211", 211},  {"8080", 8080}, {"abc", 211}, {"", 211},
               {"12ab", 211}, {"0x20", 211},  {"-5", -5}};
  for (const auto& c : cases) {
    EXPECT_EQ(TServiceController::PortFromText(QString::fromLatin1(c.text)), c.port) << c.text;
  }
}

TEST(LogLine, TimeStampThenArrowsThenText) {
  const QString line = TServiceController::LogLineFor(QStringLiteral("服务启动完成"));
  EXPECT_TRUE(QRegularExpression(
                  QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d>>>服务启动完成$"))
                  .match(line)
                  .hasMatch())
      << line.toStdString();
}

// The window serves the same monitoring endpoints as the headless program when CONFIG.CFG asks
// for them; /health follows the window's service (here without any DataBase.CFG, so a started
// service is still unhealthy, for its database).
TEST_F(ShellTest, MetricsSectionStartsTheMonitoringEndpointsBesideTheWindow) {
  const int metrics_port = FreePort();
  WriteConfigWithFreePort("[Metrics]\r\nPort=" + std::to_string(metrics_port) + "\r\n");
  CreateWindow();
  ASSERT_TRUE(service_->Started());
  EXPECT_TRUE(WaitUntil([&] {
    return LogCount(QStringLiteral("Metrics and health: http://127.0.0.1:%1/metrics and /health")
                        .arg(metrics_port)) == 1;
  }));
  const HttpReply metrics = Get(metrics_port, "/metrics");
  EXPECT_EQ(metrics.status, 200);
  EXPECT_NE(metrics.body.find("velmora_connections_accepted_total"), std::string::npos);
  const HttpReply started = Get(metrics_port, "/health");
  EXPECT_EQ(started.status, 503);
  EXPECT_EQ(started.body.find("the service is stopped"), std::string::npos) << started.body;
  Find<QToolButton>("B_Stop")->click();
  ASSERT_FALSE(service_->Started());
  const HttpReply stopped = Get(metrics_port, "/health");
  EXPECT_EQ(stopped.status, 503);
  EXPECT_NE(stopped.body.find("the service is stopped"), std::string::npos) << stopped.body;
}

TEST_F(ShellTest, AMetricsPortThatIsTakenIsLoggedAndTheServiceRunsOn) {
  QTcpServer taken;
  ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
  WriteConfigWithFreePort("[Metrics]\r\nPort=" + std::to_string(taken.serverPort()) + "\r\n");
  CreateWindow();
  EXPECT_TRUE(service_->Started());
  EXPECT_TRUE(notices_.empty());
  EXPECT_TRUE(WaitUntil([&] {
    for (const QString& line : LogLines()) {
      if (line.contains(QString::number(taken.serverPort())) && !line.contains("Metrics and"))
        return true;
    }
    return false;
  })) << LogLines().join('\n').toStdString();
}

TEST_F(ShellTest, ControlsPagesAndCaptions) {
  WriteConfigWithFreePort();
  CreateWindow();
  // The designed client area holds the toolbar and the status bar too.
  EXPECT_EQ(window_->size(), QSize(537, 393));
  auto* pages = Find<QTabWidget>("PageControl1");
  ASSERT_EQ(pages->count(), 4);
  const char* captions[] = {"服务信息", "服务器日志", "服务器配置", "数据维护"};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(pages->tabText(i), QString::fromUtf8(captions[i]));
  EXPECT_EQ(pages->currentIndex(), 0);
  EXPECT_EQ(Find<QToolButton>("B_Start")->text(), QStringLiteral("启动服务"));
  EXPECT_EQ(Find<QToolButton>("B_Stop")->text(), QStringLiteral("停止服务"));
  EXPECT_EQ(Find<QLineEdit>("E_SVRPASSWORD")->echoMode(), QLineEdit::Password);
  EXPECT_TRUE(Find<QLineEdit>("E_UserCount")->isReadOnly());
  EXPECT_EQ(Find<QTableView>("DBGrid3")->editTriggers(), QAbstractItemView::NoEditTriggers);
  auto* grid = Find<QTableView>("DBGrid3");
  const char* headers[] = {"用户ID", "用户IP地址", "登录时间"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(grid->model()->headerData(i, Qt::Horizontal).toString(),
              QString::fromUtf8(headers[i]));
  }
  EXPECT_EQ(Find<TRadioGroup>("BackupType")->Count(), 5);
  EXPECT_EQ(Find<TRadioGroup>("CmbWeek")->Count(), 7);
  EXPECT_EQ(Find<TRadioGroup>("CmbWeek")->findChildren<QRadioButton*>()[6]->text(),
            QStringLiteral("星期六"));
  const char* menu[][2] = {
      {"N1", "退出程序"}, {"N4", "断开服务"}, {"N5", "数据维护"}, {"N2", "服务信息"}};
  for (const auto& m : menu)
    EXPECT_EQ(Find<QAction>(m[0])->text(), QString::fromUtf8(m[1])) << m[0];
  EXPECT_FALSE(Find<QTimer>("Timer1")->isActive());
  EXPECT_NE(Find<QStatusBar>("StatusBar1"), nullptr);
  EXPECT_EQ(Find<QLabel>("StatusBar1Panel0")->width(), 100);
  EXPECT_EQ(Find<QLabel>("StatusBar1Panel1")->minimumWidth(), 50);
  for (const char* name : {"Button1", "Button4", "Button5", "Button2"}) Find<QPushButton>(name);
}

// The maintenance page as the operator reads it: every caption, label and item, in order, and the
// ranges of the number fields.
TEST_F(ShellTest, MaintenancePageCaptionsItemsAndRanges) {
  WriteConfigWithFreePort();
  CreateWindow();
  auto* pages = Find<QTabWidget>("PageControl1");
  auto* page = Find<QWidget>("TabSheet4");
  EXPECT_EQ(pages->tabText(pages->indexOf(page)), QStringLiteral("数据维护"));
  const char* buttons[][2] = {
      {"Button1", "数据库设置"}, {"Button4", "手动备份"}, {"Button5", "..."}};
  for (const auto& b : buttons) {
    EXPECT_EQ(Find<QPushButton>(b[0])->text(), QString::fromUtf8(b[1])) << b[0];
    EXPECT_EQ(Find<QPushButton>(b[0])->parentWidget(), page) << b[0];
  }
  QStringList labels;
  for (const QLabel* label : page->findChildren<QLabel*>()) labels << label->text();
  EXPECT_EQ(labels, (QStringList{"备份文件保存到:", "日期", "时间"}));

  const struct {
    const char* name;
    const char* caption;
    QStringList items;
  } groups[] = {
      {"BackupType", "自动备份", {"不备份", "每小时", "每天", "每周", "每月"}},
      {"CmbWeek", "星期", {"星期天", "星期一", "星期二", "星期三", "星期四", "星期五", "星期六"}},
  };
  for (const auto& g : groups) {
    auto* group = Find<TRadioGroup>(g.name);
    EXPECT_EQ(group->title(), QString::fromUtf8(g.caption)) << g.name;
    QStringList items;
    for (const QRadioButton* item : group->findChildren<QRadioButton*>()) items << item->text();
    EXPECT_EQ(items, g.items) << g.name;
    EXPECT_NE(qobject_cast<QHBoxLayout*>(group->layout()), nullptr) << g.name << ": one row";
  }

  const struct {
    const char* name;
    int low;
    int high;
  } numbers[] = {{"EdtDay", 1, 31}, {"EdtTime", 0, 23}, {"EdtMinute", 0, 59}};
  for (const auto& n : numbers) {
    EXPECT_EQ(Find<QSpinBox>(n.name)->minimum(), n.low) << n.name;
    EXPECT_EQ(Find<QSpinBox>(n.name)->maximum(), n.high) << n.name;
  }
}

// A stored kind of 0 changes nothing at start: the timer stays off and the four schedule fields
// keep their design state, enabled, holding the stored values, until a kind is chosen.
TEST_F(ShellTest, StoredKindNoneLeavesTheFourFieldsEnabledUntilAKindIsChosen) {
  WriteConfigWithFreePort(
      "[Backup]\r\nBackupType=0\r\nEveryTime=30\r\nEveryDay=5\r\nEveryWeek=2\r\n"
      "EveryMonth=9\r\n");
  CreateWindow();
  auto* kind = Find<TRadioGroup>("BackupType");
  auto* week = Find<TRadioGroup>("CmbWeek");
  auto* day = Find<QSpinBox>("EdtDay");
  auto* hour = Find<QSpinBox>("EdtTime");
  auto* minute = Find<QSpinBox>("EdtMinute");
  EXPECT_EQ(kind->ItemIndex(), 0);
  EXPECT_FALSE(Find<QTimer>("Timer1")->isActive());
  const QWidget* fields[] = {week, day, hour, minute};
  for (const QWidget* field : fields)
    EXPECT_TRUE(field->isEnabled()) << field->objectName().toStdString();
  EXPECT_EQ(week->ItemIndex(), 2);
  EXPECT_EQ(day->value(), 9);
  EXPECT_EQ(hour->value(), 5);
  EXPECT_EQ(minute->value(), 30);

  // Choosing a kind applies it: "每天", then "不备份", which disables all four.
  kind->findChildren<QRadioButton*>()[2]->click();
  EXPECT_TRUE(Find<QTimer>("Timer1")->isActive());
  EXPECT_TRUE(hour->isEnabled());
  EXPECT_FALSE(day->isEnabled());
  kind->findChildren<QRadioButton*>()[0]->click();
  EXPECT_FALSE(Find<QTimer>("Timer1")->isActive());
  for (const QWidget* field : fields)
    EXPECT_FALSE(field->isEnabled()) << field->objectName().toStdString();
}

// The window opens in the middle of the screen the first time it is shown; after that it stays
// where the operator put it.
TEST_F(ShellTest, WindowIsCentredOnTheScreenWhenFirstShownOnly) {
  WriteConfigWithFreePort();
  CreateWindow();
  window_->show();
  const QPoint middle = QGuiApplication::primaryScreen()->availableGeometry().center();
  EXPECT_LE((window_->frameGeometry().center() - middle).manhattanLength(), 1);
  window_->move(10, 20);
  window_->hide();
  window_->show();
  EXPECT_EQ(window_->frameGeometry().topLeft(), QPoint(10, 20));
}

TEST_F(ShellTest, WithoutConfigFileDefaultsAreShownAndNoFileIsCreated) {
  CreateWindow();  // port 211: started or refused, either way the fields show the defaults
  EXPECT_EQ(window_->windowTitle(), QStringLiteral("数据服务器3.0"));
  EXPECT_EQ(Text("E_SVRUSERNAME"), QStringLiteral("admin"));
  EXPECT_EQ(Text("E_SVRPASSWORD"),
            QString::fromUtf8(kDefaultPassword.data(), kDefaultPassword.size()));
  // Shown masked with '*', one for each character.
  EXPECT_EQ(Find<QLineEdit>("E_SVRPASSWORD")->displayText(),
            QString(static_cast<qsizetype>(kDefaultPassword.size()), QLatin1Char('*')));
  EXPECT_EQ(Text("E_SVROPENPORT"), QStringLiteral("211"));
  EXPECT_TRUE(Find<QCheckBox>("Start")->isChecked());
  EXPECT_EQ(Find<TRadioGroup>("BackupType")->ItemIndex(), 0);
  EXPECT_FALSE(Find<QTimer>("Timer1")->isActive());
  EXPECT_EQ(Find<QSpinBox>("EdtMinute")->value(), 0);
  EXPECT_EQ(Find<QSpinBox>("EdtTime")->value(), 0);
  EXPECT_EQ(Find<QSpinBox>("EdtDay")->value(), 1);
  EXPECT_EQ(Find<TRadioGroup>("CmbWeek")->ItemIndex(), 0);
  EXPECT_EQ(Text("edtPath").toStdString(), AppPath() + "BackupData");
  EXPECT_FALSE(std::filesystem::exists(folder_.File("CONFIG.CFG")));
  EXPECT_EQ(transport_.Port, 211);
}

TEST_F(ShellTest, LoadedValuesAreBroughtIntoRangeAndTheKindApplies) {
  WriteConfigWithFreePort(
      "[Backup]\r\nBackupType=9\r\nEveryTime=-3\r\nEveryDay=30\r\n"
      "EveryWeek=12\r\nEveryMonth=40\r\n");
  CreateWindow();
  EXPECT_EQ(Find<TRadioGroup>("BackupType")->ItemIndex(), 4);
  EXPECT_EQ(Find<QSpinBox>("EdtMinute")->value(), 0);
  EXPECT_EQ(Find<QSpinBox>("EdtTime")->value(), 23);
  EXPECT_EQ(Find<QSpinBox>("EdtDay")->value(), 31);
  EXPECT_EQ(Find<TRadioGroup>("CmbWeek")->ItemIndex(), 6);
  // The monthly kind: day, hour and minute in use, the weekday not, the timer running.
  EXPECT_TRUE(Find<QTimer>("Timer1")->isActive());
  EXPECT_TRUE(Find<QSpinBox>("EdtDay")->isEnabled());
  EXPECT_TRUE(Find<QSpinBox>("EdtTime")->isEnabled());
  EXPECT_FALSE(Find<TRadioGroup>("CmbWeek")->isEnabled());
}

TEST_F(ShellTest, SaveWritesExactlyTheThreeSecurityKeysAndConfirms) {
  port_ = FreePort();
  const std::string before = "[CONFIG]\r\nCaption=Mine\r\nSVROPENPORT=" + std::to_string(port_) +
                             "\r\n[Backup]\r\nEveryTime=7\r\n";
  WriteFile(folder_.File("CONFIG.CFG"), before);
  CreateWindow();
  Find<QLineEdit>("E_SVRUSERNAME")->setText("ops");
  Find<QLineEdit>("E_SVRPASSWORD")->setText("pa ss");
  Find<QPushButton>("Button2")->click();
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_EQ(notices_[0].icon, QMessageBox::Information);
  EXPECT_EQ(notices_[0].title, QStringLiteral("注意！"));
  EXPECT_EQ(notices_[0].text, QStringLiteral("安全配置被修改！"));
  const ServerConfig after = LoadConfig(folder_.File("CONFIG.CFG"), AppPath());
  EXPECT_EQ(after.Caption, "Mine");
  EXPECT_EQ(after.SVRUSERNAME, "ops");
  EXPECT_EQ(after.SVRPASSWORD, "pa ss");
  EXPECT_EQ(after.SVROPENPORT, std::to_string(port_));
  EXPECT_EQ(after.EveryTime, 7);
  // Nothing but those three keys was added: the file has 2 + 3 more key lines than before.
  const std::string text = ReadFile(folder_.File("CONFIG.CFG"));
  EXPECT_EQ(std::count(text.begin(), text.end(), '='), 5) << text;
  EXPECT_EQ(text.find("SVRStart"), std::string::npos);
  EXPECT_EQ(text.find("BackupType"), std::string::npos);
}

TEST_F(ShellTest, StartAndStopSetButtonsAndTrayEntry) {
  WriteConfigWithFreePort();
  CreateWindow();
  auto* start = Find<QToolButton>("B_Start");
  auto* stop = Find<QToolButton>("B_Stop");
  auto* n4 = Find<QAction>("N4");
  ASSERT_TRUE(service_->Started());
  EXPECT_EQ(transport_.BoundPort(), port_);
  EXPECT_FALSE(start->isEnabled());
  EXPECT_TRUE(stop->isEnabled());
  EXPECT_EQ(n4->text(), QStringLiteral("断开服务"));
  EXPECT_EQ(LogCount(QStringLiteral("服务启动完成")), 1);
  EXPECT_EQ(LogCount(QStringLiteral("端口：") + QString::number(port_)), 1);
  EXPECT_FALSE(window_->ShowAtStartup());

  stop->click();
  EXPECT_FALSE(service_->Started());
  EXPECT_TRUE(start->isEnabled());
  EXPECT_FALSE(stop->isEnabled());
  EXPECT_EQ(n4->text(), QStringLiteral("启动服务"));
  EXPECT_EQ(LogCount(QStringLiteral("服务关闭完成")), 1);

  n4->trigger();
  EXPECT_TRUE(service_->Started());
  EXPECT_EQ(n4->text(), QStringLiteral("断开服务"));
  n4->trigger();
  EXPECT_FALSE(service_->Started());
  EXPECT_EQ(LogCount(QStringLiteral("服务关闭完成")), 2);
  // A stop on a stopped service still logs and changes nothing else.
  window_->B_StopClick();
  EXPECT_EQ(LogCount(QStringLiteral("服务关闭完成")), 3);
  EXPECT_TRUE(start->isEnabled());
  EXPECT_TRUE(notices_.empty());
}

TEST_F(ShellTest, PortOfLettersStartsOn211) {
  WriteConfig("SVROPENPORT=abc\r\n");
  CreateWindow();
  EXPECT_EQ(transport_.Port, 211);
  if (service_->Started()) {
    EXPECT_EQ(LogCount(QStringLiteral("端口：211")), 1);
    EXPECT_TRUE(notices_.empty());
  } else {
    // Without the right to bind port 211 (or with it taken) the start fails like any other.
    EXPECT_EQ(LogCount(QStringLiteral("服务启动完成")), 0);
    ASSERT_EQ(notices_.size(), 1u);
    EXPECT_TRUE(Find<QToolButton>("B_Start")->isEnabled());
  }
}

TEST_F(ShellTest, PortInUseReportsAndLeavesTheServiceStopped) {
  QTcpServer blocker;
  ASSERT_TRUE(blocker.listen(QHostAddress::LocalHost, 0));
  WriteConfig("SVROPENPORT=" + std::to_string(blocker.serverPort()) + "\r\n");
  CreateWindow();
  EXPECT_FALSE(service_->Started());
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_EQ(notices_[0].icon, QMessageBox::Critical);
  EXPECT_EQ(notices_[0].title, QStringLiteral("服务器"));
  EXPECT_FALSE(notices_[0].text.isEmpty());
  EXPECT_EQ(LogCount(QStringLiteral("服务启动完成")), 0);
  EXPECT_TRUE(Find<QToolButton>("B_Start")->isEnabled());
  EXPECT_FALSE(Find<QToolButton>("B_Stop")->isEnabled());
  EXPECT_EQ(Find<QAction>("N4")->text(), QStringLiteral("启动服务"));
  EXPECT_TRUE(window_->ShowAtStartup());
  // Pressing the button again reports again.
  Find<QToolButton>("B_Start")->click();
  EXPECT_EQ(notices_.size(), 2u);
}

TEST_F(ShellTest, NumbersThatAreNoPortFailTheStart) {
  for (const char* text : {"0", "65536", "-1", "70000"}) {
    notices_.clear();
    WriteConfig(std::string("SVROPENPORT=") + text + "\r\n");
    CreateWindow();
    EXPECT_FALSE(service_->Started()) << text;
    ASSERT_EQ(notices_.size(), 1u) << text;
    EXPECT_TRUE(notices_[0].text.contains(QString::fromLatin1(text)))
        << notices_[0].text.toStdString();
    EXPECT_EQ(LogCount(QStringLiteral("服务启动完成")), 0) << text;
    EXPECT_TRUE(Find<QToolButton>("B_Start")->isEnabled()) << text;
    window_.reset();
  }
}

TEST_F(ShellTest, ClosingHidesAndWritesTheScheduleAndTheStartUpEntry) {
  WriteConfigWithFreePort();
  CreateWindow();
  window_->show();
  Find<TRadioGroup>("BackupType")->SetItemIndex(3);
  Find<TRadioGroup>("CmbWeek")->SetItemIndex(5);
  Find<QSpinBox>("EdtMinute")->setValue(45);
  Find<QSpinBox>("EdtTime")->setValue(22);
  Find<QSpinBox>("EdtDay")->setValue(17);
  Find<QLineEdit>("edtPath")->setText("/srv/backups");
  EXPECT_FALSE(window_->close());  // refused: the window is kept
  EXPECT_FALSE(window_->isVisible());
  const ServerConfig saved = LoadConfig(folder_.File("CONFIG.CFG"), AppPath());
  EXPECT_EQ(saved.BackupType, 3);
  EXPECT_EQ(saved.EveryWeek, 5);
  EXPECT_EQ(saved.EveryTime, 45);
  EXPECT_EQ(saved.EveryDay, 22);
  EXPECT_EQ(saved.EveryMonth, 17);
  EXPECT_EQ(saved.bakpath, "/srv/backups");
  EXPECT_TRUE(std::filesystem::exists(autostart_ + "/velmora.desktop"));
  EXPECT_TRUE(service_->Started());

  Find<QCheckBox>("Start")->click();  // unticked: SVRStart=0 at once, the entry stays
  EXPECT_FALSE(LoadConfig(folder_.File("CONFIG.CFG"), AppPath()).SVRStart);
  EXPECT_TRUE(std::filesystem::exists(autostart_ + "/velmora.desktop"));
  window_->show();
  window_->close();
  EXPECT_FALSE(std::filesystem::exists(autostart_ + "/velmora.desktop"));
}

TEST_F(ShellTest, StartUpEntryThatCannotBeWrittenKeepsTheWindowOpen) {
  WriteConfigWithFreePort();
  std::filesystem::create_directories(autostart_ + "/velmora.desktop/inside");
  CreateWindow();
  window_->show();
  window_->close();
  EXPECT_TRUE(window_->isVisible());
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_EQ(notices_[0].title, QStringLiteral("服务器"));
  EXPECT_TRUE(notices_[0].text.startsWith(QStringLiteral("Failed to set data for")))
      << notices_[0].text.toStdString();
  EXPECT_EQ(ReadFile(folder_.File("CONFIG.CFG")).find("BackupType"), std::string::npos);
}

TEST_F(ShellTest, WithoutTrayTheWindowShowsAndClosingMinimises) {
  SetTrayAvailable(false);
  WriteConfigWithFreePort();
  CreateWindow();
  EXPECT_TRUE(service_->Started());
  EXPECT_TRUE(window_->ShowAtStartup());
  window_->show();
  window_->close();
  EXPECT_TRUE(window_->isVisible());
  EXPECT_TRUE(window_->isMinimized());
}

TEST_F(ShellTest, TrayDoubleClickTogglesAndMenuShowsPages) {
  WriteConfigWithFreePort();
  CreateWindow();
  auto* tray = Find<QSystemTrayIcon>("TrayIcon1");
  EXPECT_EQ(tray->toolTip(), window_->windowTitle());
  EXPECT_FALSE(window_->isVisible());
  Q_EMIT tray->activated(QSystemTrayIcon::DoubleClick);
  EXPECT_TRUE(window_->isVisible());
  Q_EMIT tray->activated(QSystemTrayIcon::DoubleClick);
  EXPECT_FALSE(window_->isVisible());
  Find<QAction>("N5")->trigger();
  EXPECT_TRUE(window_->isVisible());
  EXPECT_EQ(Find<QTabWidget>("PageControl1")->currentIndex(), 3);
  Find<QAction>("N2")->trigger();
  EXPECT_EQ(Find<QTabWidget>("PageControl1")->currentIndex(), 0);
}

TEST_F(ShellTest, ExitFromTheTrayEndsTheLoopWithoutTheCloseSettings) {
  WriteConfigWithFreePort();
  CreateWindow();
  window_->show();
  QTimer::singleShot(0, [this] { Find<QAction>("N1")->trigger(); });
  // In case the loop would not end. A timer of the test's own, gone with it: a pending exit
  // would end whatever loop runs three seconds later, in a later test of this process (a modal
  // dialog's, say).
  QTimer give_up;
  give_up.setSingleShot(true);
  QObject::connect(&give_up, &QTimer::timeout, [] { QCoreApplication::exit(7); });
  give_up.start(3000);
  EXPECT_EQ(QCoreApplication::exec(), 0);
  EXPECT_EQ(ReadFile(folder_.File("CONFIG.CFG")).find("BackupType"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(autostart_ + "/velmora.desktop"));
  EXPECT_TRUE(notices_.empty());
}

// The grid's login time: the locale's short date and long time, without the time zone that Qt's
// long time format adds.
TEST(ClientTableModel, LoginTimeShowsNoTimeZone) {
  const QDateTime login(QDate(2024, 3, 5), QTime(8, 7, 9));
  for (const char* name : {"en_US", "de_DE", "zh_CN", "fi_FI"}) {
    SCOPED_TRACE(name);
    const QLocale locale(QString::fromLatin1(name));
    ASSERT_TRUE(locale.timeFormat(QLocale::LongFormat).contains(QLatin1Char('t')))
        << "the locale's long time has no zone to drop";
    const QString text = TClientTableModel::LoginTimeText(login, locale);
    EXPECT_FALSE(text.contains(login.timeZoneAbbreviation())) << text.toStdString();
    EXPECT_TRUE(text.startsWith(locale.toString(login.date(), QLocale::ShortFormat) + ' '))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QRegularExpression(QStringLiteral("0?8.07.09"))))
        << text.toStdString();
  }
}

}  // namespace
}  // namespace velmora::test
