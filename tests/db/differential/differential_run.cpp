#include "tests/db/differential/differential_run.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <utility>

#include "db/core/lifting_switch.h"

namespace velmora::test::differential {
namespace {

enum class Check { kNone, kEngine, kLifting };

struct Step {
  bool is_query = true;
  Query query;
  Change change;
};

// What reproduces a difference: the tables as made, then the steps; the last step is the query
// that differs.
struct Scenario {
  std::vector<Table> tables;
  bool tables_from_server = false;
  std::vector<Step> steps;
};

struct Finding {
  Check check = Check::kNone;
  std::string detail;
  Outcome engine, lifted, unlifted;
};

constexpr size_t kQueriesPerRound = 6;
constexpr size_t kChangesPerRound = 2;
constexpr size_t kMaxDifferences = 8;
constexpr int kShrinkReplays = 80;

// Every way of making a query smaller by one part.
std::vector<Query> SmallerQueries(const Query& q) {
  std::vector<Query> out;
  auto with = [&](auto change) {
    Query smaller = q;
    change(smaller);
    out.push_back(std::move(smaller));
  };
  if (q.arms.size() > 1) with([](Query& s) { s.arms.pop_back(); });
  if (!q.limit.empty()) with([](Query& s) { s.limit.clear(); });
  if (!q.order_by.empty()) {
    with([](Query& s) {
      s.order_by.clear();
      s.limit.clear();
      s.fully_ordered = false;
    });
  }
  for (size_t a = 0; a < q.arms.size(); ++a) {
    const Select& arm = q.arms[a];
    for (size_t w = 0; w < arm.where.size(); ++w) {
      with(
          [&](Query& s) { s.arms[a].where.erase(s.arms[a].where.begin() + static_cast<long>(w)); });
    }
    if (arm.distinct) with([&](Query& s) { s.arms[a].distinct = false; });
    if (!arm.having.empty()) with([&](Query& s) { s.arms[a].having.clear(); });
    if (q.arms.size() == 1 && q.order_by.empty() && arm.group_by.empty()) {
      for (size_t i = 0; arm.items.size() > 1 && i < arm.items.size(); ++i) {
        with([&](Query& s) {
          s.arms[a].items.erase(s.arms[a].items.begin() + static_cast<long>(i));
        });
      }
    }
  }
  return out;
}

class Runner {
 public:
  explicit Runner(const RunSettings& settings)
      : s_(settings),
        engine_(settings.open_engine()),
        generator_(settings.dialect, settings.seed) {}

  RunReport Run();

 private:
  Finding RunQuery(const Query& q, const std::string& prefix);
  void Apply(const Change& c, const std::string& prefix);
  void Create(const std::vector<Table>& tables, bool from_server, const std::string& prefix);
  void ResetSettings();
  Finding Replay(const Scenario& sc, const std::string& prefix);
  Scenario Shrink(Scenario sc, Check check);
  std::string Report(const Scenario& sc, const Finding& f);

