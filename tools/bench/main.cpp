// velmora-bench: N concurrent clients, each with its own connection and thread, calling one
// method of the server for a fixed time; with its own server (no --host) it also runs the same
// work in-process through the database pools, as the baseline the network side is judged by.
#include <fmt/core.h>

#include <CLI/CLI.hpp>
#include <exception>
#include <optional>
#include <string>

#include "tools/bench/apply_run.h"
#include "tools/bench/baseline_run.h"
#include "tools/bench/bench_options.h"
#include "tools/bench/network_run.h"
#include "tools/bench/report.h"
#include "tools/self_host/scratch_folder.h"
#include "tools/self_host/self_hosted_server.h"

namespace velmora::bench {
namespace {

int Run(const BenchOptions& options) {
  std::optional<self_host::ScratchFolder> folder;  // outlives the server running in it
  std::optional<self_host::SelfHostedServer> own;
  ServerAddress server{{}, options.user, options.password, {}};
  server.rules.RandomOrder = options.random_order;
  server.rules.RetryReads = options.retry_reads;
  if (!options.SelfHosted()) server.servers = ParseServerAddresses(options.host, options.port);
  if (options.SelfHosted()) {
    if (!options.json)
      fmt::print("generating a {}-row database and starting a server...\n", kBigTableRows);
    folder.emplace();
    own.emplace(
        self_host::SelfHostOptions{folder->Path(), options.user, options.password, kBigTableRows});
    server.servers = {{"127.0.0.1", own->Port()}};
  }
  const std::vector<Workload> workloads =
      options.workloads.empty() ? AllWorkloads() : options.workloads;
  for (Workload w : workloads) {
    const int64_t rows = PrepareWorkload(server, w);
    WorkloadReport report;
    report.workload = w;
    report.clients = options.clients;
    report.network = RunNetwork(server, w, options.clients, options.seconds, rows);
    // Connecting has no in-process counterpart: its figure stands alone.
    if (own && w != Workload::Connect) {
      report.baseline = RunBaseline(w, options.clients, options.seconds, rows);
    }
    fmt::print("{}\n", options.json ? ReportJson(report) : ReportText(report));
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace
}  // namespace velmora::bench

int main(int argc, char** argv) {
  using velmora::bench::Workload;
  velmora::bench::BenchOptions options;
  std::string workload;
  CLI::App app{
      "velmora-bench: concurrent clients against a Velmora server, beside the same work "
      "done in-process"};
  app.add_option("--host", options.host,
                 "server to measure, or several as host[:port],... (each client takes the first "
                 "that admits it and reconnects after a drop); without it a server is started in "
                 "this process");
  app.add_option("--port", options.port, "the port of the hosts given without one (with --host)")
      ->capture_default_str();
  app.add_flag("--random-order", options.random_order,
               "each client tries the --host addresses in a random order");
  app.add_flag("--retry-reads", options.retry_reads,
               "resend a read workload's query whose reply was lost (writes never are)");
  app.add_option("--user", options.user, "account name")->capture_default_str();
  app.add_option("--password", options.password, "account password")->capture_default_str();
  app.add_option("--clients", options.clients, "concurrent clients, one connection and thread each")
      ->check(CLI::Range(1, 4096))
      ->capture_default_str();
  app.add_option("--seconds", options.seconds, "time each workload runs")
      ->check(CLI::Range(0.1, 3600.0))
      ->capture_default_str();
  int rounds = 5;
  app.add_option("--workload", workload,
                 "small, large, insert or connect (default: all four); apply: one delta of "
                 "10,000 rows against a plain sqlite3 loop (its own server)")
      ->check(CLI::IsMember({"small", "large", "insert", "connect", "apply"}));
  app.add_option("--rounds", rounds, "rounds of the apply workload")
      ->check(CLI::Range(1, 1000))
      ->capture_default_str();
  app.add_flag("--json", options.json, "one JSON object per workload, one per line");
  CLI11_PARSE(app, argc, argv);
  if (workload == "apply") {
    try {
      return velmora::bench::RunApplyWorkload(options.user, options.password,
                                              {rounds, options.json});
    } catch (const std::exception& e) {
      fmt::print(stderr, "velmora-bench: {}\n", e.what());
      return 1;
    }
  }
  if (!workload.empty()) options.workloads.push_back(*velmora::bench::ParseWorkload(workload));
  try {
    return velmora::bench::Run(options);
  } catch (const std::exception& e) {
    fmt::print(stderr, "velmora-bench: {}\n", e.what());
    return 1;
  }
}
