// The clients read SQL text as the server does: one table of cases (tests/cases/
// sql_split_cases.json, read by the Python driver's tests too) holds what psql sends for each text
// and whether each statement returns rows, and the server's PostgreSQL splitter, velmora-cli's
// splitter and the client library's row rule must each agree with it; the "?" markers the server
// binds values to (positional_markers.h, read in PostgreSQL's dialect) must be the ones it holds.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "client/statement_kind.h"
#include "client/statement_splitter.h"
#include "db/core/positional_markers.h"
#include "db/core/sql_dialects.h"
#include "db/pg/pg_command_text.h"

namespace velmora::test {
namespace {

struct SplitCase {
  std::string sql;
  std::vector<std::string> statements;
  std::vector<bool> rows;
  size_t markers = 0;
};

std::vector<SplitCase> LoadCases() {
  std::ifstream in(VELMORA_SQL_SPLIT_CASES);
  if (!in) throw std::runtime_error("cannot read " VELMORA_SQL_SPLIT_CASES);
  const nlohmann::json table = nlohmann::json::parse(in);
  std::vector<SplitCase> cases;
  for (const nlohmann::json& c : table.at("cases")) {
    cases.push_back({c.at("sql").get<std::string>(),
                     c.at("statements").get<std::vector<std::string>>(),
                     c.at("rows").get<std::vector<bool>>(), c.at("markers").get<size_t>()});
  }
  return cases;
}

std::string Trimmed(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return std::string(s);
}

// The statements as the server's PostgreSQL splitter cuts the text (markers left as written).
std::vector<std::string> ServerStatements(const SplitCase& c) {
  std::vector<std::string> out;
  for (const TPgStatement& s : SplitPgCommandText(c.sql, 0)) out.push_back(Trimmed(s.sql));
  return out;
}

// The statements as velmora-cli cuts the text, given a line at a time.
std::vector<std::string> ClientStatements(const SplitCase& c) {
  cli::TStatementSplitter splitter;
  std::vector<std::string> out;
  std::string_view rest = c.sql;
  for (;;) {
    const size_t eol = rest.find('\n');
    splitter.AddLine(rest.substr(0, eol));
    while (auto statement = splitter.Next()) out.push_back(*statement);
    if (eol == std::string_view::npos) break;
    rest.remove_prefix(eol + 1);
  }
  if (std::string last = splitter.TakeRest(); !last.empty()) out.push_back(last);
  return out;
}

TEST(SqlSplitCases, ServerAndClientCutTheSameStatementsAndAgreeOnRows) {
  const std::vector<SplitCase> cases = LoadCases();
  ASSERT_FALSE(cases.empty());
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(c.sql);
    ASSERT_EQ(c.rows.size(), c.statements.size()) << "a row value for each statement";
    EXPECT_EQ(ServerStatements(c), c.statements);
    // The server's count of "?" markers: it refuses a text whose markers differ from the
    // parameters given.
    EXPECT_NO_THROW(SplitPgCommandText(c.sql, c.markers));
    // The markers the bound-value methods give values to, read as PostgreSQL reads the text.
    EXPECT_EQ(NamePositionalMarkers(c.sql, kPostgresSqlDialect).positional, c.markers);
    EXPECT_EQ(ClientStatements(c), c.statements);
    for (size_t i = 0; i < c.statements.size(); ++i) {
      EXPECT_EQ(StatementKindOf(c.statements[i]) == StatementKind::Rows, c.rows[i])
          << c.statements[i];
    }
  }
}

}  // namespace
}  // namespace velmora::test
