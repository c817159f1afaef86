// The maintenance page's backup: "手动备份" whatever the schedule, its log line and status bar, a
// failure that stays silent but for its log line, the folder browser, and the schedule's timer
// driven by an injected clock. The headless program's schedule from CONFIG.CFG, in-process.
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "app/backup_timer.h"
#include "app/headless_shell.h"
#include "app/radio_group.h"
#include "dbpool/database_pools.h"
#include "tests/app/shell_fixture.h"
#include "tools/self_host/database_config.h"
#include "tools/self_host/fixture_db.h"

namespace velmora::test {
namespace {

namespace fs = std::filesystem;

QDateTime At(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
  return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms));
}

// A folder this process cannot write into, whoever runs it.
std::string UnwritableFolder(const TempDir& scratch) {
  if (::geteuid() == 0) return "/proc";
  const std::string folder = scratch.File("locked");
  fs::create_directory(folder);
  ::chmod(folder.c_str(), 0555);
  return folder;
}

class BackupWindowTest : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    CreateDatabasePools();
    self_host::CreateFixtureDatabase(folder_.File("app.db"), 50);
    self_host::WriteSqliteConfig(folder_.Path(), folder_.File("app.db"));
    now_ = At(2026, 12, 9, 14, 5, 7);
  }
  void TearDown() override {
    ShellTest::TearDown();
    DestroyDatabasePools();
  }

  TFrmDataSnap& CreateWindowWithClock(const std::string& more_config = "") {
    WriteConfigWithFreePort(more_config);
    CreateWindow();
    window_->SetBackupClock([this] { return now_; });
    return *window_;
  }
  QString Panel(int i) {
    return Find<QLabel>(QStringLiteral("StatusBar1Panel%1").arg(i).toLatin1().constData())->text();
  }
  int LogLinesStartingWith(const QString& prefix) {
    int n = 0;
    for (const QString& line : LogLines()) n += line.mid(22).startsWith(prefix) ? 1 : 0;
    return n;
  }
  int Made() { return LogLinesStartingWith(QStringLiteral("已生成备份文件:")); }
  void Choose(const char* group, int index) {
    Find<TRadioGroup>(group)->findChildren<QRadioButton*>()[index]->click();
  }

  QDateTime now_;
};

TEST_F(BackupWindowTest, ManualBackupWhateverTheKindLogsAndShowsTheFileAFailureOnlyLogs) {
  CreateWindowWithClock();
  ASSERT_EQ(Find<TRadioGroup>("BackupType")->ItemIndex(), 0);  // "不备份"
  const QString folder = QString::fromStdString(folder_.File("bak"));
  Find<QLineEdit>("edtPath")->setText(folder);

  Find<QPushButton>("Button4")->click();
  const QString file = folder + QStringLiteral("/09app.db");
  EXPECT_TRUE(fs::exists(file.toStdString()));
  EXPECT_EQ(LogCount(QStringLiteral("已生成备份文件:") + file), 1);
  EXPECT_EQ(Panel(0), QStringLiteral("26-12-09 14:05"));
  EXPECT_EQ(Panel(1), QStringLiteral("已生成备份文件:") + file);

  // A failure: one log line with the reason, no box, the status bar as it was.
  const std::string locked = UnwritableFolder(folder_);
  Find<QLineEdit>("edtPath")->setText(QString::fromStdString(locked));
  now_ = At(2026, 12, 10, 9, 0, 0);
  Find<QPushButton>("Button4")->click();
  EXPECT_EQ(LogLinesStartingWith(QStringLiteral("备份失败:")), 1);
  EXPECT_TRUE(LogLines().last().contains(QString::fromStdString(locked + "/10app.db")))
      << LogLines().last().toStdString();
  EXPECT_FALSE(fs::exists(locked + "/10app.db"));
  EXPECT_TRUE(notices_.empty());
  EXPECT_EQ(Panel(0), QStringLiteral("26-12-09 14:05"));
  EXPECT_EQ(Panel(1), QStringLiteral("已生成备份文件:") + file);
  for (size_t i = 0; i < FDConnectionPool()->Count(); ++i)
    EXPECT_EQ(FDConnectionPool()->TagOf(FDConnectionPool()->Item(i)), 0);
  for (size_t i = 0; i < FDQueryPool()->Count(); ++i)
    EXPECT_EQ(FDQueryPool()->TagOf(FDQueryPool()->Item(i)), 0);
}

