// Delta apply over ODBC-to-PostgreSQL: the key the driver reports finds each row, so rows whose
// time stamps (microseconds) and floats could never match on every original value are updated
// and deleted all the same.
#include <gtest/gtest.h>

#include "data/memory_stream.h"
#include "tests/db/odbc/odbc_pg_support.h"
#include "tests/db/odbc/odbc_test_support.h"

namespace velmora::test {
namespace {

TEST(OdbcPgDelta, ChangesFindTheirRowsByKey) {
  REQUIRE_PG_SERVER(server);
  PgTestDatabase db(server);
  db.Psql(
      "CREATE TABLE items (id int PRIMARY KEY, seen timestamp, ratio double precision, "
      "name varchar(20));"
      "INSERT INTO items VALUES (1, '2024-01-01 10:00:00.123456', 0.1 + 0.2, 'one'),"
      "(2, '2024-01-02 10:00:00.654321', 1.0 / 3, 'two');");
  auto connection = OpenOdbc(OdbcPgLines(db));

  TFDQuery source;
  source.SetConnection(connection.get());
  source.SQL().SetText("SELECT id, seen, ratio, name FROM items ORDER BY id");
  source.Open();
  TMemoryStream packet;
  source.SaveToStream(packet, sfAuto);
  source.Close();
  packet.SetPosition(0);
  TFDQuery client;
  client.LoadFromStream(packet, sfAuto);
  client.SetCachedUpdates(true);
  client.Locate("id", int64_t{1});
  client.Edit();
  client.FieldByName("name") = OleVariant("renamed 名");
  client.Post();
  client.Locate("id", int64_t{2});
  client.Delete();
  client.Append();
  client.FieldByName("id") = OleVariant(int64_t{3});
  client.FieldByName("name") = OleVariant("three");
  client.Post();

  TMemoryStream delta;
  client.SaveToStream(delta, sfAuto);
  delta.SetPosition(0);
  TFDQuery applier;
  applier.SetConnection(connection.get());
  applier.UpdateOptions.UpdateTableName = "items";
  applier.LoadFromStream(delta, sfAuto);
  EXPECT_EQ(applier.ApplyUpdates(-1), 0);
  EXPECT_EQ(db.Psql("SELECT string_agg(id || ':' || name, ',' ORDER BY id) FROM items"),
            "1:renamed 名,3:three\n");
  EXPECT_EQ(db.Psql("SELECT seen FROM items WHERE id = 1"), "2024-01-01 10:00:00.123456\n");

  // The same change to a table without a key must match every original value, and the time
  // stamp read to the millisecond never equals the stored microseconds: refused.
  db.Psql("CREATE TABLE loose AS SELECT * FROM items");
  TFDQuery loose;
  loose.SetConnection(connection.get());
  loose.SQL().SetText("SELECT id, seen, name FROM loose WHERE id = 1");
  loose.Open();
  EXPECT_FALSE(loose.FieldDefs().Find("id")->InKey);
  loose.SetCachedUpdates(true);
  loose.Edit();
  loose.FieldByName("name") = OleVariant("again");
  loose.Post();
  loose.UpdateOptions.UpdateTableName = "loose";
  EXPECT_EQ(loose.ApplyUpdates(-1), 1);
}

}  // namespace
}  // namespace velmora::test
