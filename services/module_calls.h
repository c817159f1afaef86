// What the published methods of TServerModule1 share, in whichever file each is written: the
// pooled connection and query a call borrows, and the result packet it answers with.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "common/call_stop.h"
#include "common/log_sink.h"
#include "common/memory_budget.h"
#include "common/velmora_error.h"
#include "db/core/connection.h"
#include "db/core/query.h"
#include "db/core/rdbms_dataset.h"
#include "dbpool/database_pools.h"
#include "dbpool/pooled_object.h"
#include "services/uServerModule.h"
#include "variant/ole_variant.h"

namespace velmora {

// Failures of a call that could not get its pooled objects; they travel back in ErrMsg.
class EPoolExhausted : public EVelmoraError {
 public:
  using EVelmoraError::EVelmoraError;
};

// A connection borrowed from FDConnectionPool() for the length of a call. While it is held, the
// call's cancellation (its client went away) interrupts the statement running on it. When no
// connection could be opened, the call fails with the driver's own message, which is logged too;
// the pool-exhausted text is kept for a pool that had nothing to hand out.
class PooledConnection {
 public:
  PooledConnection() : held_(Borrow()) {
    TFDConnection* conn = held_.Get();
    cancel_.emplace([conn] { conn->Interrupt(); });
  }
  TFDConnection& operator*() const { return *held_; }
  TFDConnection* operator->() const { return held_.Get(); }

 private:
  static TPooledConnection Borrow() {
    std::string open_error;
    TPooledConnection held(FDConnectionPool(), &open_error);
    if (held) return held;
    if (open_error.empty()) throw EPoolExhausted(kNoConnectionMessage);
    LogServerEvent("Database connection could not be opened: " + open_error);
    throw EPoolExhausted(open_error);
  }

  TPooledConnection held_;
  // Declared after held_, so it ends first: no interrupt may reach the connection once it is back
  // in the pool.
  std::optional<CallStopRegistration> cancel_;
};

// A query from FDQueryPool() attached to the call's connection; EPoolExhausted when the pool had
// none to hand out. Declared after the PooledConnection, it goes back first; the pool closes it.
TPooledQuery BorrowQuery(TFDConnection& connection);

// The copies of a command text that exist at once while its statement is prepared and run, beside
// the call's argument (charged while it was decoded): the query's lines, the text it reads its
// parameters from and the preprocessed form it keeps, an escape-rendered form, the engine's
// command, and what the engine makes of the text: statements split from it, a literal lifted into a
// bound value or a UTF-16 form for ODBC (two bytes for each one-byte character), and SQLite's own
// copies of a prepared statement (its text, a literal's value, a column named after its
// expression).
inline constexpr uint64_t kCommandTextCopies = 8;

// The copies of a parameter list's values that exist at once while a statement or stored procedure
// runs with them, beside the call's argument: the list read from the packed one, the parameters
// they are given to, and what the engine binds (a UTF-16 form for ODBC, two bytes for each one-byte
// character).
inline constexpr uint64_t kParamValueCopies = 4;

// The bytes the texts and byte arrays of `value` hold, at every level of its arrays.
uint64_t ValueBytes(const OleVariant& value);

// A query's command text for one call: its copies are charged to the memory budget before the
// caller gives the query the text (EMemoryBudgetExceeded when the charge is refused), and dropped
// from the pooled query, with the charge, when this goes (once the statement has run). `held` is
// what the caller has charged for the text so far; it is kept and topped up.
class CallCommandText {
 public:
  CallCommandText(TFDQuery& query, uint64_t text_bytes, MemoryReservation held = {})
      : query_(query), held_(std::move(held)) {
    const uint64_t copies = kCommandTextCopies * text_bytes;
    if (held_.Bytes() < copies) held_.Grow(copies - held_.Bytes());
  }
  ~CallCommandText() { query_.ReleaseCommandText(); }
  CallCommandText(const CallCommandText&) = delete;
  CallCommandText& operator=(const CallCommandText&) = delete;

 private:
  TFDQuery& query_;
  MemoryReservation held_;
};

// A query's rows as a result packet: borrows a connection and a query, charges the copies of a
// command text of `text_bytes` (CallCommandText), lets `set_text` give the query its text and
// parameters, opens it under the result limit and answers its packet. The statement's failure
// (and a refusal of the charge or of `set_text`) is the message in ErrMsg and an Empty result, so
// is a packet the memory budget cannot hold; other failures are remote errors.
OleVariant OpenResult(std::string& ErrMsg, uint64_t text_bytes,
                      const std::function<void(TFDQuery&, TFDConnection&)>& set_text);

// Makes the next Open of `dataset` fetch its rows under the memory budget and the result limit.
void ChargeResultRows(TFDRdbmsDataSet& dataset);

// The open dataset as a result packet. A result is plain rows: the cached-update mode that a
// delta apply leaves on a pooled query is not written into it, and stays on the query. Each
// buffer is charged to the memory budget before it is made: the saved rows, the compressor's
// output, then the packet, whose charge (for it and the reply's copy of it) is kept until the
// reply has been sent. EMemoryBudgetExceeded when a charge is refused.
OleVariant ResultPacket(TFDRdbmsDataSet& dataset);

}  // namespace velmora