  RunSettings s_;
  std::unique_ptr<Session> engine_;
  SqlGenerator generator_;
  int replays_ = 0;
  std::vector<std::string> settings_;  // in effect in the engine's session, sent with each text
  // VELMORA_DIFF_TRACE set: every text and what the engine gave, on the standard error.
  const bool trace_ = std::getenv("VELMORA_DIFF_TRACE") != nullptr;
};

Finding Runner::RunQuery(const Query& q, const std::string& prefix) {
  const std::string text = WithPrefix(q.Text(), prefix);
  // The server gives each call a session as its pool resets it: the settings in effect go with
  // the text, ahead of it.
  std::string server_text;
  for (const std::string& setting : settings_) server_text += setting + "; ";
  server_text += text;
  Finding f;
  f.engine = engine_->Query(text);
  if (trace_) std::cerr << text << "\n  engine: " << Describe(f.engine) << "\n";
  f.lifted = s_.server->Query(server_text);
  SetLiteralLifting(false);
  f.unlifted = s_.server->Query(server_text);
  SetLiteralLifting(true);
  if (std::string d = Difference(f.engine, f.lifted, q.fully_ordered); !d.empty()) {
    f.check = Check::kEngine;
    f.detail = std::move(d);
  } else if (std::string l = ServerDifference(f.lifted, f.unlifted, q.fully_ordered); !l.empty()) {
    f.check = Check::kLifting;
    f.detail = "with literal lifting and without: " + l;
  }
  return f;
}

void Runner::Apply(const Change& c, const std::string& prefix) {
  // A change the catalogue refuses (a column a view needs) leaves it as it was: both sides then
  // see the same catalogue, which is all that matters here.
  for (const std::string& statement : c.statements) {
    const std::string text = WithPrefix(statement, prefix);
    if (trace_) std::cerr << "-- " << c.what << ": " << text << "\n";
    (c.from_server ? s_.server : engine_.get())->Exec(text);
  }
  for (const std::string& setting : c.settings) {
    const std::string text = WithPrefix(setting, prefix);
    if (trace_) std::cerr << "-- " << c.what << ", both sessions: " << text << "\n";
    settings_.push_back(text);
    engine_->Exec(text);
  }
}

void Runner::Create(const std::vector<Table>& tables, bool from_server, const std::string& prefix) {
  Session& session = from_server ? *s_.server : *engine_;
  for (const Table& t : tables) {
    session.Exec(WithPrefix(t.CreateText(), prefix));
    for (size_t r = 0; r < t.rows.size(); ++r) session.Exec(WithPrefix(t.InsertText(r), prefix));
  }
}

void Runner::ResetSettings() {
  settings_.clear();
  if (s_.dialect == Dialect::kPg) engine_->Exec("RESET ALL");
}

Finding Runner::Replay(const Scenario& sc, const std::string& prefix) {
  ++replays_;
  ResetSettings();
  Create(sc.tables, sc.tables_from_server, prefix);
  Finding last;
  for (const Step& step : sc.steps) {
    if (step.is_query) {
      last = RunQuery(step.query, prefix);
    } else {
      Apply(step.change, prefix);
    }
  }
  ResetSettings();
  return last;
}

Scenario Runner::Shrink(Scenario sc, Check check) {
  int budget = kShrinkReplays;
  auto still_differs = [&](const Scenario& candidate) {
    --budget;
    return Replay(candidate, fmt::format("z{}_", replays_)).check == check;
  };
  bool progress = true;
  while (progress && budget > 0) {
    progress = false;
    std::vector<Scenario> candidates;
    // Earlier steps.
    for (size_t i = 0; i + 1 < sc.steps.size(); ++i) {
      Scenario c = sc;
      c.steps.erase(c.steps.begin() + static_cast<long>(i));
      candidates.push_back(std::move(c));
    }
    // Statements of a change (the rows a re-created table gets).
    for (size_t i = 0; i + 1 < sc.steps.size(); ++i) {
      const auto& statements = sc.steps[i].change.statements;
      for (size_t k = 1; !sc.steps[i].is_query && k < statements.size(); ++k) {
        Scenario c = sc;
        auto& st = c.steps[i].change.statements;
        st.erase(st.begin() + static_cast<long>(k));
        candidates.push_back(std::move(c));
      }
    }
    // Tables and columns (a query that needs them then fails on both sides alike).
    for (size_t t = 0; t < sc.tables.size(); ++t) {
      Scenario c = sc;
      c.tables.erase(c.tables.begin() + static_cast<long>(t));
      candidates.push_back(std::move(c));
      for (size_t k = 0; sc.tables[t].columns.size() > 1 && k < sc.tables[t].columns.size(); ++k) {
        Scenario d = sc;
        Table& table = d.tables[t];
        table.columns.erase(table.columns.begin() + static_cast<long>(k));
        for (auto& row : table.rows) row.erase(row.begin() + static_cast<long>(k));
        candidates.push_back(std::move(d));
      }
    }
    // Rows.
    for (size_t t = 0; t < sc.tables.size(); ++t) {
      for (size_t r = 0; r < sc.tables[t].rows.size(); ++r) {
        Scenario c = sc;
        c.tables[t].rows.erase(c.tables[t].rows.begin() + static_cast<long>(r));
        candidates.push_back(std::move(c));
      }
    }
    // Parts of the query; the same text run earlier is made smaller alike, so that what the
    // server kept from it still applies.
    const std::string text = sc.steps.back().query.Text();
    for (Query& smaller : SmallerQueries(sc.steps.back().query)) {
      Scenario c = sc;
      for (Step& step : c.steps) {
        if (step.is_query && step.query.Text() == text) step.query = smaller;
      }
      candidates.push_back(std::move(c));
    }
    for (Scenario& c : candidates) {
      if (budget <= 0) break;
      if (still_differs(c)) {
        sc = std::move(c);
        progress = true;
        break;
      }
    }
  }
  return sc;
}

std::string Runner::Report(const Scenario& sc, const Finding& f) {
  std::string out = fmt::format("seed {}: {}\n", s_.seed, f.detail);
  out += sc.tables_from_server ? "-- through the server:\n" : "-- in the engine's own session:\n";
  for (const Table& t : sc.tables) {
    out += WithPrefix(t.CreateText(), "") + ";\n";
    for (size_t r = 0; r < t.rows.size(); ++r) out += WithPrefix(t.InsertText(r), "") + ";\n";
  }
  for (size_t i = 0; i < sc.steps.size(); ++i) {
    const Step& step = sc.steps[i];
    if (step.is_query) {
      out += i + 1 == sc.steps.size() ? "-- through the server and the engine; it differs:\n"
                                      : "-- through the server:\n";
      out += WithPrefix(step.query.Text(), "") + ";\n";
      continue;
    }
    const Change& change = step.change;
    if (!change.statements.empty()) {
      out += "-- " + change.what + ", " +
             (change.from_server ? "through the server" : "in the engine's own session") + ":\n";
      for (const std::string& statement : change.statements) {
        out += WithPrefix(statement, "") + ";\n";
      }
    }
    if (!change.settings.empty()) {
      out += "-- " + change.what + ", in the engine's session and ahead of each later text " +
             "sent to the server:\n";
    }
    for (const std::string& setting : change.settings) out += WithPrefix(setting, "") + ";\n";
  }
  out += "-- engine: " + Describe(f.engine) + "\n";
  out += "-- server: " + Describe(f.lifted) + "\n";
  if (f.check == Check::kLifting) out += "-- server, lifting off: " + Describe(f.unlifted) + "\n";
  return out;
}

RunReport Runner::Run() {
  RunReport report;
  const auto start = std::chrono::steady_clock::now();
  auto elapsed = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  Prng& prng = generator_.Random();
  for (int round = 0; elapsed() < s_.seconds && report.differences.size() < kMaxDifferences;
       ++round) {
    const std::string prefix = fmt::format("d{}_", round);
    Scenario sc;
    sc.tables = generator_.MakeTables();
    sc.tables_from_server = prng.Chance(30);
    Create(sc.tables, sc.tables_from_server, prefix);
    std::vector<Table> tables = sc.tables;
    std::vector<Query> queries;
    for (size_t i = 0; i < kQueriesPerRound; ++i) queries.push_back(generator_.MakeQuery(tables));

    bool found = false;
    auto run = [&](const Query& q) {
      sc.steps.push_back({true, q, {}});
      const Finding f = RunQuery(q, prefix);
      ++report.queries;
      if (f.engine.failed && f.lifted.failed) ++report.failed_both;
      if (f.check == Check::kNone) return;
      found = true;
      Scenario small = Shrink(sc, f.check);
      // The shrunk case, replayed once more for the outcome it shows; the engine's messages
      // then name the tables as the case does.
      const std::string replay_prefix = fmt::format("z{}_", replays_);
      const Finding shown = Replay(small, replay_prefix);
      std::string text = Report(small, shown.check == f.check ? shown : f);
      for (size_t at; (at = text.find(replay_prefix)) != std::string::npos;) {
        text.erase(at, replay_prefix.size());
      }
      report.differences.push_back(std::move(text));
    };
    for (const Query& q : queries) {
      if (!found) run(q);
    }
    for (size_t c = 0; c < kChangesPerRound && !found && elapsed() < s_.seconds; ++c) {
      Change change = generator_.MakeChange(tables);
      Apply(change, prefix);
      sc.steps.push_back({false, {}, std::move(change)});
      ++report.changes;
      queries.push_back(generator_.MakeQuery(tables));
      for (const Query& q : queries) {
        if (!found) run(q);
      }
    }
    ResetSettings();
  }
  report.seconds = elapsed();
  return report;
}

}  // namespace

RunReport RunDifferential(const RunSettings& settings) {
  Runner runner(settings);
  return runner.Run();
}

void ExpectAgreement(RunSettings settings) {
  settings.seed = SeedFromEnvironment(settings.seed);
  settings.seconds = SecondsFromEnvironment(settings.seconds);
  const RunReport report = RunDifferential(settings);
  std::cout << report.queries << " texts (" << report.failed_both << " refused by both), "
            << report.changes << " changes in " << report.seconds << " s, seed " << settings.seed
            << "\n";
  EXPECT_GT(report.queries, 0u);
  for (const std::string& d : report.differences) ADD_FAILURE() << d;
}

uint64_t SeedFromEnvironment(uint64_t fallback) {
  const char* text = std::getenv("VELMORA_DIFF_SEED");
  return text && *text ? std::strtoull(text, nullptr, 10) : fallback;
}

double SecondsFromEnvironment(double fallback) {
  const char* text = std::getenv("VELMORA_DIFF_SECONDS");
  return text && *text ? std::strtod(text, nullptr) : fallback;
}

}  // namespace velmora::test::differential
