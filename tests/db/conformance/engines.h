// The engines every database behaviour is checked on, one table entry each, with what differs from
// one engine to the next written into the entry itself: the statement that runs until stopped,
// the engine's own words for a missing table or a duplicate key, its stored procedure, or why it
// lacks a behaviour altogether. A new engine is one more entry in Engines() (engines.cpp), one more
// column in the type table (types_test.cpp) and in the escape tables (behaviour_test.cpp), and one
// more name in a CTest filter (CMakeLists.txt).
//
// The rules:
// - Each test case gets a fresh database of its own (EngineSite): a file in a fresh folder, a
//   database of the run's PostgreSQL server, or the read-only Access fixture.
// - An engine this machine lacks, or one a behaviour does not apply to, skips with the reason its
//   entry gives; nothing is silently left out.
//
// Thread contract: none; each case uses its site and connections on its own thread.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "db/core/connection.h"

namespace velmora::test {

enum class EngineId { kSQLite, kFirebird, kPg, kOdbcSQLite, kOdbcPg, kAccess };
inline constexpr size_t kEngineCount = 6;

// One engine's part in one behaviour: `text` is what is engine-specific about it (a statement, a
// message the engine gives); `none`, when set, says why the engine does not have the behaviour:
// the case skips with it, or, where the field says so, checks what the engine does instead.
struct EnginePart {
  const char* text = nullptr;
  const char* none = nullptr;
};

// A fresh database for one test case, removed when the object goes.
class EngineSite {
 public:
  virtual ~EngineSite() = default;
  // The DataBase.CFG lines of a connection to it.
  virtual std::string Lines() const = 0;
  // Takes the database away under `connection`'s open session, as a crash or an operator would:
  // the file is deleted, or the server ends the session.
  virtual void LoseSession(TFDConnection& connection) = 0;
};

struct Engine {
  EngineId id;
  const char* name;  // the suffix of the test cases' names
  // A fresh database; nullptr, with `skip` saying why, when this machine cannot give one.
  std::unique_ptr<EngineSite> (*make_site)(std::string& skip);
  const char* dual;        // what a SELECT of expressions alone needs after them (Firebird's FROM)
  const char* select_one;  // a query whose first value is 1
  EnginePart writes;       // none: the engine only reads
  EnginePart missing_table;  // text: part of the engine's message for "no_such_table"
  EnginePart duplicate_key;  // text: part of the engine's message for a second row of a key
  // Outside a transaction, the statements of a text before one that fails: kept (each committed
  // on its own); none: why they are undone with it.
  EnginePart statements_before_a_failing_one;
  // text: what the commit says after a statement in the transaction failed, when the engine gives
  // the whole transaction up; nullptr: the statements that passed are committed.
  EnginePart failed_statement_in_transaction;
  EnginePart runaway;  // text: a query that runs until it is stopped
  // A statement without rows that runs until stopped, for ExecSQL; nullptr: runaway's text, which
  // the engine runs to its end under ExecSQL too.
  const char* runaway_without_rows;
  // text: part of UnusableReason once the database is gone; none: why the session is not
  // reported unusable, though its statements fail.
  EnginePart lost_session;
  // text: statements making ADD_ONE(A integer) with output B = A + 1; none: the message with
  // which a stored procedure call is refused.
  EnginePart procedure;
  const char* procedure_name;  // ADD_ONE as the engine's catalogue spells it
};

// Every engine, in EngineId order, as the cases' parameters.
std::vector<const Engine*> Engines();

// Cases print their engine by name.
inline void PrintTo(const Engine* engine, std::ostream* out) {
  *out << engine->name;
}

// Names parameterised cases after their engine ("Types.BothWays/Firebird").
struct EngineName {
  std::string operator()(const ::testing::TestParamInfo<const Engine*>& info) const {
    return info.param->name;
  }
};

}  // namespace velmora::test
