// A full disk without root: this process's file-size limit (RLIMIT_FSIZE) held low for the
// object's life, with SIGXFSZ ignored, so that a write past the limit fails part-way with EFBIG,
// the way a write to a full disk fails with ENOSPC.
//
// The limit is process-wide: hold it only around the write under test, with no other thread
// writing files meanwhile.
#pragma once

#include <sys/resource.h>

#include <csignal>

namespace velmora::test {

class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    saved_handler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved_;
    small.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &small);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, saved_handler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_{};
  void (*saved_handler_)(int) = nullptr;
};

}  // namespace velmora::test