// The first panel tells when the backup ended, not when it began: a clock that answers by whether
// the backup file exists yet shows which reading the panel took. A backup begun at 23:59 on the
// 9th that ends after midnight is named by the day it began and shown with the time it ended;
// through the button and through the schedule alike.
TEST_F(BackupWindowTest, TheStatusBarShowsTheTimeTheBackupEnded) {
  CreateWindowWithClock();
  const std::string folder = folder_.File("bak");
  const std::string file = folder + "/09app.db";
  Find<QLineEdit>("edtPath")->setText(QString::fromStdString(folder));
  Find<QSpinBox>("EdtMinute")->setValue(59);
  Find<QSpinBox>("EdtTime")->setValue(23);
  Choose("BackupType", 2);  // "每天" at 23:59
  const struct {
    const char* way;
    std::function<void()> run;
  } ways[] = {
      {"手动备份", [this] { Find<QPushButton>("Button4")->click(); }},
      {"the schedule", [this] { window_->Timer1Timer(); }},
  };
  for (const auto& w : ways) {
    fs::remove_all(folder);
    Find<QLabel>("StatusBar1Panel0")->clear();
    window_->SetBackupClock([&file] {
      return fs::exists(file) ? At(2026, 12, 10, 0, 2, 30) : At(2026, 12, 9, 23, 59, 0);
    });
    w.run();
    EXPECT_TRUE(fs::exists(file)) << w.way;
    EXPECT_EQ(Panel(0), QStringLiteral("26-12-10 00:02")) << w.way;
    EXPECT_EQ(Panel(1), QStringLiteral("已生成备份文件:") + QString::fromStdString(file)) << w.way;
  }
}

TEST_F(BackupWindowTest, TheTimerFiresOncePerMatchingSecondZeroFromTheControlsCurrentValues) {
  CreateWindowWithClock();
  auto* timer = Find<QTimer>("Timer1");
  EXPECT_EQ(timer->timerType(), Qt::PreciseTimer);
  EXPECT_EQ(timer->interval(), 1000);
  Find<QLineEdit>("edtPath")->setText(QString::fromStdString(folder_.File("bak")));
  Find<QSpinBox>("EdtMinute")->setValue(30);
  Choose("BackupType", 1);  // "每小时"
  ASSERT_TRUE(timer->isActive());
  EXPECT_FALSE(Find<QSpinBox>("EdtTime")->isEnabled());

  now_ = At(2026, 12, 10, 10, 29, 59, 990);
  window_->Timer1Timer();
  EXPECT_EQ(Made(), 0);
  now_ = At(2026, 12, 10, 10, 30, 0, 10);
  window_->Timer1Timer();
  EXPECT_EQ(Made(), 1);
  now_ = At(2026, 12, 10, 10, 30, 0, 980);  // a second tick within the same second 0
  window_->Timer1Timer();
  EXPECT_EQ(Made(), 1);
  // The running timer ticks on the same second 0: still one.
  Pump(2300);
  EXPECT_EQ(Made(), 1);
  // The next hour's second 0 is reached through the timer itself.
  now_ = At(2026, 12, 10, 11, 30, 0, 500);
  EXPECT_TRUE(WaitUntil([this] { return Made() == 2; }, 3000));
  // A change on the page applies from the next tick, saved or not.
  Find<QSpinBox>("EdtMinute")->setValue(31);
  now_ = At(2026, 12, 10, 11, 31, 0, 500);
  EXPECT_TRUE(WaitUntil([this] { return Made() == 3; }, 3000));
  // "不备份" stops the timer at once.
  Choose("BackupType", 0);
  EXPECT_FALSE(timer->isActive());
  now_ = At(2026, 12, 10, 12, 31, 0, 500);
  Pump(1500);
  EXPECT_EQ(Made(), 3);
  // Weekly with no weekday selected: never.
  Choose("BackupType", 3);
  Find<TRadioGroup>("CmbWeek")->SetItemIndex(-1);
  now_ = At(2026, 12, 13, 0, 31, 0);  // a Sunday at the hour and minute set
  window_->Timer1Timer();
  EXPECT_EQ(Made(), 3);
  Find<TRadioGroup>("CmbWeek")->SetItemIndex(0);
  window_->Timer1Timer();
  EXPECT_EQ(Made(), 4);
}

TEST(BackupTimeOf, WeekdaysCountFromZeroForSunday) {
  EXPECT_EQ(ScheduleTimeOf(At(2026, 12, 13, 3, 15, 0)).weekday, 0);  // Sunday
  EXPECT_EQ(ScheduleTimeOf(At(2026, 12, 14, 3, 15, 0)).weekday, 1);  // Monday
  EXPECT_EQ(ScheduleTimeOf(At(2026, 12, 19, 3, 15, 0)).weekday, 6);  // Saturday
  const ScheduleTime t = ScheduleTimeOf(At(2027, 2, 28, 23, 59, 58, 999));
  EXPECT_EQ(t, (ScheduleTime{2027, 2, 28, 0, 23, 59, 58}));  // milliseconds are not part of it
}

// What the folder browser showed when it opened.
struct FolderBrowserSeen {
  QString title;
  QFileDialog::Options options;
  QFileDialog::FileMode mode = QFileDialog::AnyFile;
  QString preselected;  // what confirming at once would take
  bool new_folder_button = true;
  bool new_folder_entry = true;
};

