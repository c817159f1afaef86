// velmora-bench-files: upload and download of one large file of mixed content through a real
// `velmora` server process, beside the in-process compression and decompression of the same bytes.
//
//   velmora-bench-files [--mib N] [--reps N]
//
// The server runs headless in a temporary application folder (CONFIG.CFG with a free port, an
// Upload/ folder, a SQLite DataBase.CFG) with TMPDIR pointing there, its standard output in a log
// file there; it is ready when that log shows "服务启动完成". The timings include the client's own
// work: CompressToPacket before UploadFile, PacketToBytes after DownLoadFile. After the transfers
// the server's peak resident memory (VmHWM) is read and the server is stopped with SIGTERM.
#include <fmt/core.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "client/velmora_client.h"
#include "codec/packets.h"
#include "codec/uCompressionStream.h"
#include "common/service_defaults.h"
#include "tools/self_host/child_program.h"
#include "tools/self_host/database_config.h"
#include "tools/self_host/free_port.h"
#include "tools/self_host/scratch_folder.h"
#include "tools/self_host/whole_file.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::string_view kReadyLine = "服务启动完成";
constexpr std::string_view kUser = velmora::kDefaultUserName;
constexpr std::string_view kPassword = velmora::kDefaultPassword;
constexpr std::string_view kRemoteName = "bench-files.bin";

double Seconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

double MBps(size_t bytes, double seconds) {
  return seconds > 0 ? static_cast<double>(bytes) / 1e6 / seconds : 0.0;
}

// The first half text-like (lines of words and numbers), the second half random bytes.
std::string MakeContent(size_t size) {
  std::string out;
  out.reserve(size);
  std::mt19937_64 rng(20261210);
  static constexpr std::string_view kWords[] = {
      "order", "customer", "amount", "status", "shipped", "pending",  "invoice", "北京",
      "上海",  "total",    "note",   "item",   "price",   "quantity", "date",    "备注"};
  const size_t text_size = size / 2;
  while (out.size() < text_size) {
    out += fmt::format("{};", rng() % 1000000);
    const size_t words = 3 + rng() % 8;
    for (size_t i = 0; i < words; ++i) {
      out += kWords[rng() % std::size(kWords)];
      out += ' ';
    }
    out += fmt::format("{}.{:02}\r\n", rng() % 10000, rng() % 100);
  }
  out.resize(text_size);
  while (out.size() + 8 <= size) {
    const uint64_t v = rng();
    out.append(reinterpret_cast<const char*>(&v), 8);
  }
  while (out.size() < size) out.push_back(static_cast<char>(rng()));
  return out;
}

