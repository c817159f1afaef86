#include "db/firebird/fb_stored_proc.h"

#include <fmt/core.h>

#include <string>
#include <vector>

#include "data/params.h"
#include "db/core/command_text.h"
#include "db/firebird/fb_command.h"
#include "db/firebird/fb_connection.h"

namespace velmora {
namespace {

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

class TFbStoredProcCommand : public TDriverCommand {
 public:
  TFbStoredProcCommand(TFbConnection& connection, std::string_view name,
                       std::span<TParam* const> params)
      : connection_(connection), name_(name) {
    for (TParam* p : params) {
      if (IsInputParam(p->ParamType)) inputs_.push_back(p);
      if (IsOutputParam(p->ParamType)) outputs_.push_back(p);
    }
  }

  void SetParams(std::span<TParam* const>) override {}
  void Execute() override { Prepare(false).Execute(); }
  bool Open() override {
    Look();
    return Prepare(selectable_).Open();
  }
  const TFieldDefs& Columns() const override { return command_->Columns(); }
  void FetchAll(TDataSet& out) override { command_->FetchAll(out); }
  int64_t RowsAffected() const override { return command_ ? command_->RowsAffected() : 0; }

 private:
  // Finds the procedure's catalogue name and kind, in a statement of its own.
  void Look() {
    if (looked_) return;
    isc_tr_handle* tr = connection_.BeginStatement();
    bool ok = false;
    try {
      for (const std::string& candidate : {name_, Upper(name_)}) {
        const std::vector<std::string> rows = connection_.QueryStrings(
            fmt::format("SELECT COALESCE(RDB$PROCEDURE_TYPE, 2) FROM RDB$PROCEDURES "
                        "WHERE RDB$PROCEDURE_NAME = {} AND RDB$PACKAGE_NAME IS NULL",
                        QuotedSql(candidate, '\'')),
            tr);
        if (!rows.empty()) {
          call_name_ = QuotedSql(candidate, '"');
          selectable_ = rows.front() == "1";
          break;
        }
      }
      ok = true;
    } catch (...) {
      connection_.EndStatement(false);
      throw;
    }
    connection_.EndStatement(ok);
    if (call_name_.empty()) call_name_ = name_;  // unknown: the engine says so
    looked_ = true;
  }

  TFbCommand& Prepare(bool select) {
    Look();
    std::string markers;
    for (size_t i = 0; i < inputs_.size(); ++i) markers += i == 0 ? "?" : ", ?";
    std::string sql;
    if (select) {
      sql = "SELECT * FROM " + call_name_ + (markers.empty() ? "" : "(" + markers + ")");
    } else {
      sql = "EXECUTE PROCEDURE " + call_name_ + (markers.empty() ? "" : " " + markers);
    }
    command_ = std::make_unique<TFbCommand>(connection_, std::move(sql));
    command_->SetParams(inputs_);
    if (!select) command_->SetOutputs(outputs_);
    return *command_;
  }

  TFbConnection& connection_;
  std::string name_;
  std::vector<TParam*> inputs_;
  std::vector<TParam*> outputs_;
  bool looked_ = false;
  bool selectable_ = false;
  std::string call_name_;
  std::unique_ptr<TFbCommand> command_;
};

}  // namespace

std::unique_ptr<TDriverCommand> CreateFbStoredProc(TFbConnection& connection, std::string_view name,
                                                   std::span<TParam* const> params) {
  return std::make_unique<TFbStoredProcCommand>(connection, name, params);
}

}  // namespace velmora
