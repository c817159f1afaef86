// The shell's list of its own files, and the real program refusing them to clients: the settings,
// the connection definition, the TLS certificate and key, the open database and the executable
// itself, installed in the application folder as scripts/run.sh does.
#include "app/server_own_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <thread>

#include "codec/packets.h"
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
                                      app + "server.key", app + "BackupData", executable}));
  WriteFile(app + "DataBase.CFG", "DriverID=SQLite\r\nDatabase=" + app + "test.db\r\n");
  EXPECT_EQ(ServerOwnFilePaths(app, {}),
            (std::vector<std::string>{app + "CONFIG.CFG", app + "DataBase.CFG", app + "test.db",
                                      app + "test.db-wal", app + "test.db-shm",
                                      app + "test.db-journal", app + "BackupData", executable}));
  // PostgreSQL's password file; a backup folder that holds the application folder is left out,
  // or every file there would be refused.
  WriteFile(app + "DataBase.CFG",
            "DriverID=PG\r\nServer=db\r\nDatabase=app\r\npassfile=" + app + "pgpass\r\n");
  WriteFile(app + "CONFIG.CFG", "[Backup]\r\nbakpath=" + folder.Path() + "/..\r\n");
  EXPECT_EQ(ServerOwnFilePaths(app, {}),
            (std::vector<std::string>{app + "CONFIG.CFG", app + "DataBase.CFG", app + "pgpass",
                                      executable}));
}

TEST(ServerOwnFilePaths, SecretsADatabaseClientLibraryReads) {
  const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
  struct Case {
    TStringList params;
    std::vector<std::string> files;
  };
  std::vector<Case> cases = {
      {Params({"DriverID=PG", "passfile=/srv/pgpass", "sslkey=/srv/client.key",
               "sslcert=/srv/client.pem"}),
       {"/srv/pgpass", "/srv/client.key"}},
      {Params({"DriverID=pg", "servicefile=/srv/pg_service.conf", "passfile=/srv/pgpass"}),
       {"/srv/pgpass", "/srv/pg_service.conf"}},
      {Params({"DriverID=SQLite", "Database=/srv/a.db", "passfile=/srv/pgpass"}), {}},
      {Params({"DriverID=MSSQL", "Server=db"}), {}},
  };
  if (!home.empty() && std::getenv("PGPASSFILE") == nullptr) {
    cases.push_back({Params({"DriverID=PG", "Server=db"}), {home + "/.pgpass"}});
  }
  for (const Case& t : cases) {
    SCOPED_TRACE(t.params.Text());
    EXPECT_EQ(SecretFilesOf(t.params), t.files);
  }
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
// A local user swaps links in the exchange folder while clients call the file methods: the link
// "link" between a plain file and the settings beside the folder, the folder "dir" between a real
// folder and the application folder. The path is checked before the file is opened, so every
// call may see the one and open the other; no call may hand out a byte of the settings or change
// them. VELMORA_RACE_SECONDS sets how long (5 s by default).
TEST_F(OwnFilesProgramTest, LinksSwappedUnderTheFileMethodsReachNoOwnFile) {
  const char* seconds_text = std::getenv("VELMORA_RACE_SECONDS");
  const auto duration = std::chrono::seconds(seconds_text != nullptr ? std::atoi(seconds_text) : 5);
  const std::string upload = app_ + "Upload/";
  const std::string settings = ReadFile(app_ + "CONFIG.CFG");
  WriteFile(upload + "plain.txt", "plain");
  fs::create_directory(upload + "real");
  fs::create_symlink("plain.txt", upload + "link");
  fs::create_directory_symlink("real", upload + "dir");
  auto warm = Connect();  // the program listens

  std::atomic<bool> stop{false};
  // Each swap is one rename of a new link over the old, so the name always exists.
  std::thread swapper([&] {
    for (bool harmless = false; !stop; harmless = !harmless) {
      fs::create_symlink(harmless ? "plain.txt" : "../CONFIG.CFG", upload + ".link.new");
      fs::rename(upload + ".link.new", upload + "link");
      fs::create_directory_symlink(harmless ? "real" : "..", upload + ".dir.new");
      fs::rename(upload + ".dir.new", upload + "dir");
    }
  });
  struct Tally {
    std::atomic<long> calls{0}, plain{0}, refused{0}, other{0};
  } reads, writes;
  const auto run = [&](const std::function<void(TDSClientChannel&)>& call, Tally& tally) {
    auto client = Connect();
    while (!stop) {
      try {
        call(*client);
      } catch (const EDSRemoteError&) {
        ++tally.refused;
      }
      ++tally.calls;
    }
  };
  const auto read_data = [&](TDSClientChannel& client) {
    const TDSCallResult r = Call(client, "ReadData", {OleVariant("Upload"), OleVariant("link")});
    if (r.Result.IsEmpty() || r.Result.IsNull()) {
      ++reads.refused;
    } else if (r.Result == OleVariant::Bytes("plain")) {
      ++reads.plain;
    } else {
      ++reads.other;
    }
  };
  const auto download = [&](TDSClientChannel& client) {
    const TDSCallResult r = Call(client, "DownLoadFile", {OleVariant("link")});
    if (r.Result.IsNull()) {
      ++reads.refused;
    } else {
      (PacketToBytes(r.Result) == "plain" ? reads.plain : reads.other)++;
    }
  };
  const auto write = [&](TDSClientChannel& client) {
    Call(client, "UploadFile", {CompressToPacket("evil"), OleVariant("dir/CONFIG.CFG")});
    const std::string post =
        Call(client, "PostData",
             {OleVariant::Bytes("evil"), OleVariant("Upload/dir"), OleVariant("CONFIG.CFG")})
            .Outs.at(0)
            .AsString();
    const std::string removed =
        Call(client, "DeleteData", {OleVariant("Upload/dir"), OleVariant("CONFIG.CFG")})
            .Outs.at(0)
            .AsString();
    (post.empty() && removed.empty() ? writes.plain : writes.refused)++;
  };
  std::vector<std::thread> clients;
  clients.emplace_back(run, read_data, std::ref(reads));
  clients.emplace_back(run, download, std::ref(reads));
  clients.emplace_back(run, write, std::ref(writes));
  std::this_thread::sleep_for(duration);
  stop = true;
  for (std::thread& t : clients) t.join();
  swapper.join();

  std::printf(
      "reads: %ld calls, %ld plain, %ld refused, %ld other; writes: %ld rounds, %ld done, "
      "%ld refused\n",
      reads.calls.load(), reads.plain.load(), reads.refused.load(), reads.other.load(),
      writes.calls.load(), writes.plain.load(), writes.refused.load());
  EXPECT_EQ(reads.other, 0);  // anything but the plain file's bytes, a refusal or nothing
  EXPECT_GT(reads.plain, 0);  // the race was run: both sides of the swap were met
  EXPECT_GT(reads.refused, 0);
  EXPECT_GT(writes.calls, 0);
  EXPECT_EQ(ReadFile(app_ + "CONFIG.CFG"), settings);
}
#endif

}  // namespace
}  // namespace velmora::test