// VmHWM of a process in KiB, or -1 when it cannot be read.
long PeakRssKiB(pid_t pid) {
  std::ifstream status(fmt::format("/proc/{}/status", pid));
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

// The server process: started headless, its standard output going to `log_file`, which is read
// until the ready line.
class ServerProcess {
 public:
  ServerProcess(const std::string& binary, const fs::path& app_dir, std::string log_file)
      : log_file_(std::move(log_file)) {
    // The program refuses to start while another copy of the same user runs; its single-copy
    // socket lives in the temporary folder, so TMPDIR set to the app folder keeps this copy apart.
    const std::vector<std::string> env =
        velmora::self_host::ChildEnvironment({"TMPDIR="}, {"TMPDIR=" + app_dir.string()});
    pid_ = velmora::self_host::SpawnProgram({binary, "--headless", "--app-dir", app_dir.string()},
                                            log_file_, log_file_ + ".err", "/dev/null", &env);
    if (pid_ < 0) throw std::runtime_error(fmt::format("cannot start {}", binary));
  }
  ~ServerProcess() { Stop(); }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  pid_t Pid() const { return pid_; }

  void WaitReady(std::chrono::seconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
      const std::string log = velmora::self_host::ReadFile(log_file_);
      if (log.find(kReadyLine) != std::string::npos) return;
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        throw std::runtime_error("server exited before it was ready; its log:\n" + log);
      }
      if (Clock::now() > deadline)
        throw std::runtime_error("server not ready in time; its log:\n" + log);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  // SIGTERM and wait; the exit status (128 + the signal's number when a signal ended it).
  std::string Stop() {
    if (pid_ <= 0) return "not running";
    ::kill(pid_, SIGTERM);
    const int status = velmora::self_host::WaitProgram(pid_);
    pid_ = -1;
    return fmt::format("exit status {}", status);
  }

 private:
  std::string log_file_;
  pid_t pid_ = -1;
};

// Best throughputs of a series of repetitions in MB/s: of compress and decompress, or of upload
// and download.
struct BestOf {
  double first = 0, second = 0;
  void Add(double a, double b) {
    first = std::max(first, a);
    second = std::max(second, b);
  }
};

// In-process compression at the packet selector, and back; best compress and decompress speeds.
BestOf CompressInProcess(const std::string& content, int reps) {
  using namespace velmora;
  BestOf best;
  size_t packed_size = 0;
  for (int r = 0; r < reps; ++r) {
    TMemoryStream s{content};
    const auto t0 = Clock::now();
    CompressMemoryStream(s, kPacketSelector);
    const auto t1 = Clock::now();
    packed_size = s.Size();
    TMemoryStream d{s.Buffer()};
    const auto t2 = Clock::now();
    DecompressMemoryStream(d);
    const auto t3 = Clock::now();
    if (d.View() != content) throw std::runtime_error("in-process round trip differs");
    const double c = MBps(content.size(), Seconds(t0, t1));
    const double dd = MBps(content.size(), Seconds(t2, t3));
    fmt::print("in-process rep {}: compress {:.1f} MB/s, decompress {:.1f} MB/s\n", r + 1, c, dd);
    best.Add(c, dd);
  }
  fmt::print("compressed size: {} bytes ({:.1f}% of the file)\n", packed_size,
             100.0 * static_cast<double>(packed_size) / static_cast<double>(content.size()));
  return best;
}

// The server's application folder: a scratch folder, removed with everything in it at the end.
class AppFolder {
 public:
  fs::path Dir() const { return folder_.Path(); }

  // CONFIG.CFG with the account and `port`, the Upload/ folder and a SQLite DataBase.CFG naming
  // a database the server creates at its start.
  void Prepare(uint16_t port) const {
    const fs::path dir = Dir();
    fs::create_directory(dir / "Upload");
    velmora::self_host::WriteFile(
        (dir / "CONFIG.CFG").string(),
        fmt::format("[CONFIG]\r\nSVRUSERNAME={}\r\nSVRPASSWORD={}\r\nSVROPENPORT={}\r\n", kUser,
                    kPassword, port));
    velmora::self_host::WriteSqliteConfig(folder_.Path(), folder_.File("bench.db"),
                                          velmora::self_host::NewDatabase::kCreate);
  }

 private:
  velmora::self_host::ScratchFolder folder_;
};

// Uploads and downloads the content through the server; best upload and download speeds. The
// timings include the client's own packing and unpacking.
BestOf TransferThroughServer(uint16_t port, const std::string& content, int reps) {
  using namespace velmora;
  TVelmoraClient client;
  client.Connect("127.0.0.1", port, std::string(kUser), std::string(kPassword));
  BestOf best;
  for (int r = 0; r < reps; ++r) {
    const auto t0 = Clock::now();
    const OleVariant packet = CompressToPacket(content);
    if (!client.UploadFile(packet, std::string(kRemoteName)))
      throw std::runtime_error("UploadFile returned false");
    const auto t1 = Clock::now();
    int32_t got_size = 0;
    const OleVariant back = client.DownLoadFile(std::string(kRemoteName), got_size);
    const std::string bytes = PacketToBytes(back);
    const auto t2 = Clock::now();
    if (bytes != content) throw std::runtime_error("downloaded bytes differ from the file");
    const double up = MBps(content.size(), Seconds(t0, t1));
    const double down = MBps(content.size(), Seconds(t1, t2));
    fmt::print(
        "transfer rep {}: upload {:.1f} MB/s ({:.2f} s), download {:.1f} MB/s ({:.2f} s), "
        "size {} verified\n",
        r + 1, up, Seconds(t0, t1), down, Seconds(t1, t2), got_size);
    best.Add(up, down);
  }
  client.Close();
  return best;
}

int Run(size_t size, int reps) {
  fmt::print("content: {} bytes ({} MiB), half text-like, half random\n", size, size >> 20);
  const std::string content = MakeContent(size);
  const BestOf in_process = CompressInProcess(content, reps);

  AppFolder folder;
  const int free_port = velmora::self_host::FreeLoopbackPort();
  if (free_port == 0) throw std::runtime_error("cannot find a free port");
  const auto port = static_cast<uint16_t>(free_port);
  folder.Prepare(port);
  ServerProcess server(VELMORA_SERVER_BINARY, folder.Dir(), (folder.Dir() / "server.log").string());
  server.WaitReady(std::chrono::seconds(30));
  fmt::print("server pid {} ready on 127.0.0.1:{}; peak RSS after start {} KiB\n", server.Pid(),
             port, PeakRssKiB(server.Pid()));
  const BestOf transfer = TransferThroughServer(port, content, reps);
  const long hwm = PeakRssKiB(server.Pid());
  const double ratio = static_cast<double>(hwm) * 1024.0 / static_cast<double>(size);
  const std::string stopped = server.Stop();

  fmt::print(
      "\nbest of {}: upload {:.1f} MB/s, download {:.1f} MB/s; in-process compress "
      "{:.1f} MB/s, decompress {:.1f} MB/s\n",
      reps, transfer.first, transfer.second, in_process.first, in_process.second);
  fmt::print("server peak RSS (VmHWM): {} KiB = {:.2f}x the file size (target under 4x): {}\n", hwm,
             ratio, ratio < 4.0 ? "met" : "NOT met");
  fmt::print("server stopped with SIGTERM: {}\n", stopped);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  size_t mib = 64;
  int reps = 3;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--mib" && i + 1 < argc) {
      mib = std::strtoul(argv[++i], nullptr, 10);
    } else if (arg == "--reps" && i + 1 < argc) {
      reps = std::atoi(argv[++i]);
    } else {
      fmt::print(stderr, "usage: velmora-bench-files [--mib N] [--reps N]\n");
      return 2;
    }
  }
  if (mib == 0 || reps <= 0) {
    fmt::print(stderr, "--mib and --reps must be positive\n");
    return 2;
  }
  ::signal(SIGPIPE, SIG_IGN);
  try {
    return Run(mib << 20, reps);
  } catch (const std::exception& e) {
    fmt::print(stderr, "velmora-bench-files: {}\n", e.what());
    return 1;
  }
}
