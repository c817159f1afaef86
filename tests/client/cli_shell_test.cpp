// velmora-cli's shell as a person uses it: the real program on a pseudo-terminal, typed at key by
// key, against a server started in this test; and the same program with statements piped in.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <regex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/support/program_run.h"
#include "tests/support/server_fixture.h"

namespace velmora::test {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view kPrompt = "velmora> ";
constexpr std::string_view kContinuation = "velmora-> ";
constexpr std::string_view kUp = "\x1b[A";
constexpr std::string_view kCtrlC = "\x03";
constexpr std::string_view kCtrlD = "\x04";

// A program on the master side of a pseudo-terminal: what it writes is collected, what the test
// types arrives as keys. Waits read on until a text shows up in the output not yet matched.
class Terminal {
 public:
  Terminal(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    // Everything the child needs is made before the fork: it only execs.
    std::vector<char*> argv, envp;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    winsize size{};
    size.ws_row = 40;
    size.ws_col = 160;
    pid_ = forkpty(&master_, nullptr, nullptr, &size);
    if (pid_ == 0) {
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
  }
  ~Terminal() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
  }
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  bool Started() const { return pid_ > 0 && master_ >= 0; }

  // Types once the line editor reads keys one by one (the terminal out of canonical mode), as a
  // person does who waits for the prompt: keys typed earlier are echoed by the terminal itself,
  // and a Ctrl-D among them is taken by the terminal for the end of its line.
  void TypeAtPrompt(std::string_view keys) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    termios mode{};
    while (tcgetattr(master_, &mode) == 0 && (mode.c_lflag & ICANON) != 0 &&
           std::chrono::steady_clock::now() < deadline)
      ReadSome(10ms);
    Type(keys);
  }
  // What the program writes meanwhile is read too: it echoes the keys, and a long line's echo
  // would otherwise fill the terminal and stop it reading.
  void Type(std::string_view keys) {
    while (!keys.empty()) {
      pollfd fd{master_, POLLIN | POLLOUT, 0};
      if (poll(&fd, 1, 1000) < 0 && errno != EINTR) return;
      if ((fd.revents & POLLIN) != 0) ReadSome(0ms);
      if ((fd.revents & POLLOUT) == 0) continue;
      const ssize_t n = write(master_, keys.data(), std::min<size_t>(keys.size(), 1024));
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n <= 0) return;
      keys.remove_prefix(static_cast<size_t>(n));
    }
  }

  // Reads until `text` appears after the last match; true when it did within `timeout`.
  bool WaitFor(std::string_view text, std::chrono::milliseconds timeout = 20s) {
    return WaitUntil([&] { return Find(text); }, timeout);
  }
  // The same for a regular expression.
  bool WaitForPattern(const std::string& pattern, std::chrono::milliseconds timeout = 20s) {
    const std::regex re(pattern);
    return WaitUntil(
        [&] {
          std::smatch m;
          const std::string tail = output_.substr(matched_);
          if (!std::regex_search(tail, m, re)) return false;
          matched_ += static_cast<size_t>(m.position(0) + m.length(0));
          return true;
        },
        timeout);
  }
  // The output since the last match (read for up to `for_time` more).
  std::string Unmatched(std::chrono::milliseconds for_time = 0ms) {
    WaitUntil([] { return false; }, for_time);
    return output_.substr(matched_);
  }
  const std::string& Output() const { return output_; }

  // Waits for the program to end; its exit code, or -1 after `timeout`.
  int Exit(std::chrono::milliseconds timeout = 20s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      ReadSome(50ms);
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
    }
    return -1;
  }

 private:
  bool Find(std::string_view text) {
    const size_t at = output_.find(text, matched_);
    if (at == std::string::npos) return false;
    matched_ = at + text.size();
    return true;
  }

  template <class Done>
  bool WaitUntil(Done done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (done()) return true;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left <= 0ms) return false;
      ReadSome(left);
    }
  }

  void ReadSome(std::chrono::milliseconds wait) {
    pollfd fd{master_, POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(wait.count())) <= 0) return;
    char buffer[4096];
    const ssize_t n = read(master_, buffer, sizeof buffer);
    if (n > 0) {
      output_.append(buffer, static_cast<size_t>(n));
    } else {
      usleep(20000);  // the child is gone (EIO): nothing more will come
    }
  }

  pid_t pid_ = -1;
  int master_ = -1;
  std::string output_;
  size_t matched_ = 0;
};