// Answers the folder browser once it is open: notes what it shows, then picks `folder` (empty:
// cancels).
void AnswerFolderBrowser(const QString& folder, FolderBrowserSeen* seen) {
  QTimer::singleShot(50, [folder, seen] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) {
      AnswerFolderBrowser(folder, seen);
      return;
    }
    seen->title = dialog->windowTitle();
    seen->options = dialog->options();
    seen->mode = dialog->fileMode();
    seen->preselected = dialog->selectedFiles().value(0);
    // Qt's own names for its "Create New Folder" button and menu entry.
    const auto* button = dialog->findChild<QToolButton*>(QStringLiteral("newFolderButton"));
    seen->new_folder_button = button == nullptr || !button->isHidden();
    const auto* entry = dialog->findChild<QAction*>(QStringLiteral("qt_new_folder_action"));
    seen->new_folder_entry = entry == nullptr || entry->isVisible() || entry->isEnabled();
    if (folder.isEmpty()) {
      dialog->reject();
    } else {
      dialog->setDirectory(folder);
      static_cast<QDialog*>(dialog)->accept();  // public there
    }
  });
}

// Qt's own folder dialog (which the test can answer: a platform's dialog runs outside the
// process): folders only, read-only, no new-folder button or entry, nothing preselected (not the
// process's current folder, nor the field's text).
TEST_F(BackupWindowTest, TheFolderBrowserShowsFoldersOnlyAndReplacesThePathOnlyWhenConfirmed) {
  CreateWindowWithClock();
  auto* path = Find<QLineEdit>("edtPath");
  path->setText(QString::fromStdString(folder_.Path()));
  FolderBrowserSeen seen;
  AnswerFolderBrowser({}, &seen);
  Find<QPushButton>("Button5")->click();
  EXPECT_EQ(seen.title, QStringLiteral("请选择备份路径"));
  EXPECT_EQ(seen.options,
            QFileDialog::ShowDirsOnly | QFileDialog::ReadOnly | QFileDialog::DontUseNativeDialog);
  EXPECT_EQ(seen.mode, QFileDialog::Directory);
  EXPECT_EQ(seen.preselected, QString());
  EXPECT_FALSE(seen.new_folder_button);
  EXPECT_FALSE(seen.new_folder_entry);
  EXPECT_EQ(path->text(), QString::fromStdString(folder_.Path()));  // cancelled

  const QString chosen = QString::fromStdString(folder_.File("chosen"));
  fs::create_directory(chosen.toStdString());
  seen = {};
  AnswerFolderBrowser(chosen, &seen);
  Find<QPushButton>("Button5")->click();
  EXPECT_EQ(seen.title, QStringLiteral("请选择备份路径"));
  EXPECT_EQ(path->text(), chosen);
  EXPECT_FALSE(fs::exists(folder_.File("bak")));  // nothing is created here
}

// The headless program: the schedule of the section Backup, as read at start, with the same rule
// and log lines.
TEST_F(BackupWindowTest, HeadlessScheduleRunsFromTheBackupSection) {
  WriteConfigWithFreePort("[Backup]\r\nBackupType=2\r\nEveryTime=30\r\nEveryDay=10\r\nbakpath=" +
                          folder_.File("hbak") + "\r\n");
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  {
    THeadlessShell shell(*service_, out, err, nullptr, [this] { return now_; });
    now_ = At(2026, 12, 10, 9, 30, 0);  // the minute, not the hour
    ASSERT_TRUE(shell.StartUp());
    EXPECT_TRUE(shell.ScheduleRunning());
    EXPECT_EQ(shell.Schedule().kind, kBackupDaily);
    Pump(1300);
    EXPECT_FALSE(fs::exists(folder_.File("hbak")));
    now_ = At(2026, 12, 10, 10, 30, 0);
    EXPECT_TRUE(WaitUntil([this] { return fs::exists(folder_.File("hbak/10app.db")); }, 3000));
    Pump(1300);  // the same second 0 again: no second backup
    service_->Stop();
  }
  std::rewind(out);
  std::string text(4096, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), out));
  size_t lines = 0;
  for (size_t at = 0; (at = text.find(">>>已生成备份文件:", at)) != std::string::npos; ++at)
    ++lines;
  EXPECT_EQ(lines, 1u) << text;
  EXPECT_NE(text.find("已生成备份文件:" + folder_.File("hbak") + "/10app.db\n"), std::string::npos);
  std::fclose(out);
  std::fclose(err);
}

TEST_F(BackupWindowTest, HeadlessWithoutAKindRunsNoSchedule) {
  WriteConfigWithFreePort("[Backup]\r\nBackupType=0\r\nEveryTime=30\r\n");
  std::FILE* out = std::tmpfile();
  {
    THeadlessShell shell(*service_, out, stderr);
    ASSERT_TRUE(shell.StartUp());
    EXPECT_FALSE(shell.ScheduleRunning());
    service_->Stop();
  }
  std::fclose(out);
}

}  // namespace
}  // namespace velmora::test
