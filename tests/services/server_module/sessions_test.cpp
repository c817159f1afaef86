// The server host end to end: login, instances borrowed from ServerModulePool per session, stop
// and restart with clients connected, and the file methods over the wire.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "codec/packets.h"
#include "dbpool/database_pools.h"
#include "host/server_module_pool.h"
#include "rpc/rpc_errors.h"
#include "tests/support/server_fixture.h"

namespace velmora::test {
namespace {

using Sessions = ServerFixture;

TEST_F(Sessions, WrongPasswordIsRefusedWithTheFrameworkText) {
  TDSClientChannel channel;
  try {
    channel.Connect("127.0.0.1", Port(), kUser, "wrong");
    FAIL() << "login admitted";
  } catch (const EDSLoginError& e) {
    EXPECT_STREQ(e.what(), kAuthenticationRejected);
  }
  EXPECT_EQ(ServerModulePool()->Count(), 0u);
}

TEST_F(Sessions, RemoteErrorLeavesTheSessionUsable) {
  auto client = Connect();
  EXPECT_THROW(Call(*client, "NoSuchMethod"), EDSRemoteError);
  EXPECT_THROW(Call(*client, "ExecSQL", {}), EDSRemoteError);  // argument missing
  EXPECT_EQ(Sql(*client, "SELECT 1 AS ONE").second, "");
  EXPECT_TRUE(client->Connected());
}

TEST_F(Sessions, InstancesAreReusedInPoolOrder) {
  auto a = Connect();
  auto b = Connect();
  Call(*a, "GetServerDateTime");
  Call(*b, "GetServerDateTime");
  ASSERT_EQ(ServerModulePool()->Count(), 2u);
  EXPECT_TRUE(ServerModulePool()->InUse(0));
  EXPECT_TRUE(ServerModulePool()->InUse(1));
  TPersistent* first = ServerModulePool()->Instance(0);

  a->Close();
  b->Close();
  ASSERT_TRUE(ModulesFree());
  auto c = Connect();
  Call(*c, "GetServerDateTime");
  EXPECT_EQ(ServerModulePool()->Count(), 2u);
  EXPECT_EQ(ServerModulePool()->Instance(0), first);
  EXPECT_TRUE(ServerModulePool()->InUse(0));
  EXPECT_FALSE(ServerModulePool()->InUse(1));
}

TEST_F(Sessions, StopWithClientsConnectedThenRestart) {
  std::atomic<int> disconnects{0};
  Host().DSTCPServerTransport1.OnDisconnect = [&](const TDSTCPDisconnectEventObject&) {
    ++disconnects;
  };
  auto a = Connect();
  auto b = Connect();
  EXPECT_EQ(Sql(*a, "SELECT 1 AS ONE").second, "");
  Call(*b, "GetServerDateTime");
  ASSERT_EQ(ServerModulePool()->Count(), 2u);

  Host().Stop();
  EXPECT_FALSE(Host().Started());
  EXPECT_EQ(disconnects.load(), 0);
  EXPECT_TRUE(ModulesFree());
  ExpectAllGivenBack();
  EXPECT_THROW(Call(*a, "GetServerDateTime"), EDSConnectionError);

  Host().Start(0);
  ASSERT_TRUE(Host().Started());
  auto c = Connect();
  EXPECT_EQ(Sql(*c, "SELECT 2 AS TWO").second, "");
  EXPECT_EQ(ServerModulePool()->Count(), 2u);  // made before the stop, serving after it
  c->Close();
  EXPECT_TRUE(ModulesFree());
  EXPECT_EQ(disconnects.load(), 1);
}

TEST_F(Sessions, ConcurrentClientsUseTheirOwnConnections) {
  constexpr int kClients = 4;
  constexpr int kInserts = 15;
  std::vector<std::unique_ptr<TDSClientChannel>> clients;
  for (int i = 0; i < kClients; ++i) clients.push_back(Connect());
  std::vector<std::string> errors(kClients);
  std::vector<std::thread> threads;
  for (int i = 0; i < kClients; ++i) {
    threads.emplace_back([&, i] {
      for (int k = 0; k < kInserts && errors[i].empty(); ++k) {
        int id = 1000 + i * 100 + k;
        errors[i] = Exec(
            *clients[i], "ExecSQL",
            OleVariant(fmt::format("INSERT INTO BIG_TABLE (ID, NAME) VALUES ({}, 'c{}')", id, i)));
        if (errors[i].empty()) errors[i] = Sql(*clients[i], "SELECT * FROM BIG_TABLE").second;
      }
    });
  }
  for (auto& t : threads) t.join();
  for (const auto& e : errors) EXPECT_EQ(e, "");
  auto [packet, err] = Sql(*clients[0], "SELECT COUNT(*) AS N FROM BIG_TABLE WHERE ID >= 1000");
  EXPECT_EQ(err, "");
  EXPECT_EQ(Load(packet)->FieldByName("N").AsInteger(), kClients * kInserts);
  EXPECT_LE(FDConnectionPool()->Count(), static_cast<size_t>(kClients));
  ExpectAllGivenBack();
}

// A file of several MiB, half text and half random, is read and deflated piece by piece on the
// server and arrives intact in one reply.
TEST_F(Sessions, MultiMiBDownloadArrivesIntact) {
  std::string content;
  for (int i = 0; content.size() < (3u << 20); ++i)
    content += fmt::format("line {} of the log\n", i);
  uint32_t x = 7;
  while (content.size() < (6u << 20) + 777) {
    x = x * 1103515245u + 12345u;
    content += static_cast<char>(x >> 23);
  }
  std::ofstream(dir_.File("Upload/big.log"), std::ios::binary) << content;
  auto client = Connect();
  TDSCallResult download = Call(*client, "DownLoadFile", {OleVariant("big.log")});
  EXPECT_EQ(download.Outs.at(0).AsInteger(), static_cast<int32_t>(content.size()));
  ASSERT_TRUE(download.Result.IsByteArray());
  EXPECT_LT(download.Result.ByteData().bytes.size(), content.size() * 3 / 4);
  EXPECT_TRUE(PacketToBytes(download.Result) == content);
}

// The file methods' limit follows the frame size of the transport the call came through: a file
// whose packet could not fit one frame is refused before it is read, one that fits goes through.
TEST_F(Sessions, FileLimitFollowsTheTransportsFrameSize) {
  Host().DSTCPServerTransport1.MaxFrameSize = 1u << 20;  // read by each connection as it starts
  std::ofstream(dir_.File("Upload/over.bin"), std::ios::binary) << std::string(2u << 20, 'o');
  std::ofstream(dir_.File("Upload/under.bin"), std::ios::binary) << std::string(900'000, 'u');
  auto client = Connect();
  try {
    Call(*client, "DownLoadFile", {OleVariant("over.bin")});
    FAIL() << "a 2 MiB download passed a 1 MiB frame";
  } catch (const EDSRemoteError& e) {
    EXPECT_NE(std::string(e.what()).find("more than the transfer limit"), std::string::npos)
        << e.what();
  }
  EXPECT_EQ(PacketToBytes(Call(*client, "DownLoadFile", {OleVariant("under.bin")}).Result),
            std::string(900'000, 'u'));
}

TEST_F(Sessions, FileMethodsRoundTrip) {
  auto client = Connect();
  const std::string content = "exchange file\r\n中文";

  EXPECT_TRUE(Call(*client, "UploadFile", {CompressToPacket(content), OleVariant("report.txt")})
                  .Result.AsBoolean());
  TDSCallResult listing = Call(*client, "CheckUpload");
  EXPECT_EQ(listing.Result.AsInteger(), 1);
  ASSERT_EQ(listing.Outs.size(), 3u);
  EXPECT_EQ(listing.Outs[0].AsString(), "report.txt");
  EXPECT_EQ(listing.Outs[1].AsString().size(), 12u);  // YYYYMMDDHHNN
  EXPECT_EQ(listing.Outs[2].AsString(), std::to_string(content.size()));

  TDSCallResult download = Call(*client, "DownLoadFile", {OleVariant("report.txt")});
  EXPECT_EQ(PacketToBytes(download.Result), content);
  EXPECT_EQ(download.Outs.at(0).AsInteger(), static_cast<int32_t>(content.size()));

  const OleVariant bytes = OleVariant::Bytes(std::string_view("\x00\x01stored", 8));
  EXPECT_EQ(Call(*client, "PostData", {bytes, OleVariant("store\\sub"), OleVariant("b.bin")})
                .Outs.at(0)
                .AsString(),
            "");
  TDSCallResult read = Call(*client, "ReadData", {OleVariant("store/sub"), OleVariant("b.bin")});
  EXPECT_EQ(read.Outs.at(0).AsString(), "");
  EXPECT_EQ(read.Result, bytes);
  EXPECT_EQ(Call(*client, "DeleteData", {OleVariant("store/sub"), OleVariant("b.bin")})
                .Outs.at(0)
                .AsString(),
            "");
  EXPECT_TRUE(
      Call(*client, "ReadData", {OleVariant("store/sub"), OleVariant("b.bin")}).Result.IsNull());
  EXPECT_FALSE(std::filesystem::exists(dir_.File("store/sub/b.bin")));
}

}  // namespace
}  // namespace velmora::test
