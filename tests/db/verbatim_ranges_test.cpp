// The ranges an engine takes as written (its stored-code bodies) make no parameters: a query reads
// its text as the engine of its open connection does, and keeps the values already given.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/core/connection.h"
#include "db/core/driver_registry.h"
#include "db/core/query.h"
#include "db/sqlite/sqlite_connection.h"

namespace velmora::test {
namespace {

// SQLite, with everything from the word "ASIS" on taken as written.
class AsIsTailConnection : public TSQLiteConnection {
 public:
  using TSQLiteConnection::TSQLiteConnection;
  std::vector<TTextRange> VerbatimRanges(std::string_view text) const override {
    const size_t at = text.find("ASIS");
    if (at == std::string_view::npos) return {};
    return {{at + 4, text.size()}};
  }
};

std::vector<std::string> ParamNames(TFDQuery& query) {
  std::vector<std::string> names;
  for (int i = 0; i < query.Params().Count(); ++i) names.push_back(query.Params()[i].Name);
  return names;
}

TEST(VerbatimRanges, AQueryMakesParametersOnlyOutsideTheRangesOfItsEngine) {
  TDriverRegistration as_is("ASISLITE", [](const TStringList& params) {
    return std::make_unique<AsIsTailConnection>(params);
  });
  TFDConnection connection;
  connection.Params().SetText("DriverID=AsIsLite\nDatabase=:memory:");
  TFDQuery query;
  query.SetConnection(&connection);
  // SQLite binds ":B" itself; nothing gives it a value, so it reads NULL.
  query.SQL().SetText("SELECT :A AS A, 'ASIS' AS W, :B AS B");

  // Not yet connected, no engine is known: every marker is a parameter.
  EXPECT_EQ(ParamNames(query), (std::vector<std::string>{"A", "B"}));
  query.ParamByName("A").SetValue(int32_t{7});

  connection.Open();
  EXPECT_EQ(ParamNames(query), (std::vector<std::string>{"A"}));
  query.Open();
  EXPECT_EQ(query.FieldByName("A").AsString(), "7");
  EXPECT_TRUE(query.FieldByName("B").IsNull());

  // Read for the engine once, the text stays so after the connection closes.
  connection.Close();
  EXPECT_EQ(ParamNames(query), (std::vector<std::string>{"A"}));

  // The same text on plain SQLite: both markers are parameters again.
  TFDConnection plain;
  plain.Params().SetText("DriverID=SQLite\nDatabase=:memory:");
  plain.Open();
  query.SetConnection(&plain);
  EXPECT_EQ(ParamNames(query), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(query.ParamByName("A").Value().AsString(), "7");
}

}  // namespace
}  // namespace velmora::test
