// The figures of one workload, printed as a small table or as one line of JSON.
#pragma once

#include <optional>
#include <string>

#include "tools/bench/timed_run.h"
#include "tools/bench/workload.h"

namespace velmora::bench {

struct WorkloadReport {
  Workload workload = Workload::Small;
  int clients = 0;
  RunResult network;
  std::optional<RunResult> baseline;  // self-hosted runs only
};

std::string ReportText(const WorkloadReport& r);
std::string ReportJson(const WorkloadReport& r);  // one line, no line break

}  // namespace velmora::bench
