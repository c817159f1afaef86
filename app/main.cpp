// velmora: the server's program entry.
//
//   velmora [--app-dir DIR]              the window, hidden in the tray once the service runs
//   velmora --headless [--app-dir DIR]   no widgets: log on standard output, errors on standard
//                                        error; chosen by itself when there is no display
//   velmora [--app-dir DIR] --backup-now a backup now, made by the copy serving DIR or, when none
//                                        runs, by this process; prints the outcome, exit 0 when
//                                        made, 1 with the reason on standard error when not
//   velmora [--app-dir DIR] --set-database "DriverID=...;Database=...;..."
//                                        the database setting: the copy serving DIR (or, when none
//                                        runs, this process) tests the connection, saves
//                                        DataBase.CFG only when it opens and restarts its service;
//                                        the outcome is printed, exit status 0 done, 1 refused
//
// Order of start-up and teardown: the single-copy check; the stored-procedure, query and
// connection pools, then ServerModulePool; the server and the window (which starts the service);
// the event loop until "退出程序" (or SIGINT/SIGTERM); the server stops; ServerModulePool goes,
// then the connection, query and stored-procedure pools; the window goes last.
#include <QApplication>
#include <QCoreApplication>
#include <QDate>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/backup_run.h"
#include "app/config/server_config.h"
#include "app/config/settings_access.h"
#include "app/headless_shell.h"
#include "app/operator_notice.h"
#include "app/quit_signals.h"
#include "app/service_controller.h"
#include "app/service_notify.h"
#include "app/set_database.h"
#include "app/single_instance.h"
#include "app/uServerContainer.h"
#include "common/app_path.h"
#include "dbpool/database_pools.h"
#include "host/server_host.h"
#include "host/server_module_pool.h"
#include "maintenance/dialogs/database_setting.h"

namespace {

struct Options {
  bool headless = false;
  bool backup_now = false;
  std::string app_dir;
  std::optional<std::string> set_database;
};

constexpr char kSetDatabase[] = "set-database";
constexpr char kBackupNow[] = "backup-now";
// The running copy tests the connection and restarts its service, or makes a backup, before it
// replies: an engine's own login time-out, the stop's drain and a backup fit well within this.
constexpr int kCommandReplyMs = 5 * 60 * 1000;

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--headless") {
      options.headless = true;
    } else if (arg == "--backup-now") {
      options.backup_now = true;
    } else if (arg == "--app-dir" && i + 1 < argc) {
      options.app_dir = argv[++i];
    } else if (arg == "--set-database" && i + 1 < argc) {
      options.set_database = argv[++i];
    } else {
      std::fprintf(stderr,
                   "usage: velmora [--headless] [--app-dir DIR]\n"
                   "       velmora [--app-dir DIR] --backup-now\n"
                   "       velmora [--app-dir DIR] --set-database \"DriverID=...;Database=...\"\n");
      return false;
    }
  }
  return true;
}

bool NoDisplay() {
  return std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr &&
         std::getenv("QT_QPA_PLATFORM") == nullptr;
}

// A settings file that exists but cannot be read stops the start: the server would otherwise run
// on the built-in port and password, or without its database. A missing file is no error.
bool SettingsReadable() {
  bool readable = true;
  for (const std::string_view name : {velmora::kConfigFileName, velmora::kDatabaseConfigFileName}) {
    if (const auto reason =
            velmora::UnreadableSettingsFile(velmora::AppPath() + std::string(name))) {
      std::fprintf(stderr, "%s. The server does not start on default settings instead.\n",
                   reason->c_str());
      readable = false;
    }
  }
  return readable;
}

void TearDownPools() {
  velmora::DestroyServerModulePool();
  velmora::DestroyDatabasePools();  // connection, query, stored-procedure
}

// A call that did not return within the stop still runs on its thread and uses the server: the
// process ends here rather than destroy what that thread uses.
void ExitIfCallsAbandoned(const velmora::TServiceController& service) {
  if (service.AbandonedThreads() == 0) return;
  std::fprintf(stderr, "%zu call(s) did not finish within the stop; exiting without cleanup\n",
               service.AbandonedThreads());
  std::fflush(nullptr);
  std::_Exit(0);
}

velmora::CommandOutcome OutcomeOf(const velmora::TBackupOutcome& outcome) {
  return {outcome.kind == velmora::TBackupOutcome::Kind::kMade ? 0 : 1,
          velmora::BackupOutcomeText(outcome)};
}

int Print(const velmora::CommandOutcome& outcome) {
  const QByteArray text = outcome.text.toUtf8();
  std::FILE* stream = outcome.Done() ? stdout : stderr;
  std::fprintf(stream, "%s\n", text.constData());
  std::fflush(stream);
  return outcome.exit_code;
}

// --backup-now: the copy serving the folder makes the backup (it holds the pools, and an embedded
// database may be open in one process only); with none running, this process makes it from the
// folder's settings, without starting the service.
int RunBackupNow(velmora::TSingleInstance& instance) {
  if (const auto answer =
          instance.SendRequest(QString::fromLatin1(kBackupNow), {}, kCommandReplyMs)) {
    return Print(*answer);
  }
  const std::string app_path = velmora::AppPath();
  const velmora::ServerConfig config =
      velmora::LoadConfig(app_path + std::string(velmora::kConfigFileName), app_path);
  velmora::CreateDatabasePools();
  const velmora::TBackupOutcome outcome =
      velmora::BackupDatabase(config.bakpath, QDate::currentDate().day());
  TearDownPools();
  return Print(OutcomeOf(outcome));
}

