#include "db/core/apply_updates_run.h"

#include <fmt/core.h>

#include <algorithm>
#include <memory>
#include <span>
#include <unordered_map>

#include "db/core/db_error.h"

namespace velmora {
namespace {

constexpr const char* kChunkMark = "VELMORA_APPLY_CHUNK";
constexpr const char* kRowMark = "VELMORA_APPLY_ROW";
constexpr size_t kMaxInlineMarkers = 32;

// The transaction that held the changes was ended by the engine (or its commit refused).
struct TransactionLost {};

// The commands of a run, by text: a delta's rows mostly share a few texts, and a driver that can
// run a command again (ExecuteAgain) then parses each text once.
class CommandCache {
 public:
  explicit CommandCache(TDriverConnection& driver) : driver_(driver) {}

  // Runs `sql` with `markers`; returns the rows it touched.
  int64_t Run(const std::string& sql, std::span<TParam* const> markers) {
    auto it = commands_.find(sql);
    if (it != commands_.end()) {
      it->second->SetParams(markers);
      if (it->second->ExecuteAgain()) return it->second->RowsAffected();
      commands_.erase(it);  // the driver cannot: a command of its own each time
    }
    std::unique_ptr<TDriverCommand> command = driver_.CreateCommand(sql);
    command->SetParams(markers);
    command->Execute();
    const int64_t n = command->RowsAffected();
    if (commands_.size() >= kMaxCommands) commands_.clear();
    commands_.emplace(sql, std::move(command));
    return n;
  }

 private:
  static constexpr size_t kMaxCommands = 32;
  TDriverConnection& driver_;
  std::unordered_map<std::string, std::unique_ptr<TDriverCommand>> commands_;
};

// Runs the statement of one change; raises when the engine refuses it or an UPDATE or DELETE
// touches other than exactly one row.
void Execute(CommandCache& commands, TChangeStatement& change, std::string_view table) {
  if (!change.build_error.empty()) throw EFDException(change.build_error);
  TParam* markers[kMaxInlineMarkers];
  std::vector<TParam*> many;
  const size_t count = static_cast<size_t>(change.values.Count());
  TParam** list = markers;
  if (count > kMaxInlineMarkers) {
    many.resize(count);
    list = many.data();
  }
  for (size_t i = 0; i < count; ++i) list[i] = &change.values[static_cast<int>(i)];
  const int64_t n = commands.Run(change.sql, std::span<TParam* const>(list, count));
  if (change.status != usInserted && n != 1) {
    throw EFDException(fmt::format("{} of a row of [{}] affected {} rows instead of 1",
                                   change.status == usModified ? "Update" : "Delete", table, n));
  }
}

bool Empty(const TChangeStatement& change) {
  return change.sql.empty() && change.build_error.empty();
}

// Runs changes [from, to) on the grouped path; records their outcomes. Raises TransactionLost.
class GroupedRun {
 public:
  GroupedRun(TDriverConnection& driver, std::vector<TChangeStatement>& changes,
             std::vector<TChangeOutcome>& outcomes, std::string_view table, int max_errors)
      : driver_(driver),
        commands_(driver),
        changes_(changes),
        outcomes_(outcomes),
        table_(table),
        max_errors_(max_errors) {}

  void Run() {
    const size_t count = changes_.size();
    for (size_t from = 0; from < count && !Stopped(); from += kApplyChunkRows) {
      const size_t to = std::min(count, from + kApplyChunkRows);
      // A chunk may run whole only while no error limit can be reached inside it.
      if (max_errors_ < 0 && to - from > 1 && RunChunk(from, to)) continue;
      for (size_t i = from; i < to && !Stopped(); ++i) RunRow(i);
    }
  }

 private:
  bool Stopped() const { return max_errors_ >= 0 && errors_ > max_errors_; }

  void CheckTransaction() const {
    if (!driver_.InTransaction()) throw TransactionLost{};
  }

