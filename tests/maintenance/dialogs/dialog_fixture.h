// The database dialogs in a fresh application folder, with the window's stop and start actions,
// its message boxes and its error report recorded instead of run or shown; stand-in drivers for
// engines this machine cannot reach.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QApplication>
#include <QDialog>
#include <QPlainTextEdit>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/app_path.h"
#include "common/velmora_error.h"
#include "db/core/db_error.h"
#include "db/core/driver_registry.h"
#include "db/sqlite/sqlite_connection.h"
#include "maintenance/dialogs/dialog_host.h"
#include "maintenance/dialogs/uSetFDConnection.h"
#include "tests/support/modal_dialog.h"
#include "tests/support/temp_dir.h"

namespace velmora::test {

// A session that accepts the open and runs nothing: what the dialogs need of an engine is only
// that the connection opens.
class TAcceptingSession : public TDriverConnection {
 public:
  void StartTransaction() override { in_transaction_ = true; }
  void Commit() override { in_transaction_ = false; }
  void Rollback() override { in_transaction_ = false; }
  bool InTransaction() const override { return in_transaction_; }
  std::string TranslateEscape(const TSqlEscape&) const override {
    throw EFDException("the stand-in runs no statements");
  }
  std::unique_ptr<TDriverCommand> CreateCommand(std::string) override {
    throw EFDException("the stand-in runs no statements");
  }
  std::unique_ptr<TDriverCommand> CreateStoredProc(std::string_view,
                                                   std::span<TParam* const>) override {
    throw EFDException("the stand-in runs no statements");
  }

 private:
  bool in_transaction_ = false;
};

// Registers a stand-in under `driver_id` that accepts every open, and keeps the parameter list
// of each open.
class AcceptingDriver {
 public:
  explicit AcceptingDriver(const std::string& driver_id)
      : opens_(std::make_shared<std::vector<TStringList>>()),
        registration_(driver_id, [opens = opens_](const TStringList& params) {
          opens->push_back(params);
          return std::make_unique<TAcceptingSession>();
        }) {}
  const std::vector<TStringList>& Opens() const { return *opens_; }

 private:
  std::shared_ptr<std::vector<TStringList>> opens_;
  TDriverRegistration registration_;
};

// "MSAcc" opened by the SQLite engine: a file engine that really opens the file the Access dialog
// names, and refuses a missing one with the engine's own message.
class SqliteAsAccess {
 public:
  SqliteAsAccess()
      : registration_("MSAcc", [](const TStringList& params) -> std::unique_ptr<TDriverConnection> {
          return std::make_unique<TSQLiteConnection>(params);
        }) {}

 private:
  TDriverRegistration registration_;
};

// Creates a SQLite database file at `path` holding one table.
inline void CreateSqliteFile(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK ||
      sqlite3_exec(db, "CREATE TABLE t (x INTEGER)", nullptr, nullptr, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    throw std::runtime_error("cannot create " + path);
  }
  sqlite3_close(db);
}

struct RecordedNotice {
  QMessageBox::Icon icon;
  QString title;
  QString text;
  QString owner;  // the owning window's object name
};

class DialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetAppPath(folder_.Path());
    host_.stop_service = [this] { actions_.push_back("stop"); };
    host_.start_service = [this] {
      actions_.push_back("start");
      if (start_fails_) throw EVelmoraError("Cannot listen on port 211: Address already in use");
    };
    host_.message_box = [this](QWidget* owner, QMessageBox::Icon icon, const QString& title,
                               const QString& text) {
      notices_.push_back({icon, title, text, owner != nullptr ? owner->objectName() : QString()});
    };
    host_.error_report = [this](QWidget*, const QString& message) { reports_.push_back(message); };
  }
  void TearDown() override { chooser_.reset(); }

  std::string ConfigPath() const { return folder_.File("DataBase.CFG"); }
  void WriteConfig(const std::string& bytes) { WriteFile(ConfigPath(), bytes); }
  std::string ReadConfig() const { return ReadFile(ConfigPath()); }

  TfSetFDConnection& OpenChooser() {
    chooser_ = std::make_unique<TfSetFDConnection>(host_);
    return *chooser_;
  }
  QStringList Summary() const {
    const QString text = chooser_->Memo1->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
  }
  // Presses "连接" on the chooser and runs `act` on the engine dialog it opens.
  template <class Dialog>
  bool WithEngineDialog(const char* form_name, const std::function<void(Dialog&)>& act) {
    return WithModal(
        QString::fromLatin1(form_name), [this] { chooser_->Button2->click(); },
        [&](QDialog& dialog) {
          auto* typed = qobject_cast<Dialog*>(&dialog);
          ASSERT_NE(typed, nullptr);
          act(*typed);
        });
  }

  TempDir folder_;
  DialogHost host_;
  bool start_fails_ = false;
  std::vector<std::string> actions_;
  std::vector<RecordedNotice> notices_;
  std::vector<QString> reports_;
  std::unique_ptr<TfSetFDConnection> chooser_;
};

}  // namespace velmora::test
