// Packets that are small on the wire but huge once inflated or decoded, sent to a running server
// after login: each is refused with a clear error while the process's peak memory stays far below
// what the bomb would have made, the memory budget is given back, and the session goes on.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "codec/packets.h"
#include "common/memory_budget.h"
#include "common/server_limits.h"
#include "rpc/frame_codec.h"
#include "rpc/messages.h"
#include "rpc/rpc_errors.h"
#include "tests/support/raw_client.h"
#include "tests/support/server_fixture.h"
#include "variant/byte_io.h"

namespace velmora::test {
namespace {

// Growth of the process's peak resident memory that any bomb below would exceed many times over
// if it were inflated or decoded whole.
constexpr long kMaxPeakGrowthKiB = 96 * 1024;

long PeakKiB() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// A zlib stream of `size` copies of `fill`, made in pieces so that the test never holds it whole.
OleVariant BombPacket(char fill, uint64_t size) {
  z_stream zs{};
  EXPECT_EQ(deflateInit(&zs, Z_BEST_COMPRESSION), Z_OK);
  const std::string piece(1 << 20, fill);
  std::string out;
  char buffer[1 << 16];
  for (uint64_t left = size;;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(left, piece.size()));
    left -= n;
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(piece.data()));
    zs.avail_in = static_cast<uInt>(n);
    const int flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
    int rc = Z_OK;
    do {
      zs.next_out = reinterpret_cast<Bytef*>(buffer);
      zs.avail_out = sizeof buffer;
      rc = deflate(&zs, flush);
      out.append(buffer, sizeof buffer - zs.avail_out);
    } while (zs.avail_out == 0);
    if (rc == Z_STREAM_END) break;
  }
  deflateEnd(&zs);
  return OleVariant::Bytes(out);
}

// The error text of a call of UploadFile(<first argument>, "x.bin"), whose message is written
// byte by byte: `first_argument` writes the first argument's type code and value into the frame.
std::string UploadFileErrorText(
    uint16_t port, const std::function<void(ByteWriter&, std::string&)>& first_argument) {
  RawClient client(port, kUser, kPassword);
  std::string frame;
  TDSFrameCodec::Begin(frame);
  frame.push_back(static_cast<char>(TDSMessageType::Call));
  ByteWriter w(frame);
  w.PutString(kServerClass);
  w.PutString("UploadFile");
  w.Put<uint32_t>(2);
  first_argument(w, frame);
  w.Put<uint16_t>(varOleStr);
  w.PutString("x.bin");
  return RawClient::ErrorText(client.RoundTrip(frame));
}

// A variant array of `elements` Empty variants (each element: type code 0).
void PutEmptyArray(ByteWriter& w, std::string& frame, uint32_t elements) {
  w.Put<uint16_t>(kVarVariantArray);
  w.Put<int32_t>(0);
  w.Put<uint32_t>(elements);
  frame.append(size_t{elements} * 2, '\0');
}

// UploadFile(<array of `elements` Empty variants>, "x.bin").
std::string CallWithEmptyArray(uint16_t port, uint32_t elements) {
  return UploadFileErrorText(
      port, [&](ByteWriter& w, std::string& frame) { PutEmptyArray(w, frame, elements); });
}

// UploadFile(<array of arrays of Empty variants, `inner` long each>, "x.bin").
std::string CallWithNestedArrays(uint16_t port, std::initializer_list<uint32_t> inner) {
  return UploadFileErrorText(port, [&](ByteWriter& w, std::string& frame) {
    w.Put<uint16_t>(kVarVariantArray);
    w.Put<int32_t>(0);
    w.Put<uint32_t>(static_cast<uint32_t>(inner.size()));
    for (const uint32_t n : inner) PutEmptyArray(w, frame, n);
  });
}

class Bombs : public ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    ServerLimits limits;
    limits.UpdateSqlMax = 1 * kMiB;
    limits.UploadMax = 4 * kMiB;
    limits.MemoryBudget = 64 * kMiB;
    SetServerLimits(limits);
  }
  void TearDown() override {
    SetServerLimits(ServerLimits{});
    ServerFixture::TearDown();
  }
};

