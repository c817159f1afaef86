// A running server for end-to-end tests: a temporary application folder with DataBase.CFG naming
// a generated SQLite database, the database pools, ServerModulePool and a TServerHost on a free
// loopback port that admits one account. Clients are real TDSClientChannels.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/app_path.h"
#include "data/mem_table.h"
#include "dbpool/database_pools.h"
#include "host/server_host.h"
#include "host/server_module_pool.h"
#include "rpc/client_channel.h"
#include "codec/uCompressionStream.h"
#include "codec/uMemoryStream2OLEVariant.h"
#include "tests/support/fixture_db.h"
#include "tests/support/temp_dir.h"

namespace velmora::server_test {

inline constexpr const char* kClass = "TServerModule1";
inline constexpr const char* kUser = "operator";
inline constexpr const char* kPassword = "pa55word";
inline constexpr int kBigRows = 20;

class ServerFixture : public ::testing::Test {
 public:
  void SetUp() override {
    SetAppPath(dir_.Path());
    WriteDatabaseConfig({"DriverID=SQLite", "Database=" + dir_.File("test.db")});
    testing::CreateFixtureDatabase(dir_.File("test.db"), kBigRows);
    CreateDatabasePools();
    CreateServerModulePool();
    host_.DSAuthenticationManager1.OnUserAuthenticate =
        [](TDSAuthenticationManager&, const std::string&, const std::string&, const std::string& User,
           const std::string& Password, bool& valid, std::vector<std::string>&) {
          valid = User == kUser && Password == kPassword;
        };
    host_.Start(0);
  }
  void TearDown() override {
    host_.Stop();
    DestroyServerModulePool();
    DestroyDatabasePools();
  }

  void WriteDatabaseConfig(std::initializer_list<std::string> lines) const {
    std::ofstream out(dir_.File("DataBase.CFG"), std::ios::binary | std::ios::trunc);
    for (const auto& line : lines) out << line << "\r\n";
    ASSERT_TRUE(out.good());
  }

  std::unique_ptr<TDSClientChannel> Connect() const {
    auto channel = std::make_unique<TDSClientChannel>();
    channel->Connect("127.0.0.1", host_.BoundPort(), kUser, kPassword);
    return channel;
  }

  static TDSCallResult Call(TDSClientChannel& channel, std::string_view method,
                            std::vector<OleVariant> args = {}) {
    return channel.Call(kClass, method, args);
  }

  // SQL2OleVariant: the packet and ErrMsg.
  static std::pair<OleVariant, std::string> Sql(TDSClientChannel& channel, const std::string& sql) {
    TDSCallResult r = Call(channel, "SQL2OleVariant", {OleVariant(sql)});
    return {std::move(r.Result), r.Outs.at(0).AsString()};
  }
  // ExecSQL or UpdateSQL: ErrMsg.
  static std::string Exec(TDSClientChannel& channel, std::string_view method, OleVariant arg) {
    TDSCallResult r = Call(channel, method, {std::move(arg)});
    EXPECT_TRUE(r.Result.IsEmpty());
    return r.Outs.at(0).AsString();
  }

  // A data packet of bytes, compressed as clients do.
  static OleVariant Packet(std::string_view bytes) {
    TMemoryStream stream{std::string(bytes)};
    CompressMemoryStream(stream, 2);
    OleVariant out;
    MemoryStream2OleVariant(stream, out);
    return out;
  }
  // The inflated bytes of a data packet.
  static std::string Unpack(const OleVariant& packet) {
    auto stream = OleVariant2MemoryStream(packet);
    if (stream == nullptr) throw std::runtime_error("not a byte array");
    DecompressMemoryStream(*stream);
    return std::string(stream->View());
  }
  // A result packet loaded into a memory table.
  static std::unique_ptr<TFDMemTable> Load(const OleVariant& packet) {
    auto stream = OleVariant2MemoryStream(packet);
    if (stream == nullptr) throw std::runtime_error("not a byte array");
    DecompressMemoryStream(*stream);
    stream->SetPosition(0);
    auto table = std::make_unique<TFDMemTable>();
    table->LoadFromStream(*stream);
    return table;
  }

  // Every pooled connection and query idle (Tag 0); every module instance free.
  static void ExpectAllGivenBack() {
    for (size_t i = 0; i < FDConnectionPool()->Count(); ++i)
      EXPECT_EQ(FDConnectionPool()->TagOf(FDConnectionPool()->Item(i)), 0) << "connection " << i;
    for (size_t i = 0; i < FDQueryPool()->Count(); ++i)
      EXPECT_EQ(FDQueryPool()->TagOf(FDQueryPool()->Item(i)), 0) << "query " << i;
  }
  // Waits (up to 5 s) until no module instance is in use; the instance goes back after the
  // client's connection has closed on the server's side.
  static bool ModulesFree() {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
      bool any = false;
      for (size_t i = 0; i < ServerModulePool()->Count(); ++i) any = any || ServerModulePool()->InUse(i);
      if (!any) return true;
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

 protected:
  testing::TempDir dir_;
  TServerHost host_;
};

}  // namespace velmora::server_test
