// TInterruptKey: Ctrl-C (SIGINT) as an event the interactive shell waits for, instead of the end
// of the program. While one exists, SIGINT sets a flag and makes Fd() readable; a blocking read
// of the terminal fails with EINTR (the handler is installed without SA_RESTART), which is how a
// line being edited gives up. The previous handler comes back when it is destroyed.
//
// One at a time per process, made and destroyed by the main thread; Fd() may be polled by it.
#pragma once

namespace velmora::cli {

class TInterruptKey {
 public:
  TInterruptKey();
  ~TInterruptKey();
  TInterruptKey(const TInterruptKey&) = delete;
  TInterruptKey& operator=(const TInterruptKey&) = delete;

  // Readable once Ctrl-C was pressed and until Take().
  int Fd() const;
  // Whether Ctrl-C was pressed since the last Take(); forgets it.
  bool Take();
  // Whether Ctrl-C was pressed since the last Take(), without forgetting it.
  bool Pending() const;
};

}  // namespace velmora::cli