// --set-database: carried out by the copy serving the folder, or by this process when none runs.
int RunSetDatabase(const std::string& connection_string) {
  const QString text = QString::fromStdString(connection_string);
  velmora::TSingleInstance instance;
  std::optional<velmora::CommandOutcome> outcome =
      instance.SendRequest(QString::fromLatin1(kSetDatabase), text, kCommandReplyMs);
  if (!outcome) outcome = velmora::SetDatabase(text, nullptr);
  return Print(*outcome);
}

int RunHeadless(velmora::TServiceController& service, velmora::TSingleInstance& instance) {
  velmora::THeadlessShell shell(service);
  velmora::TQuitSignals quit_signals;
  velmora::TServiceNotifier notifier(service);  // systemd's READY, STATUS and STOPPING
  if (!shell.StartUp()) return 1;
  instance.SetRequestHandler(QString::fromLatin1(kBackupNow),
                             [&shell](const QString&) { return OutcomeOf(shell.BackupNow()); });
  instance.SetRequestHandler(QString::fromLatin1(kSetDatabase), [&shell](const QString& text) {
    return velmora::SetDatabase(text, [&shell] { shell.Restart(); });
  });
  QCoreApplication::exec();
  instance.ClearRequestHandlers();
  shell.StopAtExit();
  ExitIfCallsAbandoned(service);
  return 0;
}

int RunWindowed(velmora::TServiceController& service, velmora::TSingleInstance& instance) {
  QApplication::setQuitOnLastWindowClosed(false);
  // The window outlives the pools: it is destroyed last.
  auto window = std::make_unique<velmora::TFrmDataSnap>(service);
  QObject::connect(&instance, &velmora::TSingleInstance::ShowRequested, window.get(),
                   &velmora::TFrmDataSnap::ShowAndRaise);
  instance.SetRequestHandler(QString::fromLatin1(kBackupNow), [&window](const QString&) {
    return OutcomeOf(window->Button4Click());
  });
  // The window's own stop and start actions, as the dialogs restart the service. A start that
  // fails is also shown to the operator, once the reply has gone.
  velmora::TFrmDataSnap* shown = window.get();
  instance.SetRequestHandler(QString::fromLatin1(kSetDatabase), [shown](const QString& text) {
    return velmora::SetDatabase(text, [shown] {
      shown->B_StopClick();
      try {
        shown->B_StartClick();
      } catch (const std::exception& e) {
        const QString message = QString::fromUtf8(e.what());
        QTimer::singleShot(0, shown,
                           [shown, message] { velmora::ShowErrorReport(shown, message); });
        throw;
      }
    });
  });
  velmora::TQuitSignals quit_signals;
  if (window->ShowAtStartup()) window->show();
  QCoreApplication::exec();
  instance.ClearRequestHandlers();
  service.StopServer();
  ExitIfCallsAbandoned(service);
  TearDownPools();
  window.reset();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) return 2;
  if (options.set_database) {
    // No window and no server of its own: nothing here needs a display.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("服务器"));
    velmora::SetAppPath(options.app_dir.empty() ? velmora::ExecutableFolder() : options.app_dir);
    return RunSetDatabase(*options.set_database);
  }
  const bool headless = options.headless || options.backup_now || NoDisplay();
  // The server takes SIGINT and SIGTERM on its loop's thread only; blocked before any thread
  // starts.
  if (!options.backup_now) velmora::BlockQuitSignals();

  std::unique_ptr<QCoreApplication> app;
  if (headless) {
    app = std::make_unique<QCoreApplication>(argc, argv);
  } else {
    app = std::make_unique<QApplication>(argc, argv);
  }
  QCoreApplication::setApplicationName(QStringLiteral("服务器"));

  // One server per user and application folder: both name the single-copy socket.
  velmora::SetAppPath(options.app_dir.empty() ? velmora::ExecutableFolder() : options.app_dir);
  velmora::TSingleInstance instance;
  if (options.backup_now) return RunBackupNow(instance);
  if (instance.NotifyRunningCopy()) {
    if (headless) {
      std::fprintf(stderr, "A copy of the server already serves %s; this one ends.\n",
                   velmora::AppPath().c_str());
    }
    return 0;
  }
  if (!instance.Listen()) {
    std::fprintf(stderr, "Cannot claim the single-copy name %s\n",
                 qPrintable(velmora::SingleInstanceName()));
    return 1;
  }

  if (!SettingsReadable()) return 1;

  int code = 0;
  try {
    velmora::CreateDatabasePools();  // stored-procedure, query, connection
    velmora::CreateServerModulePool();
    velmora::TServerHost host;
    velmora::TServiceController service(host.DSServer1, host.DSTCPServerTransport1,
                                        host.DSAuthenticationManager1);
    code = headless ? RunHeadless(service, instance) : RunWindowed(service, instance);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    code = 1;
  }
  TearDownPools();
  return code;
}
