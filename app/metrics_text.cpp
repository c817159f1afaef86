#include "app/metrics_text.h"

#include <dirent.h>
#include <prometheus/metric_family.h>
#include <prometheus/text_serializer.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <deque>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <string_view>
#include <vector>

#ifndef VELMORA_VERSION
#define VELMORA_VERSION "unknown"
#endif

namespace velmora {

namespace {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;

class Families {
 public:
  MetricFamily& Add(std::string name, std::string help, MetricType type) {
    families_.push_back(MetricFamily{std::move(name), std::move(help), type, {}});
    return families_.back();
  }

  // One family with a single sample and no labels.
  void Counter(std::string name, std::string help, uint64_t value) {
    Labelled(Add(std::move(name), std::move(help), MetricType::Counter), {}, {},
             static_cast<double>(value));
  }
  void Gauge(std::string name, std::string help, double value) {
    Labelled(Add(std::move(name), std::move(help), MetricType::Gauge), {}, {}, value);
  }

  // Appends a sample to `family`, labelled `label`=`value` unless `label` is empty.
  static void Labelled(MetricFamily& family, std::string_view label, std::string_view value,
                       double number) {
    ClientMetric& m = family.metric.emplace_back();
    if (!label.empty()) m.label.push_back({std::string(label), std::string(value)});
    if (family.type == MetricType::Counter) {
      m.counter.value = number;
    } else {
      m.gauge.value = number;
    }
  }

  std::vector<MetricFamily> Take() {
    return {std::make_move_iterator(families_.begin()), std::make_move_iterator(families_.end())};
  }