TEST_F(Bombs, EachIsRefusedWithinTheMemoryLimitAndTheSessionGoesOn) {
  const uint16_t port = Port();
  const struct {
    const char* name;
    std::function<std::string(TDSClientChannel&)> send;  // the error text the client got
    const char* error;
  } cases[] = {
      {"UpdateSQL text of 128 MiB",
       [](TDSClientChannel& c) {
         const OleVariant packet = BombPacket('x', 128 * kMiB);
         try {
           Exec(c, "UpdateSQL", packet);
         } catch (const EDSRemoteError& e) {
           return std::string(e.what());
         }
         return std::string("(no error)");
       },
       "Remote error: The SQL batch of UpdateSQL is larger than the limit of 1048576 bytes"},
      {"UploadFile of a 1 GiB zlib bomb",
       [](TDSClientChannel& c) {
         const OleVariant packet = BombPacket('\0', 1024 * kMiB);
         try {
           Call(c, "UploadFile", {packet, OleVariant("bomb.bin")});
         } catch (const EDSRemoteError& e) {
           return std::string(e.what());
         }
         return std::string("(no error)");
       },
       "Remote error: The uploaded file is larger than the limit of 4194304 bytes"},
      {"two million Empty variants in one array",
       [port](TDSClientChannel&) { return CallWithEmptyArray(port, 2'000'000); },
       "A variant array of 2000000 elements exceeds the server's limit of 1000000 elements"},
      {"arrays of 400000 and 700000 Empty variants in one array",
       [port](TDSClientChannel&) {
         return CallWithNestedArrays(port, {400'000, 700'000});
       },
       "Variant arrays of 1100004 elements in one message exceed the server's limit of 1000000 "
       "elements"},
  };
  auto client = Connect();
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const long before = PeakKiB();
    EXPECT_EQ(c.send(*client), c.error);
    const long growth = PeakKiB() - before;
    EXPECT_LT(growth, kMaxPeakGrowthKiB);
    RecordProperty("peak_growth_kib_" + std::to_string(index++), std::to_string(growth));
    EXPECT_EQ(MemoryBudget::Process().InUse(), 0u) << "the budget is given back";
    EXPECT_TRUE(std::filesystem::is_empty(dir_.File("Upload"))) << "nothing written, no temporary";
    EXPECT_NO_THROW(Call(*client, "GetServerDateTime"));
  }
}

// The error text a call got: the remote error's, ErrMsg's (its last out-parameter), or "".
std::string CallError(TDSClientChannel& channel, std::string_view method,
                      std::vector<OleVariant> args) {
  try {
    const TDSCallResult r = ServerFixture::Call(channel, method, std::move(args));
    return r.Outs.empty() ? "" : r.Outs.back().AsString();
  } catch (const EDSRemoteError& e) {
    return e.what();
  }
}

// Every text in a call's arguments is held to TextMaxMiB (1 MiB here) before it is copied, one at
// the limit is taken, and the copies a statement makes of its text are charged before the query is
// given it: 3 MiB of SQL text, about 8 copies, pass what one call may hold of a 64 MiB budget.
TEST_F(Bombs, TextArgumentsAreBoundedAndTheirCopiesCharged) {
  ServerLimits limits = Limits();
  limits.TextMax = 1 * kMiB;
  SetServerLimits(limits);
  const std::string over(kMiB + 1, 'x');
  const std::string at_limit = "SELECT '" + std::string(kMiB - 9, 'x') + "'";
  const char* const kTextRefusal =
      "A text of 1048577 bytes exceeds the server's limit of 1 MiB (TextMaxMiB)";
  const struct {
    const char* name;
    const char* method;
    std::vector<OleVariant> args;
    std::string error;  // "": the call succeeds
  } cases[] = {
      {"SQL text", "SQL2OleVariant", {OleVariant(over)}, kTextRefusal},
      {"statement text", "ExecSQL", {OleVariant(over)}, kTextRefusal},
      {"procedure name",
       "StoredProc",
       {OleVariant(over), OleVariant::Null(), OleVariant(false)},
       kTextRefusal},
      {"text inside a parameter list",
       "StoredProc",
       {OleVariant("P"),
        OleVariant(
            VariantArray{0, {OleVariant(VariantArray{0, {OleVariant("A"), OleVariant(over)}})}}),
        OleVariant(false)},
       kTextRefusal},
      {"file name", "ReadData", {OleVariant("store"), OleVariant(over)}, kTextRefusal},
      {"SQL text at the limit", "SQL2OleVariant", {OleVariant(at_limit)}, ""},
      {"statement text at the limit", "ExecSQL", {OleVariant(at_limit)}, ""},
  };
  auto client = Connect();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CallError(*client, c.method, c.args), c.error);
    EXPECT_TRUE(BudgetGivenBack());
    EXPECT_NO_THROW(Call(*client, "GetServerDateTime"));
  }
  // Within TextMaxMiB, a text whose copies the call's share (32 MiB) cannot hold is refused in
  // ErrMsg with the budget's text before it reaches the query; the connection goes on.
  limits.TextMax = 8 * kMiB;
  SetServerLimits(limits);
  const std::string large = "SELECT '" + std::string(5 * kMiB, 'x') + "'";
  for (const char* method : {"SQL2OleVariant", "ExecSQL"}) {
    SCOPED_TRACE(method);
    EXPECT_NE(CallError(*client, method, {OleVariant(large)}).find("one call may hold"),
              std::string::npos);
    EXPECT_TRUE(BudgetGivenBack());
    ExpectAllGivenBack();
    EXPECT_EQ(Sql(*client, "SELECT 1").second, "");
  }
}

