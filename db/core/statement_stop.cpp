#include "db/core/statement_stop.h"

#include <fmt/core.h>

#include "common/server_limits.h"
#include "common/server_metrics.h"
#include "db/core/db_error.h"

namespace velmora {

std::chrono::milliseconds TStatementStop::Timeout() const {
  const auto t =
      timeout_ ? *timeout_
               : std::chrono::duration_cast<std::chrono::milliseconds>(Limits().StatementTimeout);
  return t.count() > 0 ? t : std::chrono::milliseconds::zero();
}

void TStatementStop::Arm() {
  stopped_ = Reason::kNone;
  if (Cancelled()) {
    armed_ = false;
    stopped_ = Reason::kCancelled;
    throw EFDException(kStatementCancelledMessage);
  }
  armed_timeout_ = Timeout();
  deadline_ = armed_timeout_.count() > 0 ? Clock::now() + armed_timeout_ : Clock::time_point::max();
  armed_ = true;
}

TStatementStop::Reason TStatementStop::Check() noexcept {
  if (!armed_) return Reason::kNone;
  if (Cancelled()) return stopped_ = Reason::kCancelled;
  if (deadline_ != Clock::time_point::max() && Clock::now() >= deadline_) {
    // Counted once per statement, however often the engine asks again.
    if (stopped_ != Reason::kTimeout) metrics::Metrics().statement_timeouts.Add();
    return stopped_ = Reason::kTimeout;
  }
  return Reason::kNone;
}

std::string TStatementStop::Message() const {
  switch (stopped_) {
    case Reason::kCancelled:
      return kStatementCancelledMessage;
    case Reason::kTimeout: {
      const double seconds = static_cast<double>(armed_timeout_.count()) / 1000.0;
      return fmt::format(fmt::runtime(kStatementTimeoutMessage), seconds);
    }
    case Reason::kNone:
      break;
  }
  return {};
}

}  // namespace velmora