class CliShellTest : public ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    history_ = dir_.File("history");
  }

  std::vector<std::string> Args(std::vector<std::string> more = {}) const {
    std::vector<std::string> args{
        VELMORA_CLI_PATH, "--host", "127.0.0.1",  "--port", std::to_string(Port()),
        "--user",         kUser,    "--password", kPassword};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }
  std::vector<std::string> Environment() const {
    return ChildEnvironment({"VELMORA_", "HOME=", "TERM="},
                            {"TERM=xterm", "HOME=" + work_, "VELMORA_HISTORY=" + history_});
  }
  // The program without a command, its standard input the file `statements` holds.
  ProgramResult Pipe(const std::string& statements, std::vector<std::string> more = {}) {
    const std::string in = work_ + "statements.sql";
    WriteFile(in, statements);
    const std::vector<std::string> env = Environment();
    return RunProgram(Args(std::move(more)), work_, in, &env);
  }

  std::string history_;
};

TEST_F(CliShellTest, MultiLineStatementErrorAndTimingAtTheTerminal) {
  Terminal t(Args(), Environment());
  ASSERT_TRUE(t.Started());
  ASSERT_TRUE(t.WaitFor(kPrompt)) << t.Output();

  // A statement over two lines: the second prompt is the continuation prompt.
  t.TypeAtPrompt("SELECT 6 *\r");
  ASSERT_TRUE(t.WaitFor(kContinuation)) << t.Output();
  t.TypeAtPrompt("  7 AS ANSWER;\r");
  ASSERT_TRUE(t.WaitFor("42")) << t.Output();
  ASSERT_TRUE(t.WaitFor(kPrompt)) << t.Output();

  // A failing statement shows the server's message; the shell goes on with the next one.
  t.TypeAtPrompt("SELECT * FROM NO_SUCH_TABLE;\r");
  ASSERT_TRUE(t.WaitFor("no such table")) << t.Output();
  ASSERT_TRUE(t.WaitFor(kPrompt)) << t.Output();
  t.TypeAtPrompt("SELECT 'still' || ' here' AS S;\r");
  ASSERT_TRUE(t.WaitFor("still here")) << t.Output();
  ASSERT_TRUE(t.WaitFor(kPrompt)) << t.Output();

  // A command runs with ExecSQL; a query after it sees its effect.
  t.TypeAtPrompt("CREATE TABLE SHELL_T (A INTEGER); INSERT INTO SHELL_T VALUES (5), (8);\r");
  ASSERT_TRUE(t.WaitFor("OK")) << t.Output();
  ASSERT_TRUE(t.WaitFor("OK")) << t.Output();
  ASSERT_TRUE(t.WaitFor(kPrompt)) << t.Output();
  t.TypeAtPrompt("SELECT SUM(A) * 100 AS TOTAL FROM SHELL_T;\r");
  ASSERT_TRUE(t.WaitFor("1300")) << t.Output();
  ASSERT_TRUE(t.WaitFor(kPrompt)) << t.Output();

  // \timing: every call's time follows its result, until it is switched off.
  t.TypeAtPrompt("\\timing on\r");
  ASSERT_TRUE(t.WaitFor("Timing is on.")) << t.Output();
  t.TypeAtPrompt("SELECT 50 + 50 AS HUNDRED;\r");
  ASSERT_TRUE(t.WaitFor("100")) << t.Output();
  ASSERT_TRUE(t.WaitForPattern(R"(Time: [0-9]+\.[0-9]{3} ms)")) << t.Output();
  ASSERT_TRUE(t.WaitFor(kPrompt)) << t.Output();
  t.TypeAtPrompt("\\timing off\r");
  ASSERT_TRUE(t.WaitFor("Timing is off.")) << t.Output();
  t.TypeAtPrompt("SELECT 60 + 60 AS N;\r");
  ASSERT_TRUE(t.WaitFor("120")) << t.Output();
  ASSERT_TRUE(t.WaitFor(kPrompt)) << t.Output();
  EXPECT_EQ(t.Unmatched(300ms).find("Time:"), std::string::npos) << t.Output();

  t.TypeAtPrompt("\\q\r");
  EXPECT_EQ(t.Exit(), 0) << t.Output();
}

