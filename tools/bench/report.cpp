#include "tools/bench/report.h"

#include <fmt/format.h>

#include <nlohmann/json.hpp>

namespace velmora::bench {
namespace {

std::string Row(std::string_view label, const RunResult& r) {
  return fmt::format("  {:<11} {:>10.1f} {:>12.0f} {:>10.0f} {:>10.0f} {:>9.2f} {:>8} {:>7}\n",
                     label, r.CallsPerSecond(), r.RowsPerSecond(), r.p50_us, r.p99_us,
                     r.MegabytesPerSecond(), r.calls, r.errors);
}

double Ratio(double a, double b) {
  return b > 0 ? a / b : 0;
}

std::string CpuLine(std::string_view label, const RunResult& r) {
  return fmt::format(
      "  {:<11} CPU per call: {:.1f} us process ({:.1f} user, {:.1f} kernel), {:.1f} us in the "
      "calling threads\n",
      label, r.PerCallUs(r.process_user_s + r.process_sys_s), r.PerCallUs(r.process_user_s),
      r.PerCallUs(r.process_sys_s), r.PerCallUs(r.callers_cpu_s));
}

void PutCpu(nlohmann::ordered_json& j, const std::string& prefix, const RunResult& r) {
  j[prefix + "cpu_us_per_call"] = r.PerCallUs(r.process_user_s + r.process_sys_s);
  j[prefix + "kernel_us_per_call"] = r.PerCallUs(r.process_sys_s);
  j[prefix + "callers_cpu_us_per_call"] = r.PerCallUs(r.callers_cpu_s);
}

}  // namespace

std::string ReportText(const WorkloadReport& r) {
  std::string out =
      fmt::format("workload {}, {} client{}, {:.1f} s measured\n", WorkloadName(r.workload),
                  r.clients, r.clients == 1 ? "" : "s", r.network.seconds);
  out += fmt::format("  {:<11} {:>10} {:>12} {:>10} {:>10} {:>9} {:>8} {:>7}\n", "", "calls/s",
                     "rows/s", "p50 us", "p99 us", "MB/s", "calls", "errors");
  out += Row("network", r.network);
  if (r.baseline) {
    out += Row("in-process", *r.baseline);
    out += fmt::format("  network / in-process: {:.1f}% of calls/s, {:.1f}% of rows/s\n",
                       100 * Ratio(r.network.CallsPerSecond(), r.baseline->CallsPerSecond()),
                       100 * Ratio(r.network.RowsPerSecond(), r.baseline->RowsPerSecond()));
  }
  out += CpuLine("network", r.network);
  if (r.baseline) out += CpuLine("in-process", *r.baseline);
  if (!r.network.first_error.empty())
    out += "  first network error: " + r.network.first_error + "\n";
  if (r.baseline && !r.baseline->first_error.empty()) {
    out += "  first in-process error: " + r.baseline->first_error + "\n";
  }
  return out;
}

std::string ReportJson(const WorkloadReport& r) {
  nlohmann::ordered_json j;
  j["workload"] = WorkloadName(r.workload);
  j["clients"] = r.clients;
  j["seconds"] = r.network.seconds;
  j["calls"] = r.network.calls;
  j["errors"] = r.network.errors;
  j["calls_per_s"] = r.network.CallsPerSecond();
  j["rows_per_s"] = r.network.RowsPerSecond();
  j["p50_us"] = r.network.p50_us;
  j["p99_us"] = r.network.p99_us;
  j["mb_per_s"] = r.network.MegabytesPerSecond();
  PutCpu(j, "", r.network);
  if (!r.network.first_error.empty()) j["first_error"] = r.network.first_error;
  if (r.baseline) {
    j["baseline_seconds"] = r.baseline->seconds;
    j["baseline_calls"] = r.baseline->calls;
    j["baseline_errors"] = r.baseline->errors;
    j["baseline_calls_per_s"] = r.baseline->CallsPerSecond();
    j["baseline_rows_per_s"] = r.baseline->RowsPerSecond();
    j["baseline_p50_us"] = r.baseline->p50_us;
    j["baseline_p99_us"] = r.baseline->p99_us;
    j["baseline_mb_per_s"] = r.baseline->MegabytesPerSecond();
    PutCpu(j, "baseline_", *r.baseline);
    j["calls_ratio"] = Ratio(r.network.CallsPerSecond(), r.baseline->CallsPerSecond());
    j["rows_ratio"] = Ratio(r.network.RowsPerSecond(), r.baseline->RowsPerSecond());
    if (!r.baseline->first_error.empty()) j["baseline_first_error"] = r.baseline->first_error;
  } else {
    j["baseline_calls_per_s"] = nullptr;
    j["baseline_rows_per_s"] = nullptr;
  }
  return j.dump();
}

}  // namespace velmora::bench
