// The shell's statement splitter: where a statement ends, over lines as a person types them.
#include "client/statement_splitter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velmora::test {
namespace {

struct SplitCase {
  std::vector<std::string> lines;
  std::vector<std::string> statements;  // complete ones, in order
  bool in_statement;                    // afterwards: the continuation prompt
  std::string rest;                     // what the end of the input runs
};

TEST(StatementSplitterTest, EndsAtSemicolonsOutsideQuotesCommentsAndTriggerBodies) {
  const SplitCase cases[] = {
      {{"SELECT 1;"}, {"SELECT 1"}, false, ""},
      {{"SELECT 1; select 2 ;"}, {"SELECT 1", "select 2"}, false, ""},
      {{"SELECT", "  1", "  ;"}, {"SELECT\n  1"}, false, ""},
      {{"SELECT ';' AS x;"}, {"SELECT ';' AS x"}, false, ""},
      {{"SELECT 'it''s;';"}, {"SELECT 'it''s;'"}, false, ""},
      {{"SELECT 'a", "b;c';"}, {"SELECT 'a\nb;c'"}, false, ""},
      {{"SELECT \"a;b\", `c;d`, [e;f] FROM t;"},
       {"SELECT \"a;b\", `c;d`, [e;f] FROM t"},
       false,
       ""},
      {{"SELECT 1 -- not the end;", "+ 1;"}, {"SELECT 1 -- not the end;\n+ 1"}, false, ""},
      {{"SELECT /* ; */ 1;"}, {"SELECT /* ; */ 1"}, false, ""},
      {{"SELECT /* ;", " ; */ 2;"}, {"SELECT /* ;\n ; */ 2"}, false, ""},
      {{"SELECT $$a;b$$, $tag$ ; $$ ; $tag$;"}, {"SELECT $$a;b$$, $tag$ ; $$ ; $tag$"}, false, ""},
      {{"SELECT $1; SELECT a$b;"}, {"SELECT $1", "SELECT a$b"}, false, ""},
      {{";", "  ;", "-- a comment;", "/* ; */ ;"}, {}, false, ""},
      {{"SELECT 1; -- after"}, {"SELECT 1"}, false, ""},
      {{"CREATE TRIGGER tr AFTER INSERT ON t BEGIN", "  INSERT INTO log VALUES (1);",
        "  UPDATE c SET n = n + 1;", "END;"},
       {"CREATE TRIGGER tr AFTER INSERT ON t BEGIN\n  INSERT INTO log VALUES (1);\n"
        "  UPDATE c SET n = n + 1;\nEND"},
       false,
       ""},
      {{"create temp trigger tr after insert on t begin select 1; end ; SELECT 2;"},
       {"create temp trigger tr after insert on t begin select 1; end", "SELECT 2"},
       false,
       ""},
      {{"CREATE TABLE trigger_log (a);"}, {"CREATE TABLE trigger_log (a)"}, false, ""},
      // Unfinished at the end of the input.
      {{"SELECT 1"}, {}, true, "SELECT 1"},
      {{"SELECT 1; SELECT", "  2  "}, {"SELECT 1"}, true, "SELECT\n  2"},
      {{"SELECT 'open;"}, {}, true, "SELECT 'open;"},
      {{"/* open;"}, {}, true, ""},
      {{"-- only a comment"}, {}, false, ""},
  };
  for (const SplitCase& c : cases) {
    cli::TStatementSplitter splitter;
    std::vector<std::string> statements;
    for (const std::string& line : c.lines) {
      splitter.AddLine(line);
      while (auto statement = splitter.Next()) statements.push_back(*statement);
    }
    const std::string context = ::testing::PrintToString(c.lines);
    EXPECT_EQ(statements, c.statements) << context;
    EXPECT_EQ(splitter.InStatement(), c.in_statement) << context;
    EXPECT_EQ(splitter.TakeRest(), c.rest) << context;
    EXPECT_FALSE(splitter.InStatement()) << context;
  }
}

TEST(StatementSplitterTest, ClearDropsTheUnfinishedStatementAndItsState) {
  cli::TStatementSplitter splitter;
  splitter.AddLine("SELECT 'open quote; /* and more");
  EXPECT_FALSE(splitter.Next());
  EXPECT_TRUE(splitter.InStatement());
  splitter.Clear();
  EXPECT_FALSE(splitter.InStatement());
  splitter.AddLine("SELECT 2;");
  EXPECT_EQ(splitter.Next(), std::optional<std::string>("SELECT 2"));
}

}  // namespace
}  // namespace velmora::test
