// The published interface of TServerModule1 as clients see it: names, parameter counts, results.
#include <gtest/gtest.h>

#include "services/uServerModule.h"

namespace velmora::test {
namespace {

TEST(ServerModuleMethods, PublishesEachMethodWithItsSignature) {
  struct Case {
    const char* name;
    size_t in, out;
    bool result;
  };
  const Case cases[] = {
      {"SQL2OleVariant", 1, 1, true},
      {"ExecSQL", 1, 1, false},
      {"UpdateSQL", 1, 1, false},
      {"GetServerDateTime", 0, 0, true},
      {"UploadFile", 2, 0, true},
      {"DownLoadFile", 1, 1, true},
      {"CheckUpload", 0, 3, true},
      {"ReadData", 2, 1, true},
      {"PostData", 3, 1, false},
      {"DeleteData", 2, 1, false},
      {"UpdateOleVariant", 2, 1, false},
      {"StoredProc", 3, 2, true},
      {"SQLParams2OleVariant", 2, 1, true},
      {"ExecSQLParamSets", 2, 2, true},
  };
  const TDSMethodTable& table = TServerModule1::Methods();
  EXPECT_EQ(table.ClassName(), "TServerModule1");
  EXPECT_EQ(table.Count(), std::size(cases));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TDSMethodInfo* info = table.Find(c.name);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->InCount, c.in);
    EXPECT_EQ(info->OutCount, c.out);
    EXPECT_EQ(info->HasResult, c.result);
  }
  EXPECT_EQ(table.Find("sql2olevariant"), table.Find("SQL2OleVariant"));
}

TEST(ServerModuleMethods, DateTimeTravelsAsDate) {
  TServerModule1 module;
  OleVariant result;
  std::vector<OleVariant> outs;
  TServerModule1::Methods().Find("GetServerDateTime")->Invoke(module, {}, result, outs);
  EXPECT_EQ(result.VarType(), varDate);
  EXPECT_GT(result.AsDouble(), 40000.0);
}

}  // namespace
}  // namespace velmora::test
