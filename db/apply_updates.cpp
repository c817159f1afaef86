// TFDQuery::ApplyUpdates: logged changes become INSERT, UPDATE and DELETE statements with bound
// values on the update table.
#include <fmt/core.h>

#include "db/db_error.h"
#include "db/query.h"

namespace velmora {
namespace {

std::string QuoteIdentifier(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

bool IsLargeObject(TFieldType type) {
  switch (type) {
    case ftBlob: case ftMemo: case ftWideMemo: case ftGraphic: case ftFmtMemo:
    case ftTypedBinary: case ftOraBlob: case ftOraClob:
      return true;
    default:
      return false;
  }
}

// One statement under construction: its text and the values its "?" markers take.
struct Statement {
  std::string sql;
  TParams values;

  void Bind(const TFieldDef& def, const OleVariant& value) {
    TParam& p = values.Add();
    p.Name = def.Name;
    p.DataType = def.DataType;
    p.ParamType = ptInput;
    p.SetValue(value);
  }
};

}  // namespace

int TFDQuery::ApplyUpdates(int max_errors) {
  if (!Active()) throw EFDException("Dataset is not open");
  TDriverConnection& driver = OpenConnection().Driver();
  const TFieldDefs& defs = FieldDefs();
  std::string table = UpdateOptions.UpdateTableName;
  for (int i = 0; table.empty() && i < defs.Count(); ++i) table = defs[i].OriginTable;
  if (table.empty()) throw EFDException("Update table name is not set");

  const auto column = [&defs](int i) {
    return QuoteIdentifier(defs[i].OriginColumn.empty() ? defs[i].Name : defs[i].OriginColumn);
  };
  bool has_keys = false;
  for (const TFieldDef& def : defs) has_keys = has_keys || def.InKey;
  // The row as it was: by its key fields, or by every original value that compares reliably.
  const auto where = [&](Statement& st) {
    std::string clause;
    for (int i = 0; i < defs.Count(); ++i) {
      const TFieldDef& def = defs[i];
      if (has_keys ? !def.InKey : (def.ReadOnly || IsLargeObject(def.DataType))) continue;
      clause += clause.empty() ? " WHERE " : " AND ";
      const OleVariant old = OldValue(i);
      if (old.IsNull() || old.IsEmpty()) {
        clause += column(i) + " IS NULL";
      } else {
        clause += column(i) + " = ?";
        st.Bind(def, old);
      }
    }
    if (clause.empty()) throw EFDException(fmt::format("No field identifies the rows of [{}]", table));
    st.sql += clause;
  };

  const auto apply_row = [&] {
    Statement st;
    const TUpdateStatus status = UpdateStatus();
    if (status == usInserted) {
      std::string names, markers;
      for (int i = 0; i < defs.Count(); ++i) {
        if (defs[i].ReadOnly || (defs[i].AutoInc && FieldIsNull(i))) continue;
        names += names.empty() ? "" : ", ";
        markers += markers.empty() ? "?" : ", ?";
        names += column(i);
        st.Bind(defs[i], FieldValue(i));
      }
      st.sql = names.empty() ? fmt::format("INSERT INTO {} DEFAULT VALUES", table)
                             : fmt::format("INSERT INTO {} ({}) VALUES ({})", table, names, markers);
    } else if (status == usModified) {
      std::string sets;
      for (int i = 0; i < defs.Count(); ++i) {
        if (defs[i].ReadOnly) continue;
        const OleVariant value = FieldValue(i);
        if (value == OldValue(i)) continue;
        sets += sets.empty() ? "" : ", ";
        sets += column(i) + " = ?";
        st.Bind(defs[i], value);
      }
      if (sets.empty()) return;  // nothing changed after all
      st.sql = fmt::format("UPDATE {} SET {}", table, sets);
      where(st);
    } else if (status == usDeleted) {
      st.sql = fmt::format("DELETE FROM {}", table);
      where(st);
    } else {
      return;
    }

    std::vector<TParam*> markers;
    for (int i = 0; i < st.values.Count(); ++i) markers.push_back(&st.values[i]);
    // Each change runs in a transaction of its own unless the caller has one open, so that an
    // UPDATE or DELETE that hits more than one row can be undone.
    const bool own = !driver.InTransaction();
    if (own) driver.StartTransaction();
    try {
      std::unique_ptr<TDriverCommand> command = driver.CreateCommand(st.sql);
      command->SetParams(markers);
      command->Execute();
      const int64_t n = command->RowsAffected();
      if (status != usInserted && n != 1) {
        throw EFDException(fmt::format("{} of a row of [{}] affected {} rows instead of 1",
                                       status == usModified ? "Update" : "Delete", table, n));
      }
      if (own) driver.Commit();
    } catch (...) {
      if (own && driver.InTransaction()) driver.Rollback();
      throw;
    }
  };

  const TUpdateRecordTypes saved = FilterChanges();
  FilterChanges({rtModified, rtInserted, rtDeleted});
  int errors = 0;
  for (; !Eof(); Next()) {
    if (max_errors >= 0 && errors > max_errors) break;
    try {
      apply_row();
      ClearRowError();
    } catch (const std::exception& e) {
      SetRowError(e.what());
      ++errors;
    }
  }
  FilterChanges(saved);
  return errors;
}

}  // namespace velmora
