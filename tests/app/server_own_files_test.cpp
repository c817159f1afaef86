// The shell's list of its own files, and the real program refusing them to clients: the settings,
// the connection definition, the TLS certificate and key, the open database and the executable
// itself, installed in the application folder as scripts/run.sh does.
#include "app/server_own_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <memory>

#include "rpc/client_channel.h"
#include "rpc/rpc_errors.h"
#include "tests/support/free_port.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"

namespace velmora::test {
namespace {

namespace fs = std::filesystem;

TStringList Params(std::initializer_list<std::string> lines) {
  TStringList params;
  for (const std::string& line : lines) params.Add(line);
  return params;
}

TEST(ServerOwnFilePaths, DatabaseFilesAreThoseAnEngineOpensOnThisMachine) {
  const std::string cwd = fs::current_path().string();
  struct Case {
    TStringList params;
    std::vector<std::string> files;
  };
  const Case cases[] = {
      {Params({"DriverID=SQLite", "Database=/srv/a.db"}),
       {"/srv/a.db", "/srv/a.db-wal", "/srv/a.db-shm", "/srv/a.db-journal"}},
      {Params({"DriverID=sqlite", "Database=data/../b.db"}),
       {cwd + "/b.db", cwd + "/b.db-wal", cwd + "/b.db-shm", cwd + "/b.db-journal"}},
      {Params({"DriverID=SQLite", "Database=:memory:"}), {}},
      {Params({"DriverID=FB", "Database=/srv/c.fdb"}), {"/srv/c.fdb"}},
      {Params({"DriverID=FB", "Server=db.example", "Database=/srv/c.fdb"}), {}},
      {Params({"DriverID=MSAcc", "Database=/srv/d.mdb"}), {"/srv/d.mdb"}},
      {Params({"DriverID=PG", "Server=127.0.0.1", "Database=app"}), {}},
      {Params({"DriverID=MSSQL", "Server=db", "Database=app"}), {}},
      {Params({"DriverID=SQLite"}), {}},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.params.Text());
    EXPECT_EQ(DatabaseFilesOf(t.params), t.files);
  }
}

TEST(ServerOwnFilePaths, SettingsTlsFilesDatabaseAndExecutableWhetherOrNotTheyExist) {
  TempDir folder;
  const std::string app = folder.Root();
  const std::string executable = fs::read_symlink("/proc/self/exe").string();
  const TDSTlsServerSettings tls{app + "server.pem", app + "server.key"};
  // No DataBase.CFG: no database file is open.
  EXPECT_EQ(ServerOwnFilePaths(app, tls),
            (std::vector<std::string>{app + "CONFIG.CFG", app + "DataBase.CFG", app + "server.pem",
                                      app + "server.key", executable}));
  WriteFile(app + "DataBase.CFG", "DriverID=SQLite\r\nDatabase=" + app + "test.db\r\n");
  EXPECT_EQ(ServerOwnFilePaths(app, {}),
            (std::vector<std::string>{app + "CONFIG.CFG", app + "DataBase.CFG", app + "test.db",
                                      app + "test.db-wal", app + "test.db-shm",
                                      app + "test.db-journal", executable}));
}

#ifdef VELMORA_PROGRAM
// The program, linked into the application folder and started from there, over TLS on an embedded
// SQLite database.
class OwnFilesProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app_ = folder_.Root();
    std::error_code ec;
    fs::create_hard_link(VELMORA_PROGRAM, app_ + "velmora", ec);
    if (ec) fs::copy_file(VELMORA_PROGRAM, app_ + "velmora");
    const std::string command =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1"
        " -addext subjectAltName=IP:127.0.0.1 -keyout " +
        app_ + "server.key -out " + app_ + "server.pem 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    port_ = FreeLoopbackPort();
    ASSERT_NE(port_, 0);
    WriteFile(app_ + "CONFIG.CFG",
              "[CONFIG]\r\nSVROPENPORT=" + std::to_string(port_) +
                  "\r\nSVRPASSWORD=s3cret\r\n[TLS]\r\n"
                  "CertificateFile=server.pem\r\nPrivateKeyFile=server.key\r\n");
    WriteFile(app_ + "DataBase.CFG",
              "DriverID=SQLite\r\nDatabase=" + app_ + "test.db\r\nCreateDatabase=Yes\r\n");
    fs::create_directory(app_ + "Upload");
    pid_ = SpawnProgram({app_ + "velmora", "--headless", "--app-dir", app_}, app_ + "out.txt",
                        app_ + "err.txt");
    ASSERT_GT(pid_, 0);
  }
  void TearDown() override {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      EXPECT_EQ(WaitProgram(pid_), 0) << ReadFile(app_ + "err.txt");
    }
  }
  // A client logged in over TLS, once the program listens (up to 10 s).
  std::unique_ptr<TDSClientChannel> Connect() {
    for (int attempt = 0;; ++attempt) {
      auto client = std::make_unique<TDSClientChannel>();
      client->Tls = {true, app_ + "server.pem"};
      try {
        client->Connect("127.0.0.1", static_cast<uint16_t>(port_), "admin", "s3cret");
        return client;
      } catch (const EDSConnectionError&) {
        if (attempt == 100) throw;
      }
      ::usleep(100000);
    }
  }
  static TDSCallResult Call(TDSClientChannel& client, const char* method,
                            std::vector<OleVariant> args) {
    return client.Call("TServerModule1", method, args);
  }

  TempDir folder_;
  std::string app_;
  int port_ = 0;
  pid_t pid_ = -1;
};

