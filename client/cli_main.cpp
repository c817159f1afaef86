// velmora-cli: a command-line client of a Velmora server.
//
// Exit codes: 0 success; 1 a failure the server reported in its ErrMsg, or a local or missing
// file; 2 bad usage, a refused login, no connection or a remote error.
#include <unistd.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "client/cli_commands.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsageOrConnection = 2;

}  // namespace

int main(int argc, char** argv) {
  using namespace velmora;
  CLI::App app{"Command-line client of a Velmora server", "velmora-cli"};
  std::string host = "127.0.0.1";
  int port = kDefaultServerPort;
  std::string user = "admin";
  std::string password = "velmo";
  std::string format_name = "table";
  app.add_option("--host", host, "Server address")->envname("VELMORA_HOST")->capture_default_str();
  app.add_option("--port", port, "Server port")
      ->envname("VELMORA_PORT")
      ->check(CLI::Range(1, 65535))
      ->capture_default_str();
  app.add_option("--user", user, "Service account")->envname("VELMORA_USER")->capture_default_str();
  app.add_option("--password", password, "Password of the service account")
      ->envname("VELMORA_PASSWORD");
  TDSTlsClientSettings tls;
  app.add_flag("--tls", tls.Enabled, "Speak TLS to the server")->envname("VELMORA_TLS");
  app.add_option("--ca", tls.CaFile,
                 "PEM file of the CA that signed the server's certificate (default: the system's "
                 "trusted certificates); implies --tls")
      ->envname("VELMORA_CA");
  app.add_option("--format", format_name, "Output of query and ls")
      ->check(CLI::IsMember({"table", "csv", "json"}))
      ->capture_default_str();
  app.require_subcommand(1);

  std::string a1, a2, a3;  // positional arguments of the chosen command
  std::function<void(cli::Context&)> run;
  auto* time = app.add_subcommand("time", "Print the server's date and time");
  time->callback([&] { run = [](cli::Context& c) { cli::RunTime(c); }; });
  auto* query = app.add_subcommand("query", "Run SQL that returns rows and print them");
  query->add_option("SQL", a1)->required();
  query->callback([&] { run = [&](cli::Context& c) { cli::RunQuery(c, a1); }; });
  auto* exec = app.add_subcommand("exec", "Execute SQL in a transaction of its own");
  exec->add_option("SQL", a1)->required();
  exec->callback([&] { run = [&](cli::Context& c) { cli::RunExec(c, a1); }; });
  auto* batch = app.add_subcommand("batch", "Execute the SQL lines of a file (- for standard input)");
  batch->add_option("FILE", a1)->required();
  batch->callback([&] { run = [&](cli::Context& c) { cli::RunBatch(c, a1); }; });
  auto* upload = app.add_subcommand("upload", "Upload a file into the exchange folder");
  upload->add_option("LOCAL", a1)->required();
  upload->add_option("NAME", a2, "Name in the exchange folder (default: the local file's name)");
  upload->callback([&] { run = [&](cli::Context& c) { cli::RunUpload(c, a1, a2); }; });
  auto* download = app.add_subcommand("download", "Download a file from the exchange folder");
  download->add_option("NAME", a1)->required();
  download->add_option("LOCAL", a2, "Local file (default: the name's last part)");
  download->callback([&] { run = [&](cli::Context& c) { cli::RunDownload(c, a1, a2); }; });
  auto* ls = app.add_subcommand("ls", "List the exchange folder");
  ls->callback([&] { run = [](cli::Context& c) { cli::RunList(c); }; });
  auto* read = app.add_subcommand("read", "Read a file below the server's folder");
  read->add_option("PATH", a1)->required();
  read->add_option("NAME", a2)->required();
  read->add_option("LOCAL", a3, "Local file (default: standard output)");
  read->callback([&] { run = [&](cli::Context& c) { cli::RunRead(c, a1, a2, a3); }; });
  auto* post = app.add_subcommand("post", "Write a file below the server's folder");
  post->add_option("LOCAL", a1)->required();
  post->add_option("PATH", a2)->required();
  post->add_option("NAME", a3)->required();
  post->callback([&] { run = [&](cli::Context& c) { cli::RunPost(c, a1, a2, a3); }; });
  auto* rm = app.add_subcommand("rm", "Delete a file below the server's folder");
  rm->add_option("PATH", a1)->required();
  rm->add_option("NAME", a2)->required();
  rm->callback([&] { run = [&](cli::Context& c) { cli::RunRemove(c, a1, a2); }; });

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : kExitUsageOrConnection;
  }

  std::ios::sync_with_stdio(false);
  try {
    TVelmoraClient client;
    if (!tls.CaFile.empty()) tls.Enabled = true;
    client.Connect(host, static_cast<uint16_t>(port), user, password, tls);
    cli::Context ctx{client, *OutputFormatFromName(format_name), std::cout, std::cerr,
                     isatty(STDERR_FILENO) == 1};
    run(ctx);
    std::cout.flush();
    return std::cout ? 0 : kExitFailed;
  } catch (const cli::ECommandFailed& e) {
    std::cout.flush();
    std::cerr << e.what() << '\n';
    return kExitFailed;
  } catch (const EDSLoginError& e) {
    std::cerr << e.what() << '\n';
    return kExitUsageOrConnection;
  } catch (const EDSRemoteError& e) {
    std::cerr << e.what() << '\n';
    return kExitUsageOrConnection;
  } catch (const EDSConnectionError& e) {
    std::cerr << e.what() << '\n';
    return kExitUsageOrConnection;
  } catch (const EDSProtocolError& e) {
    std::cerr << e.what() << '\n';
    return kExitUsageOrConnection;
  } catch (const std::exception& e) {
    // A packet that cannot be read, a listing out of step and the like.
    std::cerr << e.what() << '\n';
    return kExitFailed;
  }
}
