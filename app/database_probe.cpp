#include "app/database_probe.h"

#include <fmt/format.h>

#include <exception>

#include "common/app_path.h"
#include "db/core/connection.h"

namespace velmora {

namespace {

std::string OpenOnce() {
  try {
    TFDConnection connection;
    connection.Params().LoadFromFile(AppPath() + "DataBase.CFG");
    // A health check changes nothing: it never creates a missing database file.
    connection.Params().SetValue("CreateDatabase", "No");
    connection.LoginPrompt = false;
    connection.Open();
    connection.Close();
    return {};
  } catch (const std::exception& e) {
    return fmt::format("the database connection failed to open: {}", e.what());
  } catch (...) {
    return "the database connection failed to open";
  }
}

}  // namespace

TDatabaseProbe::~TDatabaseProbe() {
  std::unique_lock lock(mu_);
  done_.wait(lock, [this] { return !running_; });
  if (thread_.joinable()) thread_.join();
}

std::string TDatabaseProbe::Probe(std::chrono::milliseconds limit) {
  std::unique_lock lock(mu_);
  if (!running_) {
    // The last probe's thread has set running_ to false: it is ending, the join is short.
    if (thread_.joinable()) thread_.join();
    running_ = true;
    thread_ = std::thread([this] {
      std::string result = OpenOnce();
      std::lock_guard done(mu_);
      result_ = std::move(result);
      running_ = false;
      ++finished_;
      done_.notify_all();
    });
  }
  const uint64_t awaited = finished_ + 1;
  if (!done_.wait_for(lock, limit, [&] { return finished_ >= awaited; })) {
    return fmt::format("a database connection did not open within {} ms", limit.count());
  }
  return result_;
}

}  // namespace velmora
