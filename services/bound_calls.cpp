// The published methods that take values apart from the SQL text: SQLParams2OleVariant (a query
// with one parameter list) and ExecSQLParamSets (one command run for many parameter lists in one
// transaction). The values reach the engine through the query's parameters, which every engine
// binds with its own API; nothing of a value is ever written into the text, so no value can
// change the statement.
#include <fmt/format.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "codec/uMemoryStream2OLEVariant.h"
#include "common/memory_budget.h"
#include "data/params.h"
#include "db/core/positional_markers.h"
#include "db/core/query.h"
#include "services/module_calls.h"
#include "services/uServerModule.h"

namespace velmora {
namespace {

// The command text set on the query: "?" markers (read as the connection's engine reads its
// text) renamed by position, ":name" markers kept. True when the markers are positional.
bool SetBoundText(TFDQuery& query, TFDConnection& connection, const std::string& sql) {
  connection.Open();
  const TDriverConnection& driver = connection.Driver();
  TPositionalText text = NamePositionalMarkers(sql, driver.Dialect(), driver.VerbatimRanges(sql));
  query.Close();
  query.SQL().SetText(text.positional > 0 ? text.text : sql);
  return text.positional > 0;
}

// Gives the query's parameters the values of one packed list: in order for "?" markers, by name
// (any letter case) for ":name" markers, where an unnamed value binds to the name of its place.
// Each value keeps the data type it was packed with. A list that does not match the markers is
// refused: a value without a marker, or a marker without a value, is a mistake of the caller, never
// bound as NULL or dropped.
void BindPackedList(TFDQuery& query, const OleVariant& packed, bool positional) {
  TParams given;
  OleVariant2Params(packed, given);  // a malformed entry raises EVariantError
  TParams& params = query.Params();
  if (given.Count() != params.Count()) {
    throw EVelmoraError(fmt::format("The command text has {} parameter markers; {} values given",
                                    params.Count(), given.Count()));
  }
  for (int i = 0; i < params.Count(); ++i) {
    TParam& param = params[i];
    const TParam* value =
        positional || given[i].Name.empty() ? &given[i] : given.FindParam(param.Name);
    if (value == nullptr) {
      throw EVelmoraError(fmt::format("Parameter [{}] has no value", param.Name));
    }
    param.DataType = value->DataType;
    param.Size = value->Size;
    param.Precision = value->Precision;
    param.NumericScale = value->NumericScale;
    param.ParamType = ptInput;
    param.SetValue(value->Value());
    // A NULL packed without a type binds as text, which every engine converts on assignment.
    if (param.DataType == ftUnknown && param.IsNull()) param.DataType = ftWideString;
  }
}

// The parameter lists of ExecSQLParamSets: an array of packed lists (each Null or Empty for a
// statement without markers).
const std::vector<OleVariant>& ParamSetList(const OleVariant& sets) {
  if (!sets.IsVariantArray()) {
    throw EVariantError("ParamSets is not an array of parameter lists: " +
                        VarTypeName(sets.VarType()));
  }
  return sets.Array().items;
}

// Rolls back what the call began, when anything of it is still open; the connection goes back to
// the pool without a transaction either way.
void RollbackQuietly(TFDConnection& connection) {
  if (!connection.InTransaction()) return;
  try {
    connection.Rollback();
  } catch (const std::exception&) {
  }
}

}  // namespace

OleVariant TServerModule1::SQLParams2OleVariant(const std::string& SQLStr,
                                                const OleVariant& ParamPack, std::string& ErrMsg) {
  // The copies of the values, held until the statement has run and its packet is made; a refusal
  // is reported in ErrMsg, as the text's is.
  MemoryReservation values;
  return OpenResult(ErrMsg, SQLStr.size(), [&](TFDQuery& query, TFDConnection& connection) {
    values.Grow(kParamValueCopies * ValueBytes(ParamPack));
    BindPackedList(query, ParamPack, SetBoundText(query, connection, SQLStr));
  });
}

int64_t TServerModule1::ExecSQLParamSets(const std::string& SQLStr, const OleVariant& ParamSets,
                                         OleVariant& RowsPerSet, std::string& ErrMsg) {
  ErrMsg.clear();
  RowsPerSet = OleVariant();
  const std::vector<OleVariant>& sets = ParamSetList(ParamSets);  // not an array: remote error
  if (sets.size() > kMaxParamSets) {
    ErrMsg = fmt::format("{} parameter sets are more than the server's limit of {}", sets.size(),
                         kMaxParamSets);
    return 0;
  }
  if (sets.empty()) {
    RowsPerSet = OleVariant(VariantArray{});
    return 0;
  }
  try {
    PooledConnection conn;
    TPooledQuery query = BorrowQuery(*conn);
    // The text's copies, and those of one set's values (the sets are bound one at a time), are
    // charged before the text is set; a refusal is reported in ErrMsg. Declared after the query,
    // the text's charge goes, and the query drops the text, before the query goes back.
    query->Close();
    MemoryReservation values;
    std::optional<CallCommandText> text;
    try {
      uint64_t largest = 0;
      for (const OleVariant& set : sets) largest = std::max(largest, ValueBytes(set));
      values.Grow(kParamValueCopies * largest);
      text.emplace(*query, SQLStr.size());
    } catch (const EMemoryBudgetExceeded& e) {
      ErrMsg = e.what();
      return 0;
    }
    size_t current = 0;
    std::vector<int64_t> rows;
    try {
      const bool positional = SetBoundText(*query, *conn, SQLStr);
      conn->StartTransaction();
      rows = query->ExecSQLForEachSet(sets.size(), [&](size_t i) {
        current = i;
        BindPackedList(*query, sets[i], positional);
      });
      // The text may have ended the transaction itself (COMMIT): nothing to commit then.
      if (conn->InTransaction()) conn->Commit();
    } catch (const std::exception& e) {
      // All or nothing: the sets before the failing one are undone with it.
      ErrMsg = fmt::format("Parameter set {} of {}: {}", current + 1, sets.size(), e.what());
      RollbackQuietly(*conn);
      return 0;
    }
    VariantArray per_set;
    per_set.items.reserve(rows.size());
    int64_t total = 0;
    for (int64_t n : rows) {
      per_set.items.emplace_back(n);
      total += n;
    }
    RowsPerSet = OleVariant(std::move(per_set));
    return total;
  } catch (const EPoolExhausted& e) {
    ErrMsg = e.what();
  }
  return 0;
}

}  // namespace velmora
