// Date-time text reads the same wherever it enters: assigned to a dataset's date-time field, or
// read back by the SQLite driver from a DATETIME column holding text. Both follow
// ParseDateTimeText; these are the texts on which the two paths once disagreed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "data/dataset.h"
#include "db/core/db_error.h"
#include "tests/db/sqlite_test_support.h"
#include "variant/date_time_text.h"

namespace velmora::test {
namespace {

TEST_F(SQLiteTest, DateTimeTextReadsTheSameOnTheDatasetAndTheDriverPath) {
  const std::vector<std::string> texts = {"2024-1-5",      "2024-01-05 9:05",  "2023-02-29",
                                          "2024-04-31",    "2024-01-05Z",      "2024-01-05t10:11",
                                          " 2024-01-05\n", "2024-01-05 10:11", "yesterday"};
  Exec("CREATE TABLE DT (K INTEGER PRIMARY KEY, D DATETIME)");
  for (size_t k = 0; k < texts.size(); ++k) {
    const std::string& text = texts[k];
    SCOPED_TRACE("\"" + text + "\"");
    double expected = 0;
    const bool valid = ParseDateTimeText(text, expected);

    TFDQuery insert;
    insert.SetConnection(&connection_);
    insert.SQL().SetText("INSERT INTO DT (K, D) VALUES (:K, :D)");
    insert.ParamByName("K").SetValue(OleVariant(static_cast<int32_t>(k)));
    insert.ParamByName("D").DataType = ftWideString;
    insert.ParamByName("D").SetValue(OleVariant(text));
    insert.ExecSQL();
    TFDQuery read;
    read.SetConnection(&connection_);
    read.SQL().SetText("SELECT D FROM DT WHERE K = " + std::to_string(k));
    if (valid) {
      read.Open();
      EXPECT_DOUBLE_EQ(read.Fields(0).AsFloat(), expected) << "driver";
    } else {
      EXPECT_THROW(read.Open(), EFDException) << "driver";
    }

    TDataSet ds;
    ds.FieldDefs().Add("D", ftDateTime);
    ds.Open();
    ds.Append();
    if (valid) {
      ds.FieldByName("D") = OleVariant(text);
      EXPECT_DOUBLE_EQ(ds.FieldByName("D").AsFloat(), expected) << "dataset";
    } else {
      EXPECT_THROW(ds.FieldByName("D") = OleVariant(text), EDatabaseError) << "dataset";
    }
  }
}

}  // namespace
}  // namespace velmora::test
