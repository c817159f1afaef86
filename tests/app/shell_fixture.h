// A main window on a real loopback server in a fresh application folder, with the message boxes
// it would show recorded, and helpers that wait while the event loop runs.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTcpServer>
#include <QThread>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/operator_notice.h"
#include "app/service_controller.h"
#include "app/tray_availability.h"
#include "app/uServerContainer.h"
#include "common/app_path.h"
#include "rpc/client_channel.h"
#include "rpc/ds_server.h"
#include "rpc/method_table.h"
#include "tests/support/temp_dir.h"

namespace velmora::test {

class TPingModule : public TDSServerModuleBase {
 public:
  int32_t Ping(int32_t v) { return v + 1; }
};

inline const TDSMethodTable& PingMethods() {
  static const TDSMethodTable table = [] {
    TDSMethodTable t("TPingModule");
    t.Add("Ping", &TPingModule::Ping);
    return t;
  }();
  return table;
}

// A port nobody listens on at the moment of the call.
inline int FreePort() {
  QTcpServer probe;
  if (!probe.listen(QHostAddress::LocalHost, 0)) return 0;
  return probe.serverPort();
}

// Runs the event loop until `done` holds; false after `ms` milliseconds.
inline bool WaitUntil(const std::function<bool()>& done, int ms = 5000) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(2);
  }
  return true;
}

inline void Pump(int ms) {
  WaitUntil([] { return false; }, ms);
}

struct Notice {
  QMessageBox::Icon icon;
  QString title;
  QString text;
};

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetAppPath(folder_.Path());
    SetTrayAvailable(true);
    SetMessageBoxHandler(
        [this](QWidget*, QMessageBox::Icon icon, const QString& title, const QString& text) {
          notices_.push_back({icon, title, text});
        });
    transport_.BindAddress = "127.0.0.1";
    class_.OnGetClass = [](TDSServerClass&, const TDSMethodTable*& c) { c = &PingMethods(); };
    class_.OnCreateInstance = [this](TDSCreateInstanceEventObject& e) {
      e.ServerClassInstance = &module_;
    };
    server_.Transport = &transport_;
    server_.ServerClass = &class_;
    service_ = std::make_unique<TServiceController>(server_, transport_, auth_);
    autostart_ = folder_.File("autostart");
  }

  void TearDown() override {
    window_.reset();
    service_.reset();
    SetMessageBoxHandler(nullptr);
    SetTrayAvailable(std::nullopt);
  }

  // CONFIG.CFG with the given lines under [CONFIG] (a free port unless one is given) and
  // optional further text.
  void WriteConfig(const std::string& config_lines, const std::string& more = "") {
    WriteFile(folder_.File("CONFIG.CFG"), "[CONFIG]\r\n" + config_lines + more);
  }
  void WriteConfigWithFreePort(const std::string& more = "") {
    port_ = FreePort();
    WriteConfig("SVROPENPORT=" + std::to_string(port_) + "\r\n", more);
  }

  TFrmDataSnap& CreateWindow() {
    window_ = std::make_unique<TFrmDataSnap>(*service_,
                                             TShellSettings{autostart_, "/opt/velmora/velmora"});
    return *window_;
  }

  template <class T>
  T* Find(const char* name) {
    T* w = window_->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  QString Text(const char* name) { return Find<QLineEdit>(name)->text(); }
  QStringList LogLines() {
    return Find<QPlainTextEdit>("M_Log")->toPlainText().split('\n', Qt::SkipEmptyParts);
  }
  // Lines whose text after the time stamp equals `text`.
  int LogCount(const QString& text) {
    int n = 0;
    for (const QString& line : LogLines()) n += line.mid(22) == text ? 1 : 0;
    return n;
  }
  int GridRows() { return Find<QTableView>("DBGrid3")->model()->rowCount(); }
  QString GridCell(int row, int column) {
    QAbstractItemModel* m = Find<QTableView>("DBGrid3")->model();
    return m->data(m->index(row, column)).toString();
  }

  std::unique_ptr<TDSClientChannel> Client(const std::string& user = "admin",
                                           const std::string& password = "velmo") {
    auto c = std::make_unique<TDSClientChannel>();
    c->Connect("127.0.0.1", transport_.BoundPort(), user, password);
    return c;
  }

  TempDir folder_;
  std::string autostart_;
  int port_ = 0;
  TPingModule module_;
  TDSServer server_;
  TDSTCPServerTransport transport_;
  TDSServerClass class_;
  TDSAuthenticationManager auth_;
  std::unique_ptr<TServiceController> service_;
  std::unique_ptr<TFrmDataSnap> window_;
  std::vector<Notice> notices_;
};

// A shell whose window is created with a configuration on a free port and whose service is
// running.
class ServingShellTest : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    WriteConfigWithFreePort();
    CreateWindow();
    ASSERT_TRUE(service_->Started());
  }
};

}  // namespace velmora::test
