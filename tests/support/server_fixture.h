// ServerFixture: GoogleTest's face of self_host::SelfHostedServer for end-to-end tests. Each test
// gets a fresh folder holding the generated database (kBigRows rows in BIG_TABLE), DataBase.CFG
// and the exchange folder Upload/, a server on a free loopback port that admits kUser with
// kPassword, and a folder of the client's own files beside it. Clients are real
// TDSClientChannels (or TVelmoraClients); packets go through the codec's packet helpers
// (codec/packets.h).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "data/mem_table.h"
#include "rpc/client_channel.h"
#include "tests/support/temp_dir.h"
#include "tools/self_host/self_hosted_server.h"
#include "variant/ole_variant.h"

namespace velmora::test {

inline constexpr const char* kServerClass = "TServerModule1";
inline constexpr const char* kUser = "operator";
inline constexpr const char* kPassword = "pa55word";
inline constexpr int kBigRows = 20;

class ServerFixture : public ::testing::Test {
 public:
  void SetUp() override;
  void TearDown() override;

  TServerHost& Host() { return server_->Host(); }
  uint16_t Port() const { return server_->Port(); }
  const std::string& DatabasePath() const { return server_->DatabasePath(); }
  // Rewrites DataBase.CFG with these Name=Value lines.
  void WriteDatabaseConfig(std::initializer_list<std::string> lines) const;

  // A channel logged in as kUser.
  std::unique_ptr<TDSClientChannel> Connect() const;
  // A call of a published method of TServerModule1.
  static TDSCallResult Call(TDSClientChannel& channel, std::string_view method,
                            std::vector<OleVariant> args = {});
  // SQL2OleVariant: the packet and ErrMsg.
  static std::pair<OleVariant, std::string> Sql(TDSClientChannel& channel, const std::string& sql);
  // ExecSQL or UpdateSQL: ErrMsg (the result is checked to be empty).
  static std::string Exec(TDSClientChannel& channel, std::string_view method, OleVariant arg);
  // A result packet loaded into a memory table, open on its first row.
  static std::unique_ptr<TFDMemTable> Load(const OleVariant& packet);

  // Every pooled connection and query idle (Tag 0).
  static void ExpectAllGivenBack();
  // Waits (up to 5 s) until the memory budget holds nothing: it is given back once a reply has
  // been sent, and the client may read the reply a moment before.
  static bool BudgetGivenBack();
  // Waits (up to 5 s) until no module instance is in use; the instance goes back after the
  // client's connection has closed on the server's side.
  static bool ModulesFree();

 protected:
  TempDir dir_;       // the server's application folder
  std::string work_;  // a folder of the client's own files, inside dir_ but apart from the server's
  std::optional<self_host::SelfHostedServer> server_;
};

}  // namespace velmora::test
