// A stand-in engine with stored procedures, for the tests of StoredProc: DriverID "PROCTEST"
// opens the SQLite database its Database line names and answers everything through it, except
// stored procedure calls, which it makes up:
// - ADD_ONE: B := A + 1 (an integer), C := 'changed' (whatever C was), T := decimal 12.50; opened,
//   its rows are SELECT ID, NAME FROM BIG_TABLE WHERE ID <= A.
// - FAIL: refused with "FAIL: raised inside the procedure".
// - any other name: refused with "Procedure NAME is unknown".
// Every call writes the parameters it was given ("NAME:kind ...") to ProcedureCalls().
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "data/params.h"
#include "db/core/db_error.h"
#include "db/core/driver.h"
#include "db/core/driver_registry.h"
#include "variant/name_fold.h"
#include "variant/variant_text.h"

namespace velmora::test {

inline std::vector<std::string>& ProcedureCalls() {
  static std::vector<std::string> calls;
  return calls;
}

class StandInProcedure : public TDriverCommand {
 public:
  StandInProcedure(TDriverConnection& inner, std::string name, std::span<TParam* const> params)
      : inner_(inner), name_(std::move(name)), params_(params.begin(), params.end()) {}

  void SetParams(std::span<TParam* const>) override {}
  void Execute() override { Run(); }
  bool Open() override {
    const int64_t a = Run();
    rows_ = inner_.CreateCommand("SELECT ID, NAME FROM BIG_TABLE WHERE ID <= " + std::to_string(a) +
                                 " ORDER BY ID");
    return rows_->Open();
  }
  const TFieldDefs& Columns() const override { return rows_->Columns(); }
  void FetchAll(TDataSet& out) override { rows_->FetchAll(out); }
  int64_t RowsAffected() const override { return 0; }

 private:
  TParam* Find(std::string_view name) const {
    for (TParam* p : params_) {
      if (NamesEqual(p->Name, name)) return p;
    }
    return nullptr;
  }

  int64_t Run() {
    std::string call = name_;
    for (const TParam* p : params_) call += " " + p->Name + ":" + std::to_string(p->ParamType);
    ProcedureCalls().push_back(call);
    if (EqualsNoCase(name_, "FAIL"))
      throw EFDDBEngineException(1, "FAIL: raised inside the procedure");
    if (!EqualsNoCase(name_, "ADD_ONE"))
      throw EFDDBEngineException(2, "Procedure " + name_ + " is unknown");
    TParam* a = Find("A");
    if (a == nullptr || a->IsNull()) throw EFDDBEngineException(3, "ADD_ONE: A is missing");
    const int64_t value = a->Value().AsInt64();
    if (TParam* b = Find("B")) b->SetValue(OleVariant(static_cast<int32_t>(value + 1)));
    if (TParam* c = Find("C")) c->SetValue(OleVariant("changed"));
    if (TParam* t = Find("T")) t->SetValue(OleVariant(BcdValue{"12.50", 10, 2}));
    return value;
  }

  TDriverConnection& inner_;
  std::string name_;
  std::vector<TParam*> params_;
  std::unique_ptr<TDriverCommand> rows_;
};

class StandInConnection : public TDriverConnection {
 public:
  explicit StandInConnection(std::unique_ptr<TDriverConnection> inner) : inner_(std::move(inner)) {}
  void StartTransaction() override { inner_->StartTransaction(); }
  void Commit() override { inner_->Commit(); }
  void Rollback() override { inner_->Rollback(); }
  bool InTransaction() const override { return inner_->InTransaction(); }
  void SetStatementStop(TStatementStop* stop) override { inner_->SetStatementStop(stop); }
  std::string UnusableReason(bool look) override { return inner_->UnusableReason(look); }
  std::string TranslateEscape(const TSqlEscape& escape) const override {
    return inner_->TranslateEscape(escape);
  }
  std::unique_ptr<TDriverCommand> CreateCommand(std::string sql) override {
    return inner_->CreateCommand(std::move(sql));
  }
  std::unique_ptr<TDriverCommand> CreateStoredProc(std::string_view name,
                                                   std::span<TParam* const> params) override {
    return std::make_unique<StandInProcedure>(*inner_, std::string(name), params);
  }

 private:
  std::unique_ptr<TDriverConnection> inner_;
};

// Registers DriverID "PROCTEST" for as long as it lives.
class StandInProcedures {
 public:
  StandInProcedures()
      : registration_("PROCTEST", [](const TStringList& params) {
          TStringList sqlite = params;
          sqlite.SetValue("DriverID", "SQLite");
          return std::make_unique<StandInConnection>(OpenDriverConnection(sqlite));
        }) {
    ProcedureCalls().clear();
  }

 private:
  TDriverRegistration registration_;
};

}  // namespace velmora::test
