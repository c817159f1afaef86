// StoredProc through the real server on a stand-in engine whose procedures are made up
// (stand_in_procedures.h): what is declared, what comes back packed, and what stays on the pooled
// object. The engines with real procedures are tested where their servers run.
#include <gtest/gtest.h>

#include "client/velmora_client.h"
#include "codec/packets.h"
#include "codec/uMemoryStream2OLEVariant.h"
#include "common/server_limits.h"
#include "dbpool/database_pools.h"
#include "tests/support/packed_params.h"
#include "tests/support/server_fixture.h"
#include "tests/support/stand_in_procedures.h"

namespace velmora::test {
namespace {

class StoredProcTest : public ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    WriteDatabaseConfig({"DriverID=PROCTEST", "Database=" + DatabasePath()});
    client_.Connect("127.0.0.1", Port(), kUser, kPassword);
  }

  StandInProcedures procedures_;
  TVelmoraClient client_;
};

// Outputs come back in input order with their declared type (or the value's, for ftUnknown; a
// decimal as text); an input-output parameter is passed but its new value is not returned.
TEST_F(StoredProcTest, OutputsComeBackPackedAndInputOutputDoesNot) {
  TParams params;
  params.CreateParam(ftInteger, "A", ptInput).SetValue(OleVariant(int32_t{41}));
  params.CreateParam(ftInteger, "B", ptOutput).SetValue(OleVariant(int32_t{7}));
  params.CreateParam(ftWideString, "C", ptInputOutput).SetValue(OleVariant("orig"));
  params.CreateParam(ftUnknown, "T", ptOutput);
  OleVariant out;
  std::string err;
  const OleVariant result = client_.StoredProc("ADD_ONE", PackParams(params), out, err, false);
  EXPECT_EQ(err, "");
  EXPECT_TRUE(result.IsEmpty());
  ASSERT_TRUE(out.IsVariantArray());
  ASSERT_EQ(out.Array().items.size(), 2u);
  ExpectPackedOutput(out[0], "B", OleVariant(int32_t{42}), ftInteger);
  ExpectPackedOutput(out[1], "T", OleVariant("12.50"), ftFMTBcd);
  EXPECT_EQ(ProcedureCalls(), std::vector<std::string>{"ADD_ONE A:1 B:2 C:3 T:2"});

  // The typed call writes the outputs back into the list; C keeps what it was.
  EXPECT_TRUE(client_.StoredProc("ADD_ONE", params, err, false).IsEmpty());
  EXPECT_EQ(err, "");
  EXPECT_EQ(params.ParamByName("B").Value(), OleVariant(int32_t{42}));
  EXPECT_EQ(params.ParamByName("C").Value(), OleVariant("orig"));
  ExpectAllGivenBack();
}

TEST_F(StoredProcTest, RowsOutputsAndRepeatedCallsOnOnePooledObject) {
  TParams params;
  params.CreateParam(ftInteger, "A", ptInput).SetValue(OleVariant(int32_t{3}));
  params.CreateParam(ftInteger, "B", ptOutput);
  const OleVariant packed = PackParams(params);
  OleVariant first_out, second_out;
  std::string err;
  const OleVariant first = client_.StoredProc("ADD_ONE", packed, first_out, err, true);
  EXPECT_EQ(err, "");
  const OleVariant second = client_.StoredProc("ADD_ONE", packed, second_out, err, true);
  EXPECT_EQ(err, "");
  // The same parameters declared each time, not added to the last call's.
  EXPECT_EQ(ProcedureCalls(), (std::vector<std::string>{"ADD_ONE A:1 B:2", "ADD_ONE A:1 B:2"}));
  EXPECT_EQ(first_out, second_out);
  EXPECT_EQ(PacketToBytes(first), PacketToBytes(second));
  ExpectPackedOutput(first_out[0], "B", OleVariant(int32_t{4}), ftInteger);
  auto rows = Load(first);
  ASSERT_EQ(rows->RecordCount(), 3);
  rows->Last();
  EXPECT_EQ(rows->FieldByName("ID").AsInteger(), 3);
  // One call at a time: the lowest idle object served both, and its fetch settings stayed.
  ASSERT_GE(FDStoredProcPool()->Count(), 1u);
  TFDStoredProc* proc = FDStoredProcPool()->Item(0);
  EXPECT_EQ(proc->StoredProcName(), "ADD_ONE");
  EXPECT_EQ(proc->FetchOptions.Mode, fmAll);
  EXPECT_EQ(proc->FetchOptions.CursorKind, ckDefault);
  EXPECT_EQ(FDStoredProcPool()->TagOf(proc), 0);
}