// The methods with bound values charge their text's copies as SQL2OleVariant does, and the
// copies of their values beside the values' own charge: within TextMaxMiB, a text or a value too
// large for the call's share (32 MiB) is refused in ErrMsg with the budget's text, nothing runs,
// the budget is given back and the connection goes on.
TEST_F(Bombs, BoundValueMethodsChargeTheirTextAndValues) {
  ServerLimits limits = Limits();
  limits.TextMax = 8 * kMiB;
  SetServerLimits(limits);
  const auto list = [](OleVariant value) {
    return OleVariant(
        VariantArray{0, {OleVariant(VariantArray{0, {OleVariant(""), std::move(value)}})}});
  };
  const auto sets = [](OleVariant one) { return OleVariant(VariantArray{0, {std::move(one)}}); };
  const std::string large_text = "SELECT '" + std::string(5 * kMiB, 'x') + "', ?";
  const OleVariant large_value(std::string(7 * kMiB, 'x'));
  const struct {
    const char* name;
    const char* method;
    std::vector<OleVariant> args;
  } refused[] = {
      {"text of a query", "SQLParams2OleVariant", {OleVariant(large_text), list(OleVariant(1))}},
      {"value of a query", "SQLParams2OleVariant", {OleVariant("SELECT ?"), list(large_value)}},
      {"text of parameter sets",
       "ExecSQLParamSets",
       {OleVariant(large_text), sets(list(OleVariant(1)))}},
      {"value of parameter sets",
       "ExecSQLParamSets",
       {OleVariant("SELECT ?"), sets(list(large_value))}},
  };
  auto client = Connect();
  for (const auto& c : refused) {
    SCOPED_TRACE(c.name);
    const std::string error = CallError(*client, c.method, c.args);
    EXPECT_NE(error.find("one call may hold"), std::string::npos) << error;
    EXPECT_EQ(error.find("Parameter set"), std::string::npos) << error;
    EXPECT_TRUE(BudgetGivenBack());
    ExpectAllGivenBack();
    EXPECT_EQ(Sql(*client, "SELECT 1").second, "");
  }
  // Values the share holds are bound.
  EXPECT_EQ(CallError(*client, "SQLParams2OleVariant",
                      {OleVariant("SELECT ?"), list(OleVariant(std::string(kMiB, 'x')))}),
            "");
  EXPECT_EQ(CallError(*client, "ExecSQLParamSets",
                      {OleVariant("SELECT ?"), sets(list(OleVariant(std::string(kMiB, 'x'))))}),
            "");
  EXPECT_TRUE(BudgetGivenBack());
}

// Within the limit the same methods work: the limit is on the inflated size, not the packet.
TEST_F(Bombs, ContentUpToTheLimitIsAccepted) {
  auto client = Connect();
  const std::string sql =
      "UPDATE BIG_TABLE SET NAME = NAME WHERE ID = 1;" + std::string(kMiB - 100, ' ');
  EXPECT_EQ(Exec(*client, "UpdateSQL", CompressToPacket(sql)), "");
  const std::string content(4 * kMiB, 'z');
  EXPECT_TRUE(Call(*client, "UploadFile", {CompressToPacket(content), OleVariant("ok.bin")})
                  .Result.AsBoolean());
  EXPECT_EQ(std::filesystem::file_size(dir_.File("Upload/ok.bin")), content.size());
}

// Over the budget a call is refused with the budget's text instead of being inflated.
TEST_F(Bombs, AFileLargerThanTheBudgetIsRefusedByTheBudget) {
  ServerLimits limits = Limits();
  limits.UploadMax = 512 * kMiB;
  limits.MemoryBudget = 16 * kMiB;
  SetServerLimits(limits);
  std::ofstream(dir_.File("Upload/big.bin"), std::ios::binary) << std::string(20 * kMiB, 'b');
  auto client = Connect();
  try {
    Call(*client, "DownLoadFile", {OleVariant("big.bin")});
    FAIL() << "a 20 MiB download passed a 16 MiB budget";
  } catch (const EDSRemoteError& e) {
    EXPECT_NE(std::string(e.what()).find("more than the server's budget of 16777216 bytes"),
              std::string::npos)
        << e.what();
  }
  EXPECT_EQ(MemoryBudget::Process().InUse(), 0u);
}

}  // namespace
}  // namespace velmora::test
