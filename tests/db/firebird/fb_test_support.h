// Shared set-up for the Firebird tests: a fresh database file made by the test in its own folder,
// opened in-process (embedded, firebird3.0-server-core), and a connection to it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "db/core/connection.h"
#include "db/core/query.h"
#include "tests/support/error_of.h"
#include "tests/support/temp_dir.h"

namespace velmora::test {

// Creates an empty UTF8 database file at `path` through the client library and detaches again,
// so that the file is free for the next opener. Raises with the engine's message on failure.
void CreateFbDatabase(const std::string& path);

// The parameters of an embedded connection to `path`.
void SetFbParams(TStringList& params, const std::string& path);

class FbTest : public ::testing::Test {
 protected:
  void SetUp() override;

  // Runs `sql` on a fresh query and returns the first column of the first row as text.
  std::string Scalar(const std::string& sql);
  void Exec(const std::string& sql);
  TempDir dir_;
  std::string db_path_ = dir_.File("test.fdb");
  TFDConnection connection_;
};

}  // namespace velmora::test
