#include "client/cli_shell.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <poll.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

#include "client/cli_commands.h"
#include "client/cli_exit_codes.h"
#include "client/interrupt_key.h"
#include "client/line_editor.h"
#include "client/statement_kind.h"
#include "client/statement_splitter.h"

namespace velmora::cli {
namespace {

// \i inside \i: deep enough for any real use, shallow enough to stop a file that reads itself.
constexpr int kMaxIncludeDepth = 16;

constexpr std::string_view kPrompt = "velmora> ";
constexpr std::string_view kContinuationPrompt = "velmora-> ";

constexpr std::string_view kHelp =
    "Statements end with ; and may span lines. A statement runs as a query when it returns rows\n"
    "(its first word is SELECT, WITH, VALUES, TABLE, SHOW, EXPLAIN, DESCRIBE or PRAGMA without =,\n"
    "or it holds RETURNING), otherwise as a command.\n"
    "  \\format table|csv|json  output format of the rows\n"
    "  \\timing [on|off]        show the time of each call\n"
    "  \\i FILE                 run the statements of FILE (it stops at the first failure)\n"
    "  \\o [FILE]               rows into FILE; \\o alone: back to the terminal\n"
    "  \\query [STATEMENT]      run the next statement as a query, whatever its first word\n"
    "  \\exec [STATEMENT]       run the next statement as a command, whatever its first word\n"
    "  \\q                      leave (Ctrl-D at the prompt too)\n"
    "  \\?                      this help\n"
    "Ctrl-C drops the statement being typed, or stops waiting for a call's reply.\n";

// Ctrl-C came while a call waited for its reply.
class EInterrupted : public std::exception {};

std::string_view Trimmed(std::string_view s) {
  const size_t begin = s.find_first_not_of(" \t\r\n");
  if (begin == std::string_view::npos) return {};
  return s.substr(begin, s.find_last_not_of(" \t\r\n") + 1 - begin);
}

class TShell {
 public:
  enum class Step {
    Go,
    Quit,         // \q
    Failed,       // a statement or command failed and the input stops there
    Interrupted,  // Ctrl-C: the input stops there
  };

  // `key`: Ctrl-C handling and calls on a thread of their own (the terminal); nullptr otherwise.
  TShell(const ShellSettings& settings, std::ostream& out, std::ostream& err, TInterruptKey* key)
      : settings_(settings), format_(settings.format), out_(out), err_(err), key_(key) {
    if (key_ != nullptr && pipe2(call_done_, O_CLOEXEC) != 0)
      throw std::runtime_error("Cannot make the pipe for calls");
  }
  ~TShell() {
    if (call_done_[0] >= 0) close(call_done_[0]);
    if (call_done_[1] >= 0) close(call_done_[1]);
  }
  TShell(const TShell&) = delete;
  TShell& operator=(const TShell&) = delete;

  // The first connection; false (the failure shown) when it cannot be made.
  bool Connect() {
    try {
      settings_.connect(client_);
      return true;
    } catch (...) {
      exit_code_ = ReportFailure(std::current_exception(), err_);
      return false;
    }
  }

  // One line of an input with its own splitter. `stop`: the input stops at the first failure
  // (a file, standard input); otherwise the line's further statements run (the terminal).
  Step Line(std::string_view line, TStatementSplitter& input, bool stop) {
    if (!input.InStatement()) {
      const std::string_view command = Trimmed(line);
      if (!command.empty() && command.front() == '\\') return Backslash(command, input, stop);
    }
    input.AddLine(line);
    return RunComplete(input, stop);
  }

  // The end of an input: a last statement without `;` runs as it is.
  Step End(TStatementSplitter& input, bool stop) {
    const std::string rest = input.TakeRest();
    return rest.empty() ? Step::Go : Statement(rest, stop);
  }

  int ExitCode() const { return exit_code_; }

 private:
  Step RunComplete(TStatementSplitter& input, bool stop) {
    while (std::optional<std::string> sql = input.Next()) {
      const Step step = Statement(*sql, stop);
      if (step == Step::Interrupted || (step == Step::Failed && stop)) {
        input.Clear();
        return step;
      }
    }
    return Step::Go;
  }

  Step Fail(bool stop) {
    exit_code_ = ReportFailure(std::current_exception(), err_);
    return stop ? Step::Failed : Step::Go;
  }

  std::ostream& Rows() { return file_ ? *file_ : out_; }

