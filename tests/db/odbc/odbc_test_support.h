// Shared helpers of the ODBC driver tests: a connection from DataBase.CFG lines, one-shot
// queries, and the message of a failing call.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "db/core/connection.h"
#include "db/core/query.h"
#include "tests/support/error_of.h"

namespace velmora::test {

inline std::unique_ptr<TFDConnection> OpenOdbc(const std::string& lines) {
  auto connection = std::make_unique<TFDConnection>();
  connection->Params().SetText(lines);
  connection->Open();
  return connection;
}

inline void Exec(TFDConnection& connection, const std::string& sql) {
  TFDQuery q;
  q.SetConnection(&connection);
  q.SQL().SetText(sql);
  q.ExecSQL();
}

// The first column of the first row, as text.
inline std::string Scalar(TFDConnection& connection, const std::string& sql) {
  TFDQuery q;
  q.SetConnection(&connection);
  q.SQL().SetText(sql);
  q.Open();
  return q.Fields(0).AsString();
}

}  // namespace velmora::test
