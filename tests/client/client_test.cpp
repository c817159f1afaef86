// TVelmoraClient over loopback TCP against a server started in the test: the typed calls of every
// published method with their outs, login failures, and one client per thread in parallel.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "client/velmora_client.h"
#include "tests/support/server_fixture.h"
#include "tools/self_host/fixture_db.h"
#include "variant/ole_date.h"

namespace velmora::test {
namespace {

class ClientTest : public ServerFixture {
 protected:
  void Connect(TVelmoraClient& client) { client.Connect("127.0.0.1", Port(), kUser, kPassword); }
  std::string ServerFile(const std::string& name) const { return ReadFile(dir_.File(name)); }
};

TEST_F(ClientTest, QueryAndCommandMethods) {
  TVelmoraClient client;
  Connect(client);
  EXPECT_LT(std::fabs(client.GetServerDateTime() - NowAsDateTime()) * 86400.0, 30.0);

  std::string errMsg = "stale";
  OleVariant packet = client.SQL2OleVariant("SELECT ID, NAME FROM BIG_TABLE ORDER BY ID", errMsg);
  EXPECT_EQ(errMsg, "");
  TFDMemTable table;
  ReadResultPacket(packet, table);
  EXPECT_EQ(table.RecordCount(), kBigRows);
  EXPECT_EQ(table.FieldValue(1).AsString(), self_host::FixtureName(1));

  packet = client.SQL2OleVariant("SELECT * FROM NO_SUCH_TABLE", errMsg);
  EXPECT_NE(errMsg.find("NO_SUCH_TABLE"), std::string::npos) << errMsg;
  EXPECT_FALSE(packet.IsByteArray());

  client.ExecSQL("CREATE TABLE T (A INTEGER)", errMsg);
  EXPECT_EQ(errMsg, "");
  client.UpdateSQL(CompressToPacket("INSERT INTO T VALUES (1);\r\nINSERT INTO T VALUES (2);"),
                   errMsg);
  EXPECT_EQ(errMsg, "");
  ReadResultPacket(client.SQL2OleVariant("SELECT SUM(A) AS S FROM T", errMsg), table);
  EXPECT_EQ(table.FieldValue(0).AsInteger(), 3);
  client.ExecSQL("INSERT INTO T VALUES ('x', 'too many')", errMsg);
  EXPECT_FALSE(errMsg.empty());
}

TEST_F(ClientTest, ExchangeFolderMethods) {
  TVelmoraClient client;
  Connect(client);
  const std::string content("a\0b\r\nc", 6);
  EXPECT_TRUE(client.UploadFile(CompressToPacket(content), "a.bin"));
  EXPECT_EQ(ServerFile("Upload/a.bin"), content);
  EXPECT_FALSE(client.UploadFile(OleVariant("not a packet"), "b.bin"));

  std::string names, times, sizes;
  const int32_t count = client.CheckUpload(names, times, sizes);
  ASSERT_GE(count, 1);  // b.bin may be left behind by the refused upload
  const auto at = names.find("a.bin");
  ASSERT_NE(at, std::string::npos) << names;
  EXPECT_EQ(times.size(), static_cast<size_t>(count) * 13 - 1);  // "YYYYMMDDHHNN" items

  int32_t size = -1;
  const OleVariant packet = client.DownLoadFile("a.bin", size);
  EXPECT_EQ(size, 6);
  EXPECT_EQ(PacketToBytes(packet), content);
  size = 77;
  EXPECT_TRUE(client.DownLoadFile("missing.bin", size).IsNull());
  EXPECT_EQ(size, 77);
}

TEST_F(ClientTest, FileStoreMethods) {
  TVelmoraClient client;
  Connect(client);
  std::string errMsg = "stale";
  client.PostData(OleVariant::Bytes(std::string_view("xyz")), "Data/Sub", "f.txt", errMsg);
  EXPECT_EQ(errMsg, "");
  EXPECT_EQ(ServerFile("Data/Sub/f.txt"), "xyz");

  OleVariant data = client.ReadData("Data/Sub", "f.txt", errMsg);
  EXPECT_EQ(errMsg, "");
  EXPECT_EQ(ByteArrayToBytes(data), "xyz");
  client.DeleteData("Data/Sub", "f.txt", errMsg);
  EXPECT_EQ(errMsg, "");
  EXPECT_FALSE(std::filesystem::exists(dir_.File("Data/Sub/f.txt")));
  data = client.ReadData("Data/Sub", "f.txt", errMsg);
  EXPECT_TRUE(data.IsNull());
  EXPECT_EQ(errMsg, "");

  client.PostData(OleVariant(12), "Data", "g.txt", errMsg);  // not a byte array
  EXPECT_FALSE(errMsg.empty());
}

TEST_F(ClientTest, LoginFailures) {
  TVelmoraClient client;
  try {
    client.Connect("127.0.0.1", Port(), kUser, "wrong");
    FAIL() << "login admitted";
  } catch (const EDSLoginError& e) {
    EXPECT_EQ(std::string(e.what()), kAuthenticationRejected);
  }
  EXPECT_FALSE(client.Connected());
  const uint16_t port = Port();
  Host().Stop();
  EXPECT_THROW(client.Connect("127.0.0.1", port, kUser, kPassword), EDSConnectionError);
}

TEST_F(ClientTest, OneClientPerThreadRunsInParallel) {
  constexpr int kThreads = 6;
  constexpr int kCalls = 15;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      try {
        TVelmoraClient client;
        Connect(client);
        for (int i = 0; i < kCalls; ++i) {
          const int limit = 1 + (t * kCalls + i) % kBigRows;
          std::string errMsg;
          TFDMemTable table;
          ReadResultPacket(
              client.SQL2OleVariant(
                  "SELECT COUNT(*) AS N FROM BIG_TABLE WHERE ID <= " + std::to_string(limit),
                  errMsg),
              table);
          if (!errMsg.empty() || table.FieldValue(0).AsInteger() != limit) ++wrong;
        }
      } catch (const std::exception&) {
        ++wrong;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace velmora::test
