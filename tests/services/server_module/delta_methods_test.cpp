// UpdateOleVariant and StoredProc called over TCP on a server with a SQLite database.
#include <gtest/gtest.h>

#include "client/delta_edit.h"
#include "codec/packets.h"
#include "codec/uMemoryStream2OLEVariant.h"
#include "dbpool/database_pools.h"
#include "rpc/rpc_errors.h"
#include "tests/support/server_fixture.h"

namespace velmora::test {
namespace {

using DeltaMethods = ServerFixture;

// A client's edit of BIG_TABLE rows read through the server, with ID as the key.
std::unique_ptr<TFDMemTable> Editable(TDSClientChannel& channel, const std::string& sql) {
  auto [packet, err] = ServerFixture::Sql(channel, sql);
  EXPECT_EQ(err, "");
  auto table = std::make_unique<TFDMemTable>();
  LoadForEditing(packet, *table);
  SetKeyFields(*table, {"ID"});
  return table;
}

void Rename(TFDMemTable& table, int64_t id, const std::string& name) {
  ASSERT_TRUE(table.Locate("ID", id));
  table.Edit();
  table.FieldByName("NAME") = OleVariant(name);
  table.Post();
}

// UpdateOleVariant's ErrMsg (the result is checked to be absent).
std::string Apply(TDSClientChannel& channel, const std::string& table, const OleVariant& delta) {
  TDSCallResult r = ServerFixture::Call(channel, "UpdateOleVariant", {OleVariant(table), delta});
  EXPECT_EQ(r.Outs.size(), 1u);
  return r.Outs.empty() ? "<none>" : r.Outs[0].AsString();
}

std::string Names(TDSClientChannel& channel, const std::string& where) {
  auto [packet, err] = ServerFixture::Sql(
      channel,
      "SELECT group_concat(ID || ':' || NAME, ' ') AS S FROM (SELECT * FROM BIG_TABLE "
      "WHERE " +
          where + " ORDER BY ID)");
  EXPECT_EQ(err, "");
  return ServerFixture::Load(packet)->FieldByName("S").AsString();
}

void ExpectStoredProcsGivenBack() {
  for (size_t i = 0; i < FDStoredProcPool()->Count(); ++i)
    EXPECT_EQ(FDStoredProcPool()->TagOf(FDStoredProcPool()->Item(i)), 0) << "procedure " << i;
}

TEST_F(DeltaMethods, EveryChangeAppliedLeavesErrMsgEmpty) {
  auto client = Connect();
  auto rows = Editable(*client, "SELECT ID, NAME FROM BIG_TABLE WHERE ID <= 4");
  Rename(*rows, 2, "two");
  ASSERT_TRUE(rows->Locate("ID", int64_t{3}));
  rows->Delete();
  rows->Append();
  rows->FieldByName("ID") = OleVariant(int64_t{100});
  rows->FieldByName("NAME") = OleVariant("hundred");
  rows->Post();
  EXPECT_EQ(Apply(*client, "BIG_TABLE", WriteDeltaPacket(*rows)), "");
  EXPECT_EQ(Names(*client, "ID IN (2, 3, 100)"), "2:two 100:hundred");

  // A delta without a logged change applies nothing.
  auto unchanged = Editable(*client, "SELECT ID, NAME FROM BIG_TABLE WHERE ID <= 2");
  EXPECT_EQ(Apply(*client, "BIG_TABLE", WriteDeltaPacket(*unchanged)), "");
  ExpectAllGivenBack();
}

// Two refused rows, one of them a deletion, come back back to back in the order of the rows;
// the accepted change stays. A wrong table name refuses every change with the engine's message.
TEST_F(DeltaMethods, RefusedRowsMessagesComeBackToBack) {
  auto client = Connect();
  auto rows = Editable(*client, "SELECT ID, NAME FROM BIG_TABLE WHERE ID <= 4");
  ASSERT_TRUE(rows->Locate("ID", int64_t{3}));
  rows->Delete();
  Rename(*rows, 4, "four");
  rows->Append();
  rows->FieldByName("ID") = OleVariant(int64_t{1});  // taken
  rows->FieldByName("NAME") = OleVariant("dup");
  rows->Post();
  EXPECT_EQ(Exec(*client, "ExecSQL", OleVariant("DELETE FROM BIG_TABLE WHERE ID = 3")), "");
  const OleVariant delta = WriteDeltaPacket(*rows);
  EXPECT_EQ(Apply(*client, "BIG_TABLE", delta),
            "Delete of a row of [BIG_TABLE] affected 0 rows instead of 1"
            "UNIQUE constraint failed: BIG_TABLE.ID");
  EXPECT_EQ(Names(*client, "ID IN (1, 4)"), "1:Name 1 4:four");

  EXPECT_EQ(Apply(*client, "NO_SUCH_TABLE", delta),
            "no such table: NO_SUCH_TABLEno such table: NO_SUCH_TABLEno such table: "
            "NO_SUCH_TABLE");
  ExpectAllGivenBack();
}

TEST_F(DeltaMethods, PacketThatIsNoSavedDatasetIsRemoteErrorAndPoolsStayWhole) {
  auto client = Connect();
  const OleVariant bad[] = {OleVariant::Null(), OleVariant::Bytes(""), CompressToPacket(""),
                            CompressToPacket("not a dataset"), OleVariant("text")};
  for (const OleVariant& packet : bad) {
    EXPECT_THROW(Call(*client, "UpdateOleVariant", {OleVariant("BIG_TABLE"), packet}),
                 EDSRemoteError);
    ExpectAllGivenBack();
  }
  auto rows = Editable(*client, "SELECT ID, NAME FROM BIG_TABLE WHERE ID = 5");
  Rename(*rows, 5, "after");
  EXPECT_EQ(Apply(*client, "BIG_TABLE", WriteDeltaPacket(*rows)), "");
  EXPECT_EQ(Names(*client, "ID = 5"), "5:after");
}

// The apply leaves the pooled query in cached-update mode; a later result served by the same
// query object is byte for byte what it was before.
TEST_F(DeltaMethods, CachedUpdateModeOfPooledQueryStaysOutOfResultPackets) {
  auto client = Connect();
  const std::string sql = "SELECT ID, NAME, PRICE FROM BIG_TABLE WHERE ID <= 3 ORDER BY ID";
  const OleVariant before = Sql(*client, sql).first;
  EXPECT_FALSE(Load(before)->CachedUpdates());
  auto rows = Editable(*client, "SELECT ID, NAME FROM BIG_TABLE WHERE ID = 9");
  Rename(*rows, 9, "nine");
  EXPECT_EQ(Apply(*client, "BIG_TABLE", WriteDeltaPacket(*rows)), "");
  // One call at a time: the lowest idle query object served every call, and the apply left it in
  // cached-update mode.
  ASSERT_GE(FDQueryPool()->Count(), 1u);
  EXPECT_TRUE(FDQueryPool()->Item(0)->CachedUpdates());
  const OleVariant after = Sql(*client, sql).first;
  EXPECT_TRUE(FDQueryPool()->Item(0)->CachedUpdates());
  EXPECT_FALSE(Load(after)->CachedUpdates());
  EXPECT_EQ(PacketToBytes(after), PacketToBytes(before));
  EXPECT_TRUE(ByteArrayToBytes(after) == ByteArrayToBytes(before));
}

TEST_F(DeltaMethods, StoredProcOnSQLiteFailsInErrMsgWithEmptyOutputs) {
  auto client = Connect();
  TParams params;
  params.CreateParam(ftInteger, "A", ptInput).SetValue(OleVariant(int32_t{1}));
  params.CreateParam(ftInteger, "B", ptOutput);
  OleVariant packed;
  Params2OleVariant(params, kAllParamTypes, packed);
  for (bool rows : {false, true}) {
    TDSCallResult r =
        Call(*client, "StoredProc", {OleVariant("ANY_PROC"), packed, OleVariant(rows)});
    ASSERT_EQ(r.Outs.size(), 2u);
    EXPECT_TRUE(r.Outs[0].IsEmpty());
    EXPECT_EQ(r.Outs[1].AsString(), "Stored procedures are not supported by the SQLite driver");
    EXPECT_TRUE(r.Result.IsEmpty());
  }
  // An entry that is not a parameter is a remote error; nothing runs, everything goes back.
  const OleVariant malformed(VariantArray{0, {OleVariant(VariantArray{0, {OleVariant("A")}})}});
  EXPECT_THROW(Call(*client, "StoredProc", {OleVariant("ANY_PROC"), malformed, OleVariant(false)}),
               EDSRemoteError);
  ExpectAllGivenBack();
  ExpectStoredProcsGivenBack();
}

}  // namespace
}  // namespace velmora::test
