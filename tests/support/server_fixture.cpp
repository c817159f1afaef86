#include "tests/support/server_fixture.h"

#include <chrono>
#include <filesystem>
#include <thread>

#include "codec/packets.h"
#include "common/memory_budget.h"
#include "dbpool/database_pools.h"
#include "host/server_module_pool.h"
#include "tools/self_host/database_config.h"

namespace velmora::test {

void ServerFixture::SetUp() {
  server_.emplace(self_host::SelfHostOptions{dir_.Path(), kUser, kPassword, kBigRows});
  work_ = dir_.File("client");
  std::filesystem::create_directory(work_);
}

void ServerFixture::TearDown() {
  server_.reset();
}

void ServerFixture::WriteDatabaseConfig(std::initializer_list<std::string> lines) const {
  self_host::WriteDatabaseConfig(dir_.Path(), lines);
}

std::unique_ptr<TDSClientChannel> ServerFixture::Connect() const {
  auto channel = std::make_unique<TDSClientChannel>();
  channel->Connect("127.0.0.1", Port(), kUser, kPassword);
  return channel;
}

TDSCallResult ServerFixture::Call(TDSClientChannel& channel, std::string_view method,
                                  std::vector<OleVariant> args) {
  return channel.Call(kServerClass, method, args);
}

std::pair<OleVariant, std::string> ServerFixture::Sql(TDSClientChannel& channel,
                                                      const std::string& sql) {
  TDSCallResult r = Call(channel, "SQL2OleVariant", {OleVariant(sql)});
  return {std::move(r.Result), r.Outs.at(0).AsString()};
}

std::string ServerFixture::Exec(TDSClientChannel& channel, std::string_view method,
                                OleVariant arg) {
  TDSCallResult r = Call(channel, method, {std::move(arg)});
  EXPECT_TRUE(r.Result.IsEmpty());
  return r.Outs.at(0).AsString();
}

std::unique_ptr<TFDMemTable> ServerFixture::Load(const OleVariant& packet) {
  auto table = std::make_unique<TFDMemTable>();
  ReadResultPacket(packet, *table);
  return table;
}

void ServerFixture::ExpectAllGivenBack() {
  for (size_t i = 0; i < FDConnectionPool()->Count(); ++i)
    EXPECT_EQ(FDConnectionPool()->TagOf(FDConnectionPool()->Item(i)), 0) << "connection " << i;
  for (size_t i = 0; i < FDQueryPool()->Count(); ++i)
    EXPECT_EQ(FDQueryPool()->TagOf(FDQueryPool()->Item(i)), 0) << "query " << i;
}

bool ServerFixture::BudgetGivenBack() {
  for (int i = 0; i < 250 && MemoryBudget::Process().InUse() != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return MemoryBudget::Process().InUse() == 0;
}

bool ServerFixture::ModulesFree() {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    bool any = false;
    for (size_t i = 0; i < ServerModulePool()->Count(); ++i) {
      any = any || ServerModulePool()->InUse(i);
    }
    if (!any) return true;
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace velmora::test