TEST_F(OwnFilesProgramTest, ClientsCanNeitherReadNorReplaceNorDeleteTheServersOwnFiles) {
  auto client = Connect();
  // The first connection opens (and creates) the database; WAL adds its journal files.
  ASSERT_EQ(Call(*client, "ExecSQL", {OleVariant("CREATE TABLE t(a)")}).Outs.at(0).AsString(), "");
  ASSERT_TRUE(fs::exists(app_ + "test.db"));
  ASSERT_TRUE(fs::exists(app_ + "test.db-wal"));

  struct Case {
    std::string path, name, shown;
  };
  const Case cases[] = {
      {"", "CONFIG.CFG", "CONFIG.CFG"}, {"", "DataBase.CFG", "DataBase.CFG"},
      {"", "server.pem", "server.pem"}, {"", "server.key", "server.key"},
      {"", "test.db", "test.db"},       {"", "test.db-wal", "test.db-wal"},
      {"", "velmora", "velmora"},       {"Upload\\..", "CONFIG.CFG", "CONFIG.CFG"},
      {".", "velmora", "velmora"},
  };
  std::map<std::string, std::string> before;
  for (const char* name : {"CONFIG.CFG", "DataBase.CFG", "server.pem", "server.key"})
    before[name] = ReadFile(app_ + name);
  const auto executable_size = fs::file_size(app_ + "velmora");

  for (const Case& t : cases) {
    SCOPED_TRACE(t.path + "|" + t.name);
    const std::string refusal =
        "Access denied: \"" + app_ + t.shown + "\" is one of the server's own files";
    const TDSCallResult read = Call(*client, "ReadData", {OleVariant(t.path), OleVariant(t.name)});
    EXPECT_TRUE(read.Result.IsEmpty());
    EXPECT_EQ(read.Outs.at(0).AsString(), refusal);
    EXPECT_EQ(
        Call(*client, "PostData", {OleVariant::Bytes("x"), OleVariant(t.path), OleVariant(t.name)})
            .Outs.at(0)
            .AsString(),
        refusal);
    EXPECT_EQ(
        Call(*client, "DeleteData", {OleVariant(t.path), OleVariant(t.name)}).Outs.at(0).AsString(),
        refusal);
  }
  for (const auto& [name, bytes] : before) EXPECT_EQ(ReadFile(app_ + name), bytes) << name;
  EXPECT_EQ(fs::file_size(app_ + "velmora"), executable_size);
  EXPECT_TRUE(fs::exists(app_ + "test.db"));
  EXPECT_TRUE(fs::exists(app_ + "test.db-wal"));
  // The database is still served, and a client's own file beside these is reached as before.
  EXPECT_EQ(
      Call(*client, "ExecSQL", {OleVariant("INSERT INTO t VALUES (1)")}).Outs.at(0).AsString(), "");
  EXPECT_EQ(Call(*client, "PostData",
                 {OleVariant::Bytes("mine"), OleVariant(""), OleVariant("notes.txt")})
                .Outs.at(0)
                .AsString(),
            "");
  const TDSCallResult mine = Call(*client, "ReadData", {OleVariant(""), OleVariant("notes.txt")});
  EXPECT_EQ(mine.Outs.at(0).AsString(), "");
  EXPECT_TRUE(mine.Result == OleVariant::Bytes("mine"));
  EXPECT_EQ(
      Call(*client, "DeleteData", {OleVariant(""), OleVariant("notes.txt")}).Outs.at(0).AsString(),
      "");
  EXPECT_FALSE(fs::exists(app_ + "notes.txt"));
}
#endif

}  // namespace
}  // namespace velmora::test
