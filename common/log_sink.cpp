#include "common/log_sink.h"

#include <memory>
#include <mutex>

namespace velmora {
namespace {

std::mutex g_sink_mutex;
std::shared_ptr<const LogSink> g_sink;  // replaced whole, so a caller keeps a stable copy

}  // namespace

void SetLogSink(LogSink sink) {
  auto next = sink ? std::make_shared<const LogSink>(std::move(sink)) : nullptr;
  std::lock_guard lock(g_sink_mutex);
  g_sink = std::move(next);
}

void LogServerEvent(std::string_view text) noexcept {
  std::shared_ptr<const LogSink> sink;
  {
    std::lock_guard lock(g_sink_mutex);
    sink = g_sink;
  }
  if (!sink) return;
  try {
    (*sink)(text);
  } catch (...) {
    // A log line that cannot be written is dropped; the event it reports goes on.
  }
}

}  // namespace velmora