  Step Statement(const std::string& sql, bool stop) {
    const StatementKind kind = StatementKindOf(sql, std::exchange(next_run_, StatementRun::ByText));
    std::optional<std::chrono::steady_clock::duration> took;
    Step step = Step::Go;
    try {
      if (!client_.Connected()) settings_.connect(client_);  // after a drop or a Ctrl-C
      OleVariant packet;
      std::string errMsg;
      const auto started = std::chrono::steady_clock::now();
      Call([&] {
        if (kind == StatementKind::Rows) {
          packet = client_.SQL2OleVariant(sql, errMsg);
        } else {
          client_.ExecSQL(sql, errMsg);
        }
      });
      took = std::chrono::steady_clock::now() - started;
      if (!errMsg.empty()) throw ECommandFailed(errMsg);
      if (kind == StatementKind::Rows) {
        TFDMemTable table;
        ReadResultPacket(packet, table);
        WriteDataSet(format_, table, Rows());
        Rows().flush();
      } else if (key_ != nullptr) {
        out_ << "OK\n";
      }
    } catch (const EInterrupted&) {
      err_ << "Interrupted: the call's outcome is unknown (it may have run). The connection was "
              "closed; the next statement opens it again.\n";
      exit_code_ = kExitFailed;
      step = Step::Interrupted;
    } catch (...) {
      step = Fail(stop);
    }
    if (timing_ && took)
      out_ << fmt::format("Time: {:.3f} ms\n",
                          std::chrono::duration<double, std::milli>(*took).count());
    out_.flush();
    return step;
  }

  // Runs `call`; on the terminal on a thread of its own while this one waits for it or for
  // Ctrl-C, which shuts the connection down under the call and raises EInterrupted.
  void Call(const std::function<void()>& call) {
    if (key_ == nullptr) return call();
    key_->Take();
    std::exception_ptr failure;
    std::thread worker([&] {
      try {
        call();
      } catch (...) {
        failure = std::current_exception();
      }
      const char byte = 0;
      [[maybe_unused]] const ssize_t n = write(call_done_[1], &byte, 1);
    });
    bool interrupted = false;
    pollfd fds[2] = {{call_done_[0], POLLIN, 0}, {key_->Fd(), POLLIN, 0}};
    for (;;) {
      fds[0].revents = fds[1].revents = 0;
      if (poll(fds, interrupted ? 1 : 2, -1) < 0 && errno != EINTR) break;
      if (fds[0].revents != 0) break;
      if (fds[1].revents != 0 && key_->Take()) {
        interrupted = true;
        client_.Interrupt();
      }
    }
    worker.join();
    char byte;
    [[maybe_unused]] const ssize_t n = read(call_done_[0], &byte, 1);
    if (interrupted) {
      client_.Close();
      if (failure) throw EInterrupted();  // else the reply came first: it stands
    }
    if (failure) std::rethrow_exception(failure);
  }

  Step Backslash(std::string_view line, TStatementSplitter& input, bool stop) {
    const size_t space = line.find_first_of(" \t");
    const std::string_view name = line.substr(0, space);
    const std::string arg(Trimmed(space == std::string_view::npos ? "" : line.substr(space)));
    try {
      if (name == "\\q") return Step::Quit;
      if (name == "\\?") {
        out_ << kHelp;
      } else if (name == "\\format") {
        SetFormat(arg);
      } else if (name == "\\timing") {
        SetTiming(arg);
      } else if (name == "\\o") {
        SetOutput(arg);
      } else if (name == "\\i") {
        if (arg.empty()) throw EUsage("\\i needs a file name");
        return Include(arg, stop);
      } else if (name == "\\query" || name == "\\exec") {
        next_run_ = name == "\\query" ? StatementRun::AsRows : StatementRun::AsCommand;
        if (arg.empty()) return Step::Go;
        input.AddLine(arg);
        return RunComplete(input, stop);
      } else {
        throw EUsage(fmt::format("Unknown command: {} (\\? lists the commands)", name));
      }
    } catch (...) {
      return Fail(stop);
    }
    out_.flush();
    return Step::Go;
  }

  void SetFormat(const std::string& name) {
    if (name.empty()) {
      static constexpr std::string_view kNames[] = {"table", "csv", "json"};
      out_ << "Format: " << kNames[static_cast<int>(format_)] << '\n';
      return;
    }
    const std::optional<OutputFormat> format = OutputFormatFromName(name);
    if (!format) throw EUsage(fmt::format("Unknown format: {} (table, csv or json)", name));
    format_ = *format;
  }

  void SetTiming(const std::string& arg) {
    if (arg.empty()) {
      timing_ = !timing_;
    } else if (arg == "on" || arg == "off") {
      timing_ = arg == "on";
    } else {
      throw EUsage(fmt::format("\\timing takes on or off, not {}", arg));
    }
    out_ << (timing_ ? "Timing is on.\n" : "Timing is off.\n");
  }

