// Cutting Firebird command text into statements.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/core/command_text.h"
#include "db/firebird/fb_statement_split.h"

namespace velmora {
namespace {

struct SplitCase {
  const char* name;
  const char* text;
  std::vector<std::string> statements;
};

TEST(FbStatementSplit, CutsAtSemicolonsOutsideLiteralsCommentsAndPsqlBodies) {
  const SplitCase cases[] = {
      {"one without ;", "SELECT 1 FROM RDB$DATABASE", {"SELECT 1 FROM RDB$DATABASE"}},
      {"two, blanks dropped",
       "INSERT INTO T VALUES (1);\r\n  ;UPDATE T SET A = 2;  \n",
       {"INSERT INTO T VALUES (1)", "UPDATE T SET A = 2"}},
      {"literals and identifiers",
       "SELECT 'a;b', \"c;d\", 'it''s;' FROM T; SELECT 2",
       {"SELECT 'a;b', \"c;d\", 'it''s;' FROM T", "SELECT 2"}},
      {"q-string", "SELECT q'{x;'y}' FROM T;SELECT 3", {"SELECT q'{x;'y}' FROM T", "SELECT 3"}},
      {"comments",
       "SELECT 1 -- not; here\nFROM T /* nor; here */; -- only a comment;\n",
       {"SELECT 1 -- not; here\nFROM T /* nor; here */"}},
      {"CASE ... END in a plain statement",
       "SELECT CASE WHEN A = 1 THEN 'x' END FROM T; SELECT 4",
       {"SELECT CASE WHEN A = 1 THEN 'x' END FROM T", "SELECT 4"}},
      {"procedure with declarations and nested blocks",
       "CREATE PROCEDURE P (A INTEGER) RETURNS (B INTEGER) AS\n"
       "DECLARE VARIABLE V INTEGER;\nBEGIN\n  V = A * 2;\n  IF (V > 1) THEN BEGIN B = V; END\n"
       "  B = CASE WHEN V > 0 THEN V ELSE 0 END;\n  SUSPEND;\nEND;\nSELECT * FROM P(1)",
       {"CREATE PROCEDURE P (A INTEGER) RETURNS (B INTEGER) AS\n"
        "DECLARE VARIABLE V INTEGER;\nBEGIN\n  V = A * 2;\n  IF (V > 1) THEN BEGIN B = V; END\n"
        "  B = CASE WHEN V > 0 THEN V ELSE 0 END;\n  SUSPEND;\nEND",
        "SELECT * FROM P(1)"}},
      {"sub-routine before the main block",
       "EXECUTE BLOCK RETURNS (R INTEGER) AS\nDECLARE PROCEDURE SUB RETURNS (X INTEGER) AS\n"
       "BEGIN X = 1; END\nBEGIN EXECUTE PROCEDURE SUB RETURNING_VALUES :R; SUSPEND; END",
       {"EXECUTE BLOCK RETURNS (R INTEGER) AS\nDECLARE PROCEDURE SUB RETURNS (X INTEGER) AS\n"
        "BEGIN X = 1; END\nBEGIN EXECUTE PROCEDURE SUB RETURNING_VALUES :R; SUSPEND; END"}},
      {"trigger, then a statement",
       "create or alter trigger TI for T before insert as begin new.A = 1; end; DELETE FROM T",
       {"create or alter trigger TI for T before insert as begin new.A = 1; end", "DELETE FROM T"}},
      {"module statement without a body",
       "ALTER TRIGGER TI INACTIVE; DROP TRIGGER TI",
       {"ALTER TRIGGER TI INACTIVE", "DROP TRIGGER TI"}},
      {"words that only contain the keywords",
       "SELECT BEGIN_AT, END_AT FROM T; SELECT 5",
       {"SELECT BEGIN_AT, END_AT FROM T", "SELECT 5"}},
      {"SET TERM",
       "SET TERM ^ ;\nCREATE PROCEDURE P AS BEGIN EXIT; END^\nSET TERM ; ^\nSELECT 6 FROM T;",
       {"CREATE PROCEDURE P AS BEGIN EXIT; END", "SELECT 6 FROM T"}},
      {"nothing", " \n-- \n", {}},
  };
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SplitFirebirdStatements(c.text), c.statements);
  }
}

// ":NAME" inside a PSQL body is the procedure's own variable: the command-text layer leaves the
// body as written, and makes markers only outside it (EXECUTE BLOCK's inputs, other statements).
TEST(FbStatementSplit, PsqlBodiesKeepTheirVariablesAndOnlyMarkersOutsideThemBecomeParameters) {
  const std::string text =
      "EXECUTE BLOCK (LO INTEGER = :LO) RETURNS (N INTEGER) AS\n"
      "BEGIN FOR SELECT ID FROM T WHERE ID >= :LO INTO :N DO SUSPEND; END;\n"
      "UPDATE T SET V = :V WHERE ID = :LO";
  const std::vector<TFbTextRange> bodies = FirebirdPsqlBodies(text);
  ASSERT_EQ(bodies.size(), 1u);
  EXPECT_EQ(text.substr(bodies[0].begin, bodies[0].end - bodies[0].begin),
            "\nBEGIN FOR SELECT ID FROM T WHERE ID >= :LO INTO :N DO SUSPEND; END");
  const TCommandText parsed =
      PreprocessCommandText(text, RenderEscapePlain, kFirebirdSqlDialect, bodies);
  EXPECT_EQ(parsed.sql,
            "EXECUTE BLOCK (LO INTEGER = ?) RETURNS (N INTEGER) AS\n"
            "BEGIN FOR SELECT ID FROM T WHERE ID >= :LO INTO :N DO SUSPEND; END;\n"
            "UPDATE T SET V = ? WHERE ID = ?");
  EXPECT_EQ(parsed.names, (std::vector<std::string>{"LO", "V"}));
  EXPECT_EQ(parsed.markers, (std::vector<int>{0, 1, 0}));
  // Outside module statements the layer's rules are unchanged.
  EXPECT_EQ(PreprocessCommandText("SELECT A AS X FROM T WHERE B = :B", RenderEscapePlain).sql,
            "SELECT A AS X FROM T WHERE B = ?");
}

}  // namespace
}  // namespace velmora