// Rows past the result limit are refused in ErrMsg while they are fetched; the pooled object then
// serves the next call.
TEST_F(StoredProcTest, RowsPastTheResultLimitAreRefusedInErrMsg) {
  TParams params;
  params.CreateParam(ftInteger, "A", ptInput).SetValue(OleVariant(int32_t{kBigRows}));
  ServerLimits limits;
  limits.ResultMax = 200;  // the field definitions and a few rows
  SetServerLimits(limits);
  OleVariant out;
  std::string err;
  OleVariant result = client_.StoredProc("ADD_ONE", PackParams(params), out, err, true);
  SetServerLimits(ServerLimits{});
  EXPECT_EQ(err, "The result is larger than the server's limit of 200 bytes (ResultMaxMiB)");
  EXPECT_TRUE(result.IsEmpty());
  result = client_.StoredProc("ADD_ONE", PackParams(params), out, err, true);
  EXPECT_EQ(err, "");
  EXPECT_EQ(Load(result)->RecordCount(), kBigRows);
  ExpectAllGivenBack();
}

TEST_F(StoredProcTest, RefusedCallsGiveTheMessageAndEmptyResults) {
  TParams params;
  params.CreateParam(ftInteger, "A", ptInput).SetValue(OleVariant(int32_t{1}));
  params.CreateParam(ftInteger, "B", ptOutput);
  for (const char* name : {"FAIL", "NO_SUCH_PROC"}) {
    SCOPED_TRACE(name);
    for (bool rows : {false, true}) {
      OleVariant out = OleVariant("stale");
      std::string err;
      const OleVariant result = client_.StoredProc(name, PackParams(params), out, err, rows);
      EXPECT_EQ(err, std::string(name) == "FAIL" ? "FAIL: raised inside the procedure"
                                                 : "Procedure NO_SUCH_PROC is unknown");
      EXPECT_TRUE(out.IsEmpty());
      EXPECT_TRUE(result.IsEmpty());
    }
  }
  // No output parameter and no rows: everything Empty, no message.
  TParams in_only;
  in_only.CreateParam(ftInteger, "A", ptInput).SetValue(OleVariant(int32_t{1}));
  OleVariant out;
  std::string err = "stale";
  EXPECT_TRUE(client_.StoredProc("ADD_ONE", PackParams(in_only), out, err, false).IsEmpty());
  EXPECT_EQ(err, "");
  EXPECT_TRUE(out.IsEmpty());
  ExpectAllGivenBack();
}

// Names that differ in case are both declared; setting the second by name lands on the first.
TEST_F(StoredProcTest, SecondOfTwoNamesDifferingInCaseSetsTheFirst) {
  TParams params;
  params.CreateParam(ftInteger, "A", ptInput).SetValue(OleVariant(int32_t{1}));
  params.CreateParam(ftInteger, "a", ptInput).SetValue(OleVariant(int32_t{5}));
  params.CreateParam(ftInteger, "B", ptOutput);
  OleVariant out;
  std::string err;
  client_.StoredProc("ADD_ONE", PackParams(params), out, err, false);
  EXPECT_EQ(err, "");
  EXPECT_EQ(ProcedureCalls(), std::vector<std::string>{"ADD_ONE A:1 a:1 B:2"});
  ExpectPackedOutput(out[0], "B", OleVariant(int32_t{6}), ftInteger);
}

// The same with letters outside ASCII: the value given for "äpfel" lands on "ÄPFEL", declared
// first as an output, and comes back as that output's value.
TEST_F(StoredProcTest, NonAsciiNamesDifferingInCaseAreOneParameter) {
  TParams params;
  params.CreateParam(ftInteger, "A", ptInput).SetValue(OleVariant(int32_t{1}));
  params.CreateParam(ftInteger, "\xC3\x84PFEL", ptOutput);
  params.CreateParam(ftInteger, "\xC3\xA4pfel", ptInput).SetValue(OleVariant(int32_t{5}));
  OleVariant out;
  std::string err;
  client_.StoredProc("ADD_ONE", PackParams(params), out, err, false);
  EXPECT_EQ(err, "");
  ASSERT_TRUE(out.IsVariantArray());
  ASSERT_EQ(out.Array().items.size(), 1u);
  ExpectPackedOutput(out[0], "\xC3\x84PFEL", OleVariant(int32_t{5}), ftInteger);
}

}  // namespace
}  // namespace velmora::test