  void SetOutput(const std::string& file) {
    if (file.empty()) {
      file_.reset();
      return;
    }
    auto stream = std::make_unique<std::ofstream>(file, std::ios::binary | std::ios::trunc);
    if (!*stream)
      throw ECommandFailed(fmt::format("Cannot write {}: {}", file, std::strerror(errno)));
    file_ = std::move(stream);
  }

  // A file's statements and backslash commands, as their own input that stops at its first
  // failure. `stop`: whether that failure stops the input that named the file too.
  Step Include(const std::string& file, bool stop) {
    if (include_depth_ >= kMaxIncludeDepth)
      throw ECommandFailed(fmt::format("\\i nested too deeply: {}", file));
    std::string text = ReadLocalFile(file);
    if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);  // a byte-order mark
    ++include_depth_;
    TStatementSplitter input;
    Step step = Step::Go;
    std::string_view rest = text;
    while (step == Step::Go && !rest.empty()) {
      const size_t eol = rest.find('\n');
      std::string_view line = rest.substr(0, eol);
      rest = eol == std::string_view::npos ? std::string_view() : rest.substr(eol + 1);
      if (line.ends_with('\r')) line.remove_suffix(1);
      step = Line(line, input, true);
      if (step == Step::Go && key_ != nullptr && key_->Pending()) step = Step::Interrupted;
    }
    if (step == Step::Go) step = End(input, true);
    --include_depth_;
    if (step == Step::Interrupted) err_ << "Interrupted: " << file << " stopped.\n";
    return step == Step::Failed && !stop ? Step::Go : step;
  }

  const ShellSettings& settings_;
  TVelmoraClient client_;
  OutputFormat format_;
  std::ostream& out_;
  std::ostream& err_;
  TInterruptKey* key_;
  std::unique_ptr<std::ofstream> file_;  // \o FILE: where rows go instead of out_
  bool timing_ = false;
  StatementRun next_run_ = StatementRun::ByText;
  int include_depth_ = 0;
  int exit_code_ = 0;
  int call_done_[2] = {-1, -1};  // the call's thread writes a byte when it is over
};

int RunInteractive(const ShellSettings& settings) {
  TInterruptKey key;
  TShell shell(settings, std::cout, std::cerr, &key);
  if (!shell.Connect()) return shell.ExitCode();
  TLineEditor editor(settings.history_file);
  TStatementSplitter input;
  std::string line;
  for (;;) {
    key.Take();
    const auto read = editor.ReadLine(input.InStatement() ? kContinuationPrompt : kPrompt, line);
    // Ctrl-C is an interruption whatever the editor made of it: inside an incremental search
    // (Ctrl-R) the editor ends the read as if at the end of input.
    if (read == TLineEditor::Outcome::Interrupted || key.Pending()) {
      input.Clear();            // the whole unfinished statement goes, not only its last line
      editor.DropTypedAhead();  // Ctrl-C stops a paste too
      std::cout << '\n';
      continue;
    }
    if (read == TLineEditor::Outcome::End) {
      std::cout << '\n';
      return 0;
    }
    if (!Trimmed(line).empty()) editor.Remember(line);
    const TShell::Step step = shell.Line(line, input, false);
    if (step == TShell::Step::Quit) return 0;
    if (step == TShell::Step::Interrupted) editor.DropTypedAhead();
  }
}

}  // namespace

std::string DefaultHistoryFile() {
  if (const char* file = std::getenv("VELMORA_HISTORY")) return file;
  std::string home;
  if (const char* env = std::getenv("HOME"); env != nullptr && *env != '\0') {
    home = env;
  } else if (const passwd* user = getpwuid(getuid()); user != nullptr && user->pw_dir != nullptr) {
    home = user->pw_dir;
  }
  return home.empty() ? std::string() : home + "/.velmora_history";
}

int RunStatementStream(const ShellSettings& settings, std::istream& in, std::ostream& out,
                       std::ostream& err) {
  TShell shell(settings, out, err, nullptr);
  if (!shell.Connect()) return shell.ExitCode();
  TStatementSplitter input;
  std::string line;
  TShell::Step step = TShell::Step::Go;
  while (step == TShell::Step::Go && std::getline(in, line)) {
    if (line.ends_with('\r')) line.pop_back();
    step = shell.Line(line, input, true);
  }
  if (step == TShell::Step::Go) step = shell.End(input, true);
  out.flush();
  if (step == TShell::Step::Quit || step == TShell::Step::Go) return out ? 0 : kExitFailed;
  return shell.ExitCode();
}

int RunShell(const ShellSettings& settings) {
  if (isatty(STDIN_FILENO) != 1)
    return RunStatementStream(settings, std::cin, std::cout, std::cerr);
  return RunInteractive(settings);
}

}  // namespace velmora::cli