 private:
  std::deque<MetricFamily> families_;  // a deque: Add's references stay valid
};

void AddConnections(Families& f, const metrics::ServerMetrics& c) {
  f.Gauge("velmora_connections_open", "Client connections being served now.",
          static_cast<double>(c.connections_open.Value()));
  f.Counter("velmora_connections_accepted_total", "Client connections accepted and served.",
            c.connections_accepted.Value());
  MetricFamily& refused = f.Add("velmora_connections_refused_total",
                                "Client connections turned away or cut, by reason: cap, "
                                "per_address_cap, deadline, pre_login_limit, threads.",
                                MetricType::Counter);
  for (size_t i = 0; i < metrics::kRefusalNames.size(); ++i) {
    const auto why = static_cast<metrics::ConnectionRefusal>(i);
    Families::Labelled(refused, "reason", metrics::kRefusalNames[i],
                       static_cast<double>(c.Refused(why).Value()));
  }
  f.Counter("velmora_logins_accepted_total", "Logins accepted.", c.logins_accepted.Value());
  f.Counter("velmora_logins_refused_total", "Logins refused.", c.logins_refused.Value());
  f.Counter("velmora_received_bytes_total", "Bytes of frames received from clients.",
            c.bytes_received.Value());
  f.Counter("velmora_sent_bytes_total", "Bytes of frames sent to clients.", c.bytes_sent.Value());
}

void AddCalls(Families& f, const metrics::ServerMetrics& c) {
  MetricFamily& calls =
      f.Add("velmora_calls_total", "Calls of published methods.", MetricType::Counter);
  MetricFamily& failures = f.Add("velmora_call_failures_total",
                                 "Calls that raised a remote error or answered with an error text.",
                                 MetricType::Counter);
  MetricFamily& durations =
      f.Add("velmora_call_duration_seconds",
            "Time from the start of a method to its encoded reply.", MetricType::Histogram);
  const size_t methods = c.MethodCount();
  for (size_t slot = 0; slot < methods; ++slot) {
    const std::string_view name = c.MethodName(slot);
    const metrics::MethodMetrics& m = c.Method(slot);
    Families::Labelled(calls, "method", name, static_cast<double>(m.calls.Value()));
    Families::Labelled(failures, "method", name, static_cast<double>(m.failures.Value()));
    const metrics::DurationHistogram::Snapshot s = m.duration.Read();
    ClientMetric& h = durations.metric.emplace_back();
    h.label.push_back({"method", std::string(name)});
    h.histogram.sample_count = s.count;
    h.histogram.sample_sum = s.sum_seconds;
    for (size_t i = 0; i < s.cumulative.size(); ++i) {
      h.histogram.bucket.push_back({s.cumulative[i], metrics::kCallDurationBucketsSeconds[i]});
    }
    h.histogram.bucket.push_back({s.count, std::numeric_limits<double>::infinity()});
  }
}

void AddPools(Families& f, const metrics::ServerMetrics& c) {
  MetricFamily& in_use = f.Add("velmora_pool_objects_in_use", "Pooled objects handed out, by pool.",
                               MetricType::Gauge);
  MetricFamily& idle =
      f.Add("velmora_pool_objects_idle", "Pooled objects kept idle, by pool.", MetricType::Gauge);
  MetricFamily& waits =
      f.Add("velmora_pool_waits_total", "Hand-outs that waited for a free object, by pool.",
            MetricType::Counter);
  MetricFamily& timeouts = f.Add("velmora_pool_timeouts_total",
                                 "Waits for a free object that reached the pool's time limit, by "
                                 "pool.",
                                 MetricType::Counter);
  for (size_t i = 0; i < metrics::kPoolNames.size(); ++i) {
    const auto kind = static_cast<metrics::PoolKind>(i);
    const metrics::PoolMetrics& p = c.Pool(kind);
    const std::string_view name = metrics::kPoolNames[i];
    Families::Labelled(in_use, "pool", name, static_cast<double>(p.in_use.Value()));
    Families::Labelled(idle, "pool", name, static_cast<double>(p.idle.Value()));
    // The server-module pool makes a new instance instead of waiting: it has no waits.
    if (kind == metrics::PoolKind::kServerModules) continue;
    Families::Labelled(waits, "pool", name, static_cast<double>(p.waits.Value()));
    Families::Labelled(timeouts, "pool", name, static_cast<double>(p.timeouts.Value()));
  }
}

void AddRest(Families& f, const metrics::ServerMetrics& c, const MemoryBudgetSample& budget) {
  f.Gauge("velmora_memory_budget_in_use_bytes",
          "Bytes reserved from the memory budget by buffers being inflated or decoded.",
          static_cast<double>(budget.in_use_bytes));
  f.Gauge("velmora_memory_budget_bytes", "The memory budget (MemoryBudgetMiB).",
          static_cast<double>(budget.total_bytes));
  f.Counter("velmora_memory_budget_refusals_total", "Reservations the memory budget refused.",
            c.memory_budget_refusals.Value());
  f.Counter("velmora_statement_timeouts_total", "SQL statements stopped at the statement time-out.",
            c.statement_timeouts.Value());
  f.Counter("velmora_backups_made_total", "Backups made.", c.backups_made.Value());
  f.Counter("velmora_backups_failed_total", "Backups that failed.", c.backups_failed.Value());
  f.Gauge("velmora_last_backup_success_timestamp_seconds",
          "When this process last made a backup, in seconds since the Unix epoch; 0 before its "
          "first.",
          static_cast<double>(c.last_backup_unix_seconds.Value()));
  MetricFamily& build = f.Add("velmora_build_info", "The server's version and compiler; always 1.",
                              MetricType::Gauge);
  ClientMetric& m = build.metric.emplace_back();
  m.label.push_back({"version", VELMORA_VERSION});
  m.label.push_back({"compiler", __VERSION__});
  m.gauge.value = 1;
}

void AddProcess(Families& f, const ProcessSample& p) {
  const auto gauge = [&](const char* name, const char* help, double value) {
    if (value >= 0) f.Gauge(name, help, value);
  };
  if (p.cpu_seconds >= 0) {
    MetricFamily& cpu =
        f.Add("process_cpu_seconds_total", "Total user and system CPU time spent in seconds.",
              MetricType::Counter);
    Families::Labelled(cpu, {}, {}, p.cpu_seconds);
  }
  gauge("process_resident_memory_bytes", "Resident memory size in bytes.", p.resident_memory_bytes);
  gauge("process_virtual_memory_bytes", "Virtual memory size in bytes.", p.virtual_memory_bytes);
  gauge("process_start_time_seconds", "Start time of the process since unix epoch in seconds.",
        p.start_time_seconds);
  gauge("process_open_fds", "Number of open file descriptors.", p.open_fds);
  gauge("process_max_fds", "Maximum number of open file descriptors.", p.max_fds);
}

// The system's boot time in seconds since the epoch (/proc/stat "btime"), or -1.
double BootTimeSeconds() {
  std::ifstream stat("/proc/stat");
  std::string key;
  double value = 0;
  while (stat >> key) {
    if (key == "btime" && stat >> value) return value;
    stat.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
  }
  return -1;
}

}  // namespace

ProcessSample SampleProcess() {
  ProcessSample p;
  const double ticks = static_cast<double>(::sysconf(_SC_CLK_TCK));
  const double page = static_cast<double>(::sysconf(_SC_PAGESIZE));
  std::ifstream stat_file("/proc/self/stat");
  std::string line;
  if (ticks > 0 && std::getline(stat_file, line)) {
    // The command name (field 2) may hold spaces and parentheses: fields are counted after the
    // last ')'. Then: 3 state, ... 14 utime, 15 stime, ... 22 starttime, 23 vsize, 24 rss.
    const size_t close = line.rfind(')');
    if (close != std::string::npos) {
      std::istringstream fields(line.substr(close + 1));
      std::vector<std::string> f;
      for (std::string field; fields >> field;) f.push_back(field);
      if (f.size() >= 22) {
        // f[0] is field 3.
        p.cpu_seconds = (std::stod(f[11]) + std::stod(f[12])) / ticks;
        const double boot = BootTimeSeconds();
        if (boot >= 0) p.start_time_seconds = boot + std::stod(f[19]) / ticks;
        p.virtual_memory_bytes = std::stod(f[20]);
        if (page > 0) p.resident_memory_bytes = std::stod(f[21]) * page;
      }
    }
  }
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    double count = 0;
    while (const dirent* entry = ::readdir(dir)) {
      if (entry->d_name[0] != '.') ++count;
    }
    ::closedir(dir);
    p.open_fds = count - 1;  // the directory's own descriptor is not one of the process's
  }
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    p.max_fds = static_cast<double>(limit.rlim_cur);
  }
  return p;
}

std::string MetricsText(const metrics::ServerMetrics& counted, const MemoryBudgetSample& budget,
                        const ProcessSample& process) {
  Families f;
  AddConnections(f, counted);
  AddCalls(f, counted);
  AddPools(f, counted);
  AddRest(f, counted, budget);
  AddProcess(f, process);
  return prometheus::TextSerializer().Serialize(f.Take());
}

}  // namespace velmora
