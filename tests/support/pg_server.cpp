#include "tests/support/pg_server.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace velmora::test {

namespace {

// Runs a shell command line; returns its standard output and error. Raises when it exits non-zero.
std::string Run(const std::string& command) {
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot run: " + command);
  std::string output;
  std::array<char, 4096> chunk{};
  size_t n = 0;
  while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) output.append(chunk.data(), n);
  const int status = pclose(pipe);
  if (status != 0) throw std::runtime_error(command + " failed:\n" + output);
  return output;
}

std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

PgServer ReadServerEnv(const std::string& dir) {
  std::ifstream in(dir + "/server.env");
  if (!in) throw std::runtime_error("no PostgreSQL cluster at " + dir);
  PgServer server;
  std::string line;
  while (std::getline(in, line)) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "PGHOST") server.socket_dir = value;
    if (key == "PGPORT") server.port = std::stoi(value);
    if (key == "PGUSER") server.user = value;
  }
  return server;
}

std::string ClusterScript(const std::string& action, const std::string& dir) {
  return Run("bash " + Quoted(VELMORA_PG_CLUSTER_SCRIPT) + " " + action + " " + Quoted(dir));
}

}  // namespace

std::optional<PgServer> SharedPgServer() {
  const char* dir = std::getenv("VELMORA_PG_CLUSTER");
  if (dir == nullptr || *dir == '\0') return std::nullopt;
  return ReadServerEnv(dir);
}

std::string RunPsql(const PgServer& server, const std::string& database, const std::string& sql) {
  return Run("psql -X -q -At -v ON_ERROR_STOP=1 -h " + Quoted(server.socket_dir) + " -p " +
             std::to_string(server.port) + " -U " + Quoted(server.user) + " -d " +
             Quoted(database) + " -c " + Quoted(sql));
}

PgTestDatabase::PgTestDatabase(PgServer server) : server_(std::move(server)) {
  static std::atomic<int> counter{0};
  name_ = "velmora_t_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
  RunPsql(server_, "postgres", "CREATE DATABASE " + name_ + " TEMPLATE template0 ENCODING 'UTF8'");
}

PgTestDatabase::~PgTestDatabase() {
  try {
    RunPsql(server_, "postgres", "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
  } catch (const std::exception&) {
    // The server may be gone already (a test that stopped it); the cluster goes with the run.
  }
}

std::string PgTestDatabase::ConnectionLines() const {
  return "DriverID=PG\nServer=127.0.0.1\nPort=" + std::to_string(server_.port) +
         "\nDatabase=" + name_ + "\nUser_Name=" + server_.user;
}

PgCluster::PgCluster() {
  std::string pattern = "/tmp/velmora-pgc-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a cluster folder");
  dir_ = pattern;
  chmod(dir_.c_str(), 0755);
  try {
    ClusterScript("start", dir_);
  } catch (...) {
    ClusterScript("stop", dir_);
    throw;
  }
  server_ = ReadServerEnv(dir_);
}

PgCluster::~PgCluster() {
  try {
    ClusterScript("stop", dir_);
  } catch (const std::exception&) {
  }
}

void PgCluster::Pause() {
  ClusterScript("pause", dir_);
}
void PgCluster::Resume() {
  ClusterScript("resume", dir_);
}

}  // namespace velmora::test
