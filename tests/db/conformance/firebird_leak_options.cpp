// LeakSanitizer's defaults for the program that runs the conformance cases on Firebird:
// thread-local storage is not scanned. The embedded engine's modules carry thread-local storage and
// are loaded and unloaded by the client library's plugin manager; LeakSanitizer's record of dynamic
// thread-local blocks then goes stale and its scan at exit crashes ("Tracer caught signal 11",
// seen in every one-case run of these cases). Not scanning it can only report more leaks, never
// hide one.
extern "C" const char* __lsan_default_options() {
  return "use_tls=0";
}