TEST_F(CliShellTest, HistoryIsKeptAcrossRunsWithoutOverlongLinesAndTheUpArrowRecallsIt) {
  // A line over the history's limit, left in the file by an earlier run: it is dropped.
  const std::string stored_long(70000, 'y');
  WriteFile(history_, "_HiStOrY_V2_\nSELECT\\04042;\n" + stored_long + "\n");
  const std::string typed_long = "SELECT LENGTH('" + std::string(70000, 'z') + "') AS N;";
  {
    Terminal t(Args(), Environment());
    ASSERT_TRUE(t.WaitFor(kPrompt)) << t.Output();
    // A line over the limit runs, but the history does not keep it.
    t.TypeAtPrompt(typed_long + "\r");
    ASSERT_TRUE(t.WaitFor("70000")) << t.Output().substr(t.Output().size() - 300);
    ASSERT_TRUE(t.WaitFor(kPrompt)) << t.Output();
    t.TypeAtPrompt("SELECT 20 + 22 AS RECALLED;\r");
    ASSERT_TRUE(t.WaitFor("42")) << t.Output();
    ASSERT_TRUE(t.WaitFor(kPrompt)) << t.Output();
    t.TypeAtPrompt(kCtrlD);  // Ctrl-D at the prompt leaves
    EXPECT_EQ(t.Exit(), 0) << t.Output();
  }
  const std::string kept = ReadFile(history_);
  EXPECT_NE(kept.find("RECALLED"), std::string::npos);
  EXPECT_NE(kept.find("SELECT\\04042;"), std::string::npos);  // a short line of the old file
  EXPECT_EQ(kept.find("yyyy"), std::string::npos);
  EXPECT_EQ(kept.find("zzzz"), std::string::npos);

  Terminal t(Args(), Environment());
  ASSERT_TRUE(t.WaitFor(kPrompt)) << t.Output();
  t.TypeAtPrompt(kUp);
  ASSERT_TRUE(t.WaitFor("RECALLED")) << t.Output();  // the line shows again
  t.Type("\r");
  ASSERT_TRUE(t.WaitFor("42")) << t.Output();
  ASSERT_TRUE(t.WaitFor(kPrompt)) << t.Output();
  t.TypeAtPrompt("\\q\r");
  EXPECT_EQ(t.Exit(), 0) << t.Output();
}

TEST_F(CliShellTest, CtrlCAtThePromptDropsTheUnfinishedStatement) {
  constexpr std::string_view kCtrlR = "\x12";  // incremental search back through the history
  struct Case {
    const char* what;
    std::string keys;  // typed after the statement's first line, before Ctrl-C
  };
  const Case cases[] = {
      {"while typing", "2 +"},
      {"inside an incremental search", std::string(kCtrlR) + "SEL"},
      {"inside an incremental search begun on a typed line", "2 +" + std::string(kCtrlR)},
  };
  Terminal t(Args(), Environment());
  ASSERT_TRUE(t.WaitFor(kPrompt)) << t.Output();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    t.TypeAtPrompt("SELECT 1 +\r");
    ASSERT_TRUE(t.WaitFor(kContinuation)) << t.Output();
    t.TypeAtPrompt(c.keys);
    std::this_thread::sleep_for(200ms);  // the editor has taken the keys
    t.Type(kCtrlC);
    // The first prompt again, not the continuation prompt: the statement is gone, and the shell
    // is still there.
    ASSERT_TRUE(t.WaitFor(kPrompt)) << t.Output();
    t.TypeAtPrompt("SELECT 5 * 5 AS X;\r");
    ASSERT_TRUE(t.WaitFor("25")) << t.Output();
    ASSERT_TRUE(t.WaitFor(kPrompt)) << t.Output();
  }
  t.TypeAtPrompt(kCtrlD);
  EXPECT_EQ(t.Exit(), 0) << t.Output();
}

// A terminal brackets a paste (mode 2004) when the shell asks for it; inside, Ctrl-R and Ctrl-S are
// text sent with the statement, not an incremental search that would swallow the statements after
// it, nor XOFF that would stop all output.
TEST_F(CliShellTest, PastedControlBytesAreTextAndTheStatementsAfterThemRun) {
  Terminal t(Args(), Environment());
  ASSERT_TRUE(t.WaitFor(kPrompt)) << t.Output();
  EXPECT_NE(t.Output().find("\x1b[?2004h"), std::string::npos) << t.Output();
  t.TypeAtPrompt(
      "\x1b[200~"
      "SELECT 4101 AS A; \x12 SELECT 4102 AS B;\r"
      "SELECT 4108 AS H;\x13\r"
      "SELECT 4109 AS I;\r"
      "SELECT 'a' || '\x12\x13' || 'b' AS V;\r"
      "\x1b[201~");
  ASSERT_TRUE(t.WaitFor("4101\r\n")) << t.Output();
  ASSERT_TRUE(t.WaitFor("unrecognized token")) << t.Output();  // the engine's word on "\x12 SELECT"
  ASSERT_TRUE(t.WaitFor("4108\r\n")) << t.Output();
  ASSERT_TRUE(t.WaitFor("unrecognized token")) << t.Output();  // "\x13\nSELECT 4109"
  ASSERT_TRUE(t.WaitFor("a??b")) << t.Output();  // the table shows a control character as ?
  ASSERT_TRUE(t.WaitFor(kPrompt)) << t.Output();
  // Keys typed after the paste are keys again.
  t.TypeAtPrompt("SELECT 4110 AS J;\r");
  ASSERT_TRUE(t.WaitFor("4110\r\n")) << t.Output();
  ASSERT_TRUE(t.WaitFor(kPrompt)) << t.Output();
  t.TypeAtPrompt(kCtrlD);
  EXPECT_EQ(t.Exit(), 0) << t.Output();
}

