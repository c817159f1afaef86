// velmora-cli: a command-line client of a Velmora server.
//
// Exit codes: 0 success; 1 a failure the server reported in its ErrMsg, or a local or missing
// file; 2 bad usage, a refused login, no connection or a remote error.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdint>
#include <exception>
#include <functional>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "client/cli_commands.h"
#include "client/cli_exit_codes.h"
#include "client/cli_shell.h"
#include "common/service_defaults.h"

namespace {

using velmora::cli::Context;

using velmora::cli::kExitFailed;
using velmora::cli::kExitUsageOrConnection;

// The options every command shares: where to connect, as whom, and how to print.
struct Options {
  std::string host = "127.0.0.1";
  int port = velmora::kDefaultServicePort;
  std::string user{velmora::kDefaultUserName};
  std::string password{velmora::kDefaultPassword};
  std::string format_name = "table";
  velmora::TDSTlsClientSettings tls;
  velmora::TReconnectRules rules;
  std::vector<velmora::TServerAddress> servers;  // --host read with --port as the default
};

void AddOptions(CLI::App& app, Options& o) {
  app.add_option("--host", o.host,
                 "Server address, or several as host[:port],... tried in order until one admits "
                 "the login")
      ->envname("VELMORA_HOST")
      ->capture_default_str();
  app.add_flag("--random-order", o.rules.RandomOrder, "Try the --host addresses in a random order")
      ->envname("VELMORA_RANDOM_ORDER");
  app.add_flag("--retry-reads", o.rules.RetryReads,
               "Send a read (time, ls, download, read) again when its reply was lost")
      ->envname("VELMORA_RETRY_READS");
  app.add_option("--port", o.port, "Server port (for the --host addresses without one)")
      ->envname("VELMORA_PORT")
      ->check(CLI::Range(1, 65535))
      ->capture_default_str();
  app.add_option("--user", o.user, "Service account")
      ->envname("VELMORA_USER")
      ->capture_default_str();
  app.add_option("--password", o.password, "Password of the service account")
      ->envname("VELMORA_PASSWORD");
  app.add_flag("--tls", o.tls.Enabled, "Speak TLS to the server")->envname("VELMORA_TLS");
  app.add_option("--ca", o.tls.CaFile,
                 "PEM file of the CA that signed the server's certificate (default: the system's "
                 "trusted certificates); implies --tls")
      ->envname("VELMORA_CA");
  app.add_option("--format", o.format_name, "Output of query and ls")
      ->check(CLI::IsMember({"table", "csv", "json"}))
      ->capture_default_str();
}

// The chosen command: its subcommand's callback sets `run` once the arguments are parsed.
struct Command {
  std::string a1, a2, a3;         // positional arguments of the chosen command
  std::vector<std::string> rest;  // the call's parameters, in command-line order
  std::function<void(Context&)> run;
};

constexpr const char* kParamHelp =
    "A value bound to the next marker (? or :name), repeated in order: 42, 1.5, true, null, "
    "TYPE:VALUE (text:42, date:2024-03-05, datetime:2024-03-05 10:11:12, float:1e3, "
    "bytes:0aff)";

void AddCommands(CLI::App& app, Command& cmd) {
  using namespace velmora::cli;
  auto* time = app.add_subcommand("time", "Print the server's date and time");
  time->callback([&cmd] { cmd.run = [](Context& c) { RunTime(c); }; });
  auto* query = app.add_subcommand("query", "Run SQL that returns rows and print them");
  query->add_option("SQL", cmd.a1)->required();
  query->add_option("--param", cmd.rest, kParamHelp)->allow_extra_args(false);
  query->callback([&cmd] { cmd.run = [&cmd](Context& c) { RunQuery(c, cmd.a1, cmd.rest); }; });
  auto* exec = app.add_subcommand("exec", "Execute SQL in a transaction of its own");
  exec->add_option("SQL", cmd.a1)->required();
  exec->add_option("--param", cmd.rest, kParamHelp)->allow_extra_args(false);
  exec->callback([&cmd] { cmd.run = [&cmd](Context& c) { RunExec(c, cmd.a1, cmd.rest); }; });
  auto* batch =
      app.add_subcommand("batch", "Execute the SQL lines of a file (- for standard input)");
  batch->add_option("FILE", cmd.a1)->required();
  batch->callback([&cmd] { cmd.run = [&cmd](Context& c) { RunBatch(c, cmd.a1); }; });
  auto* upload = app.add_subcommand("upload", "Upload a file into the exchange folder");
  upload->add_option("LOCAL", cmd.a1)->required();
  upload->add_option("NAME", cmd.a2,
                     "Name in the exchange folder (default: the local file's name)");
  upload->callback([&cmd] { cmd.run = [&cmd](Context& c) { RunUpload(c, cmd.a1, cmd.a2); }; });
  auto* download = app.add_subcommand("download", "Download a file from the exchange folder");
  download->add_option("NAME", cmd.a1)->required();
  download->add_option("LOCAL", cmd.a2, "Local file (default: the name's last part)");
  download->callback([&cmd] { cmd.run = [&cmd](Context& c) { RunDownload(c, cmd.a1, cmd.a2); }; });
  auto* ls = app.add_subcommand("ls", "List the exchange folder");
  ls->callback([&cmd] { cmd.run = [](Context& c) { RunList(c); }; });
  auto* read = app.add_subcommand("read", "Read a file below the server's folder");
  read->add_option("PATH", cmd.a1)->required();
  read->add_option("NAME", cmd.a2)->required();
  read->add_option("LOCAL", cmd.a3, "Local file (default: standard output)");
  read->callback([&cmd] { cmd.run = [&cmd](Context& c) { RunRead(c, cmd.a1, cmd.a2, cmd.a3); }; });
  auto* post = app.add_subcommand("post", "Write a file below the server's folder");
  post->add_option("LOCAL", cmd.a1)->required();
  post->add_option("PATH", cmd.a2)->required();
  post->add_option("NAME", cmd.a3)->required();
  post->callback([&cmd] { cmd.run = [&cmd](Context& c) { RunPost(c, cmd.a1, cmd.a2, cmd.a3); }; });
  auto* rm = app.add_subcommand("rm", "Delete a file below the server's folder");
  rm->add_option("PATH", cmd.a1)->required();
  rm->add_option("NAME", cmd.a2)->required();
  rm->callback([&cmd] { cmd.run = [&cmd](Context& c) { RunRemove(c, cmd.a1, cmd.a2); }; });
  auto* apply = app.add_subcommand(
      "apply", "Apply a JSON change file (- for standard input) to a table through a delta");
  apply->add_option("TABLE", cmd.a1)->required();
  apply->add_option("FILE", cmd.a2)->required();
  apply->callback([&cmd] { cmd.run = [&cmd](Context& c) { RunApply(c, cmd.a1, cmd.a2); }; });
  auto* call = app.add_subcommand(
      "call",
      "Call a stored procedure: PROC [--rows] [NAME=VALUE ...] [NAME:TYPE=VALUE ...] "
      "[--out NAME[:TYPE] ...]");
  call->add_option("PROC", cmd.a1)->required();
  call->allow_extras();  // the parameters, read in order by RunCall
  call->callback([&cmd, call] {
    cmd.rest = call->remaining();
    cmd.run = [&cmd](Context& c) { RunCall(c, cmd.a1, cmd.rest); };
  });
}

void ConnectClient(const Options& o, velmora::TVelmoraClient& client) {
  velmora::TDSTlsClientSettings tls = o.tls;
  if (!tls.CaFile.empty()) tls.Enabled = true;
  client.Connect(o.servers, o.user, o.password, tls, o.rules);
}

// Without a command: the shell, on a terminal or over standard input.
int RunShell(const Options& o) {
  velmora::cli::ShellSettings settings;
  settings.connect = [&o](velmora::TVelmoraClient& client) { ConnectClient(o, client); };
  settings.format = *velmora::OutputFormatFromName(o.format_name);
  settings.history_file = velmora::cli::DefaultHistoryFile();
  return velmora::cli::RunShell(settings);
}

// Connects, runs the command and turns its outcome into the exit code.
int Run(const Options& o, const Command& cmd) {
  using namespace velmora;
  std::ios::sync_with_stdio(false);
  try {
    TVelmoraClient client;
    ConnectClient(o, client);
    Context ctx{client, *OutputFormatFromName(o.format_name), std::cout, std::cerr,
                isatty(STDERR_FILENO) == 1};
    cmd.run(ctx);
    std::cout.flush();
    return std::cout ? 0 : kExitFailed;
  } catch (...) {
    std::cout.flush();
    return cli::ReportFailure(std::current_exception(), std::cerr);
  }
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Command-line client of a Velmora server", "velmora-cli"};
  Options options;
  Command command;
  AddOptions(app, options);
  app.require_subcommand(0, 1);
  AddCommands(app, command);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : kExitUsageOrConnection;
  }
  try {
    options.servers =
        velmora::ParseServerAddresses(options.host, static_cast<uint16_t>(options.port));
  } catch (const std::invalid_argument& e) {
    std::cerr << e.what() << '\n';
    return kExitUsageOrConnection;
  }
  return command.run ? Run(options, command) : RunShell(options);
}
