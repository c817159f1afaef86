// The fixture of the conformance cases: a fresh database of the case's engine (engines.h) and an
// open connection to it, with one-shot statements.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "db/core/connection.h"
#include "db/core/query.h"
#include "tests/db/conformance/engines.h"
#include "tests/support/error_of.h"

namespace velmora::test {

class Conformance : public ::testing::TestWithParam<const Engine*> {
 protected:
  void SetUp() override {
    std::string skip;
    site_ = engine().make_site(skip);
    if (!site_) GTEST_SKIP() << engine().name << ": " << skip;
    connection_.Params().SetText(site_->Lines());
    connection_.Open();
  }

  const Engine& engine() const { return *GetParam(); }
  // Skips the case when the engine's entry says it lacks the behaviour.
  bool Lacks(const EnginePart& part) const { return part.none != nullptr; }

  // Another session on the same database.
  std::unique_ptr<TFDConnection> OtherSession() const {
    auto other = std::make_unique<TFDConnection>();
    other->Params().SetText(site_->Lines());
    other->Open();
    return other;
  }

  static void Exec(TFDConnection& connection, const std::string& sql) {
    TFDQuery q;
    q.SetConnection(&connection);
    q.SQL().SetText(sql);
    q.ExecSQL();
  }
  void Exec(const std::string& sql) { Exec(connection_, sql); }
  // The first column of the first row, as text.
  static std::string Scalar(TFDConnection& connection, const std::string& sql) {
    TFDQuery q;
    q.SetConnection(&connection);
    q.SQL().SetText(sql);
    q.Open();
    return q.Fields(0).AsString();
  }
  std::string Scalar(const std::string& sql) { return Scalar(connection_, sql); }

  std::unique_ptr<EngineSite> site_;
  TFDConnection connection_;
};

}  // namespace velmora::test

// Skips the rest of the case, naming the engine and why, when its entry lacks `part`.
#define SKIP_IF_ENGINE_LACKS(part) \
  if (Lacks(engine().part)) GTEST_SKIP() << engine().name << ": " << engine().part.none