TEST_F(CliShellTest, CtrlCWhileACallWaitsKeepsTheShellAndReconnects) {
  Terminal t(Args(), Environment());
  ASSERT_TRUE(t.WaitFor(kPrompt)) << t.Output();
  // Counting to fifty million keeps SQLite busy for seconds.
  t.TypeAtPrompt(
      "WITH RECURSIVE C(X) AS (SELECT 1 UNION ALL SELECT X + 1 FROM C WHERE X < 50000000) "
      "SELECT COUNT(*) FROM C;\r");
  std::this_thread::sleep_for(500ms);
  const auto pressed = std::chrono::steady_clock::now();
  t.Type(kCtrlC);
  ASSERT_TRUE(t.WaitFor("the call's outcome is unknown", 5s)) << t.Output();
  EXPECT_LT(std::chrono::steady_clock::now() - pressed, 3s);
  ASSERT_TRUE(t.WaitFor(kPrompt)) << t.Output();
  EXPECT_EQ(t.Output().find("50000000\r\n"), std::string::npos) << t.Output();
  // The next statement goes over a new connection.
  t.TypeAtPrompt("SELECT 3 * 3 AS NINE;\r");
  ASSERT_TRUE(t.WaitFor("9")) << t.Output();
  ASSERT_TRUE(t.WaitFor(kPrompt)) << t.Output();
  t.TypeAtPrompt("\\q\r");
  EXPECT_EQ(t.Exit(), 0) << t.Output();
}

TEST_F(CliShellTest, StatementsPipedInRunInOrder) {
  const ProgramResult r = Pipe(
      "CREATE TABLE P (A INTEGER);\n"
      "INSERT INTO P VALUES (1); INSERT INTO P\n"
      "  VALUES (2); -- a comment; not a statement\n"
      "/* ; */ INSERT INTO P VALUES (';');\n"
      "SELECT COUNT(*) AS N, SUM(A) AS S FROM P;\n"
      "SELECT 'a\x12\x13"
      "b' AS C;\n"           // control bytes piped in are text, not editing keys
      "SELECT 'last' AS L",  // no `;` at the end of the input: it runs as it is
      {"--format", "csv"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "N,S\r\n3,3\r\nC\r\na\x12\x13"
            "b\r\nL\r\nlast\r\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(CliShellTest, PipedStatementsStopAtTheFirstFailureWithItsExitCode) {
  const ProgramResult failed = Pipe(
      "CREATE TABLE P (A INTEGER);\n"
      "INSERT INTO P VALUES (1);\n"
      "INSERT INTO NO_SUCH_TABLE VALUES (1);\n"
      "INSERT INTO P VALUES (2);\n");
  EXPECT_EQ(failed.code, 1);
  EXPECT_NE(failed.err.find("NO_SUCH_TABLE"), std::string::npos) << failed.err;
  const ProgramResult count = Pipe("SELECT SUM(A) AS S FROM P;", {"--format", "csv"});
  EXPECT_EQ(count.out, "S\r\n1\r\n") << count.err;

  const ProgramResult usage = Pipe("\\format xml\nINSERT INTO P VALUES (4);\n");
  EXPECT_EQ(usage.code, 2);
  EXPECT_EQ(usage.err, "Unknown format: xml (table, csv or json)\n");
}

TEST_F(CliShellTest, BackslashCommandsFormatIncludeAndOutputFile) {
  WriteFile(work_ + "part.sql",
            "\xEF\xBB\xBF"  // a byte-order mark, as some editors write
            "CREATE TABLE Q (A INTEGER);\r\n"
            "INSERT INTO Q VALUES (7);\r\n");
  const std::string rows = work_ + "rows.json";
  const ProgramResult r = Pipe("\\i " + work_ +
                               "part.sql\n"
                               "\\format json\n"
                               "\\o " +
                               rows +
                               "\n"
                               "SELECT A FROM Q;\n"
                               "\\o\n"
                               "\\format csv\n"
                               "\\query VALUES\n"
                               "  (1);\n"
                               "\\exec SELECT 1;\n"
                               "\\q\n"
                               "SELECT 'not run';\n");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(
      ReadFile(rows),
      "{\"fields\":[{\"name\":\"A\",\"type\":\"ftLargeint\",\"size\":0}],\"rows\":[\n[7]]}\n");
  // VALUES forced as a query prints; SELECT forced as a command prints nothing.
  EXPECT_EQ(r.out, "column1\r\n1\r\n");
}

}  // namespace
}  // namespace velmora::test
