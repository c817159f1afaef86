#include "app/config/limits_config.h"

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <exception>

#include "app/config/ini_file.h"
#include "variant/variant_text.h"

namespace velmora {
namespace {

constexpr int64_t kDay = 24 * 3600;

// Accessors for a field kept as a count, as seconds, or in bytes but configured in MiB.
#define VELMORA_COUNT_KEY(field, key, lo, hi, meaning)                                         \
  LimitSetting {                                                                               \
    key, meaning, lo, hi, [](const ServerLimits& l) { return static_cast<int64_t>(l.field); }, \
        [](ServerLimits& l, int64_t v) { l.field = static_cast<decltype(l.field)>(v); }        \
  }
#define VELMORA_SECONDS_KEY(field, key, lo, hi, meaning)                             \
  LimitSetting {                                                                     \
    key, meaning, lo, hi,                                                            \
        [](const ServerLimits& l) { return static_cast<int64_t>(l.field.count()); }, \
        [](ServerLimits& l, int64_t v) { l.field = std::chrono::seconds(v); }        \
  }
#define VELMORA_MIB_KEY(field, key, lo, hi, meaning)                                  \
  LimitSetting {                                                                      \
    key, meaning, lo, hi,                                                             \
        [](const ServerLimits& l) { return static_cast<int64_t>(l.field / kMiB); },   \
        [](ServerLimits& l, int64_t v) { l.field = static_cast<uint64_t>(v) * kMiB; } \
  }

}  // namespace

const std::vector<LimitSetting>& LimitSettings() {
  static const std::vector<LimitSetting> settings = {
      VELMORA_COUNT_KEY(MaxConnections, "MaxConnections", 1, 100000,
                        "connections served at once; more get one error frame and are closed"),
      VELMORA_COUNT_KEY(MaxUnauthenticatedPerAddress, "MaxUnauthenticatedPerAddress", 1, 100000,
                        "connections from one address that have not logged in"),
      VELMORA_SECONDS_KEY(HelloTimeout, "HelloTimeoutSeconds", 1, 3600,
                          "from accept to a complete hello"),
      VELMORA_SECONDS_KEY(FrameTimeout, "FrameTimeoutSeconds", 1, 3600,
                          "to receive one frame, plus FrameSecondsPerMiB for each MiB"),
      VELMORA_SECONDS_KEY(FrameSecondsPerMiB, "FrameSecondsPerMiB", 0, 3600,
                          "added to a frame's time for each MiB it holds"),
      VELMORA_SECONDS_KEY(IdleTimeout, "IdleTimeoutSeconds", 1, 7 * kDay,
                          "a logged-in session with no call is closed after this"),
      VELMORA_SECONDS_KEY(DrainTimeout, "DrainTimeoutSeconds", 0, 600,
                          "on SIGTERM, how long unfinished calls may run on"),
      VELMORA_SECONDS_KEY(StatementTimeout, "StatementTimeoutSeconds", 1, kDay,
                          "one SQL statement (the backup is exempt)"),
      VELMORA_SECONDS_KEY(PoolWaitTimeout, "PoolWaitTimeoutSeconds", 1, 600,
                          "a call's whole wait for a database connection"),
      VELMORA_COUNT_KEY(PreLoginFrameMax, "PreLoginFrameMaxBytes", 256, 1 << 20,
                        "largest frame before login (plain, never deflated)"),
      VELMORA_MIB_KEY(MemoryBudget, "MemoryBudgetMiB", 16, 1 << 20,
                      "everything being inflated, decoded or built for replies at once, all "
                      "connections together; one call may hold half of it"),
      VELMORA_MIB_KEY(UpdateSqlMax, "UpdateSqlMaxMiB", 1, 4096, "UpdateSQL's text, inflated"),
      VELMORA_MIB_KEY(DeltaMax, "DeltaMaxMiB", 1, 4096,
                      "UpdateOleVariant's saved dataset, inflated"),
      VELMORA_MIB_KEY(UploadMax, "UploadMaxMiB", 1, 2047,
                      "one file moved by the file methods (also bounded by one message)"),
      VELMORA_MIB_KEY(ResultMax, "ResultMaxMiB", 1, kResultMaxMiBCeiling,
                      "one query or stored procedure result, as saved before compression"),
      VELMORA_MIB_KEY(TextMax, "TextMaxMiB", 1, kTextMaxMiBCeiling,
                      "one text in a call's arguments (SQL text, names, text values)"),
      VELMORA_COUNT_KEY(VariantArrayMaxElements, "VariantArrayMaxElements", 1000, 100'000'000,
                        "variant array elements of one call's arguments, all nesting levels"),
      VELMORA_COUNT_KEY(RefusalsPerConnection, "RefusalsPerConnection", 1, 1000,
                        "refused logins after which the connection is closed"),
      VELMORA_COUNT_KEY(RefusalsPerMinutePerAddress, "RefusalsPerMinutePerAddress", 1, 100000,
                        "refused logins a minute from one address before its tries are delayed"),
      VELMORA_SECONDS_KEY(LoginDelayFirst, "LoginDelayFirstSeconds", 1, 3600,
                          "the first delay, doubling with each further refusal"),
      VELMORA_SECONDS_KEY(LoginDelayMax, "LoginDelayMaxSeconds", 1, 3600, "the longest delay"),
      VELMORA_COUNT_KEY(LogLinesKept, "LogLinesKept", 100, 10'000'000,
                        "lines the window's log page keeps"),
  };
  return settings;
}

#undef VELMORA_COUNT_KEY
#undef VELMORA_SECONDS_KEY
#undef VELMORA_MIB_KEY

LoadedLimits LoadLimits(const std::string& path) {
  LoadedLimits out;
  for (const LimitSetting& s : LimitSettings()) {
    std::string text;
    try {
      text = GetPrivateProfileString(kLimitsSection, s.key, "", path);
    } catch (const std::exception&) {
      continue;  // an unreadable file gives the defaults
    }
    if (text.empty()) continue;
    int64_t value = 0;
    if (!ParseInteger(text, value)) {
      out.notes.push_back(fmt::format("CONFIG.CFG [{}] {}={} is not a number; {} is used",
                                      kLimitsSection, s.key, text, s.get(out.limits)));
      continue;
    }
    const int64_t used = std::clamp(value, s.min, s.max);
    if (used != value) {
      out.notes.push_back(fmt::format("CONFIG.CFG [{}] {}={} is outside {} to {}; {} is used",
                                      kLimitsSection, s.key, text, s.min, s.max, used));
    }
    s.set(out.limits, used);
  }
  if (out.limits.LoginDelayMax < out.limits.LoginDelayFirst) {
    out.notes.push_back(fmt::format(
        "CONFIG.CFG [{}] LoginDelayMaxSeconds={} is below LoginDelayFirstSeconds; {} is used",
        kLimitsSection, out.limits.LoginDelayMax.count(), out.limits.LoginDelayFirst.count()));
    out.limits.LoginDelayMax = out.limits.LoginDelayFirst;
  }
  return out;
}

}  // namespace velmora
