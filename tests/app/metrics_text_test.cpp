// The call-duration histogram's buckets and the text /metrics serves: the bounds are inclusive,
// the buckets cumulative with +Inf equal to the count, every labelled series present.
#include "app/metrics_text.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "app/metrics_endpoint.h"
#include "common/server_metrics.h"

namespace velmora::test {
namespace {

using std::chrono::nanoseconds;

TEST(DurationHistogram, BoundsAreInclusiveAndBucketsCumulative) {
  metrics::DurationHistogram h;
  // 0.0005 s is the first bound, 0.001 s the second, 10 s the last.
  for (const int64_t ns : {0LL, 500'000LL, 500'001LL, 1'000'000LL, 10'000'000'000LL,
                           10'000'000'001LL, 3'600'000'000'000LL, -5LL}) {
    h.Observe(nanoseconds(ns));
  }
  const auto s = h.Read();
  EXPECT_EQ(s.count, 8u);
  EXPECT_EQ(s.cumulative[0], 3u);   // 0, 0.0005 s and the negative one, taken as 0
  EXPECT_EQ(s.cumulative[1], 5u);   // + 0.000500001 s and 0.001 s
  EXPECT_EQ(s.cumulative[12], 5u);  // nothing up to 5 s
  EXPECT_EQ(s.cumulative[13], 6u);  // + 10 s; the two above it are only in +Inf
  EXPECT_DOUBLE_EQ(s.sum_seconds, 0.0005 + 0.000500001 + 0.001 + 10 + 10.000000001 + 3600);
}

TEST(MetricsText, WritesEveryFamilyWithItsLabelsAndCumulativeBuckets) {
  metrics::ServerMetrics counted;
  const size_t slot = counted.RegisterMethod("SQL2OleVariant");
  EXPECT_EQ(counted.RegisterMethod("SQL2OleVariant"), slot);
  metrics::MethodMetrics& m = counted.Method(slot);
  m.calls.Add(2);
  m.failures.Add();
  m.duration.Observe(std::chrono::microseconds(300));
  m.duration.Observe(std::chrono::milliseconds(20));
  counted.Refused(metrics::ConnectionRefusal::kPerAddressCap).Add(3);
  counted.Pool(metrics::PoolKind::kQueries).in_use.Add(4);
  counted.BackupMade(1'700'000'000);
  ProcessSample process;
  process.resident_memory_bytes = 4096;

  const std::string text = MetricsText(counted, {100, 1 << 20}, process);
  for (const char* line : {
           "# TYPE velmora_calls_total counter\n",
           "velmora_calls_total{method=\"SQL2OleVariant\"} 2\n",
           "velmora_call_failures_total{method=\"SQL2OleVariant\"} 1\n",
           "# TYPE velmora_call_duration_seconds histogram\n",
           "velmora_call_duration_seconds_count{method=\"SQL2OleVariant\"} 2\n",
           "velmora_call_duration_seconds_bucket{method=\"SQL2OleVariant\",le=\"0.0005\"} 1\n",
           "velmora_call_duration_seconds_bucket{method=\"SQL2OleVariant\",le=\"0.01\"} 1\n",
           "velmora_call_duration_seconds_bucket{method=\"SQL2OleVariant\",le=\"0.025\"} 2\n",
           "velmora_call_duration_seconds_bucket{method=\"SQL2OleVariant\",le=\"+Inf\"} 2\n",
           "velmora_connections_refused_total{reason=\"cap\"} 0\n",
           "velmora_connections_refused_total{reason=\"per_address_cap\"} 3\n",
           "velmora_connections_refused_total{reason=\"pre_login_limit\"} 0\n",
           "velmora_pool_objects_in_use{pool=\"queries\"} 4\n",
           "velmora_pool_waits_total{pool=\"stored_procedures\"} 0\n",
           "velmora_memory_budget_in_use_bytes 100\n",
           "velmora_memory_budget_bytes 1048576\n",
           "velmora_backups_made_total 1\n",
           "velmora_last_backup_success_timestamp_seconds 1700000000\n",
           "process_resident_memory_bytes 4096\n",
       }) {
    EXPECT_NE(text.find(line), std::string::npos) << line << "in\n" << text;
  }
  // The server-module pool never waits, and what the process sample lacks is left out.
  EXPECT_EQ(text.find("velmora_pool_waits_total{pool=\"server_modules\"}"), std::string::npos);
  EXPECT_EQ(text.find("process_cpu_seconds_total"), std::string::npos);
}

TEST(MetricsEndpoint, JsonStringEscapesQuotesBackslashesAndControls) {
  EXPECT_EQ(JsonString("a \"b\" \\c\n\x01"), "\"a \\\"b\\\" \\\\c\\u000a\\u0001\"");
}

}  // namespace
}  // namespace velmora::test
