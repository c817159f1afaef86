#include "common/call_stop.h"

#include <utility>

namespace velmora {
namespace {
thread_local std::stop_token t_current;
}  // namespace

std::stop_token CurrentCallStopToken() noexcept {
  return t_current;
}

CallStopScope::CallStopScope(std::stop_token token) noexcept
    : previous_(std::exchange(t_current, std::move(token))) {}

CallStopScope::~CallStopScope() {
  t_current = std::move(previous_);
}

CallStopRegistration::CallStopRegistration(std::function<void()> stop) {
  std::stop_token token = CurrentCallStopToken();
  if (token.stop_possible()) callback_.emplace(std::move(token), std::move(stop));
}

}  // namespace velmora
