#include "codec/compressor_cache.h"

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>
#include <new>
#include <thread>
#include <utility>
#include <vector>

namespace velmora {

namespace {

std::atomic<size_t> g_alive{0};

}  // namespace

struct TCompressorLease::Entry {
  explicit Entry(int level) : compressor(libdeflate_alloc_compressor(level)) {
    if (compressor == nullptr) throw std::bad_alloc();
    g_alive.fetch_add(1, std::memory_order_relaxed);
  }
  ~Entry() {
    libdeflate_free_compressor(compressor);
    g_alive.fetch_sub(1, std::memory_order_relaxed);
  }
  Entry(const Entry&) = delete;
  Entry& operator=(const Entry&) = delete;

  libdeflate_compressor* compressor;
  std::unique_ptr<char[]> output;
};

namespace {

constexpr int kLevels = 13;  // libdeflate's levels 0 to 12

struct IdleCompressors {
  IdleCompressors() {
    // Room for every compressor kept, so that giving one back never allocates.
    for (auto& list : by_level) list.reserve(IdleCompressorsKept());
  }
  std::mutex mu;
  std::array<std::vector<std::unique_ptr<TCompressorLease::Entry>>, kLevels> by_level;
};

// Never destroyed: a thread may still give a lease back while the process exits.
IdleCompressors& Idle() {
  static IdleCompressors* const idle = new IdleCompressors;
  return *idle;
}

}  // namespace

size_t IdleCompressorsKept() {
  static const size_t kept = std::max<size_t>(2, std::thread::hardware_concurrency());
  return kept;
}

size_t CompressorsAlive() {
  return g_alive.load(std::memory_order_relaxed);
}

TCompressorLease::TCompressorLease(int level) : level_(std::clamp(level, 0, kLevels - 1)) {
  {
    IdleCompressors& idle = Idle();
    std::lock_guard lock(idle.mu);
    auto& list = idle.by_level[static_cast<size_t>(level_)];
    if (!list.empty()) {
      // The one given back last: its memory is the likeliest to be in the caches still.
      entry_ = std::move(list.back());
      list.pop_back();
      return;
    }
  }
  entry_ = std::make_unique<Entry>(level_);
}

TCompressorLease::~TCompressorLease() {
  IdleCompressors& idle = Idle();
  {
    std::lock_guard lock(idle.mu);
    auto& list = idle.by_level[static_cast<size_t>(level_)];
    if (list.size() < IdleCompressorsKept()) {
      list.push_back(std::move(entry_));
      return;
    }
  }
  entry_.reset();  // enough are idle: this one is freed, outside the lock
}

libdeflate_compressor& TCompressorLease::Compressor() const {
  return *entry_->compressor;
}

char* TCompressorLease::OutputBuffer() {
  if (!entry_->output) entry_->output.reset(new char[kLeasedOutputBuffer]);
  return entry_->output.get();
}

}  // namespace velmora