  // All rows of the chunk under one savepoint; false (and nothing kept) when one of them fails.
  bool RunChunk(size_t from, size_t to) {
    driver_.Savepoint(kChunkMark);
    for (size_t i = from; i < to; ++i) {
      if (Empty(changes_[i])) continue;
      try {
        Execute(commands_, changes_[i], table_);
      } catch (const std::exception&) {
        CheckTransaction();
        driver_.RollbackToSavepoint(kChunkMark);
        driver_.ReleaseSavepoint(kChunkMark);
        return false;
      }
      CheckTransaction();
    }
    driver_.ReleaseSavepoint(kChunkMark);
    for (size_t i = from; i < to; ++i) outcomes_[i] = {true, {}};
    return true;
  }

  void RunRow(size_t i) {
    TChangeOutcome& outcome = outcomes_[i];
    outcome = {true, {}};
    if (Empty(changes_[i])) return;
    if (!changes_[i].build_error.empty()) {
      Refuse(outcome, changes_[i].build_error);
      return;
    }
    driver_.Savepoint(kRowMark);
    try {
      Execute(commands_, changes_[i], table_);
    } catch (const std::exception& e) {
      std::string message = e.what();
      CheckTransaction();
      driver_.RollbackToSavepoint(kRowMark);
      driver_.ReleaseSavepoint(kRowMark);
      Refuse(outcome, std::move(message));
      return;
    }
    CheckTransaction();
    driver_.ReleaseSavepoint(kRowMark);
  }

  void Refuse(TChangeOutcome& outcome, std::string message) {
    outcome.error = std::move(message);
    ++errors_;
  }

  TDriverConnection& driver_;
  CommandCache commands_;
  std::vector<TChangeStatement>& changes_;
  std::vector<TChangeOutcome>& outcomes_;
  std::string_view table_;
  int max_errors_;
  int errors_ = 0;
};

// One transaction per change: the way back when the grouped transaction was lost.
std::vector<TChangeOutcome> RunEachAlone(TDriverConnection& driver,
                                         std::vector<TChangeStatement>& changes,
                                         std::string_view table, int max_errors) {
  std::vector<TChangeOutcome> outcomes(changes.size());
  CommandCache commands(driver);
  int errors = 0;
  for (size_t i = 0; i < changes.size(); ++i) {
    if (max_errors >= 0 && errors > max_errors) break;
    outcomes[i].attempted = true;
    if (Empty(changes[i])) continue;
    driver.StartTransaction();
    try {
      Execute(commands, changes[i], table);
      driver.Commit();
    } catch (const std::exception& e) {
      outcomes[i].error = e.what();
      ++errors;
      // An engine that rolled the transaction back itself leaves nothing to undo.
      if (driver.InTransaction()) driver.Rollback();
    }
  }
  return outcomes;
}

// Ends a transaction that may already be gone; never raises.
void AbandonTransaction(TDriverConnection& driver) noexcept {
  try {
    if (driver.InTransaction()) driver.Rollback();
  } catch (const std::exception&) {
  }
}

}  // namespace

std::vector<TChangeOutcome> RunChanges(TDriverConnection& driver,
                                       std::vector<TChangeStatement>& changes,
                                       std::string_view table, int max_errors) {
  std::vector<TChangeOutcome> outcomes(changes.size());
  if (changes.empty()) return outcomes;
  const bool own = !driver.InTransaction();
  if (!own) {
    try {
      GroupedRun(driver, changes, outcomes, table, max_errors).Run();
    } catch (const TransactionLost&) {
      throw EFDException("The database rolled back the transaction while the changes were applied");
    }
    return outcomes;
  }

  driver.StartTransaction();
  try {
    GroupedRun(driver, changes, outcomes, table, max_errors).Run();
    driver.Commit();
    return outcomes;
  } catch (const TransactionLost&) {
  } catch (const std::exception&) {
    // A savepoint the engine refused, or a refused commit: whatever the transaction held is
    // undone here, and the changes run again one by one, which reports each on its own.
  }
  AbandonTransaction(driver);
  return RunEachAlone(driver, changes, table, max_errors);
}

}  // namespace velmora
