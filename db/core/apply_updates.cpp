// TFDQuery::ApplyUpdates: logged changes become INSERT, UPDATE and DELETE statements with bound
// values on the update table.
#include <fmt/core.h>

#include <vector>

#include "db/core/apply_updates_run.h"
#include "db/core/db_error.h"
#include "db/core/query.h"

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
    case ftBlob:
    case ftMemo:
    case ftWideMemo:
    case ftGraphic:
    case ftFmtMemo:
    case ftTypedBinary:
    case ftOraBlob:
    case ftOraClob:
      return true;
    default:
      return false;
  }
}

void Bind(TChangeStatement& st, const TFieldDef& def, const OleVariant& value) {
  TParam& p = st.values.Add();
  p.Name = def.Name;
  p.DataType = def.DataType;
  p.ParamType = ptInput;
  p.SetValue(value);
}

// The table ApplyUpdates writes to: the one named in the options, else the origin table of the
// first field that has one.
std::string UpdateTable(const TFDUpdateOptions& options, const TFieldDefs& defs) {
  std::string table = options.UpdateTableName;
  for (int i = 0; table.empty() && i < defs.Count(); ++i) table = defs[i].OriginTable;
  if (table.empty()) throw EFDException("Update table name is not set");
  return table;
}

// Builds the statement that writes the change of the current row of `rows` to `table`.
class TChangeStatements {
 public:
  TChangeStatements(const TDataSet& rows, std::string table)
      : rows_(rows), defs_(rows.FieldDefs()), table_(std::move(table)) {
    columns_.reserve(static_cast<size_t>(defs_.Count()));
    for (const TFieldDef& def : defs_) {
      has_keys_ = has_keys_ || def.InKey;
      columns_.push_back(QuoteIdentifier(def.OriginColumn.empty() ? def.Name : def.OriginColumn));
    }
  }

  const std::string& Table() const { return table_; }

  // The INSERT, UPDATE or DELETE for the current row; an empty text when it has nothing to
  // write (unmodified, or modified back to its original values).
  TChangeStatement ForCurrentRow() const {
    switch (rows_.UpdateStatus()) {
      case usInserted:
        return Insert();
      case usModified:
        return Update();
      case usDeleted:
        return Delete();
      default:
        return {};
    }
  }

 private:
  const std::string& Column(int i) const { return columns_[static_cast<size_t>(i)]; }

  TChangeStatement Insert() const {
    TChangeStatement st;
    std::string names, markers;
    for (int i = 0; i < defs_.Count(); ++i) {
      if (defs_[i].ReadOnly || (defs_[i].AutoInc && rows_.FieldIsNull(i))) continue;
      names += names.empty() ? "" : ", ";
      markers += markers.empty() ? "?" : ", ?";
      names += Column(i);
      Bind(st, defs_[i], rows_.FieldValue(i));
    }
    st.sql = names.empty() ? fmt::format("INSERT INTO {} DEFAULT VALUES", table_)
                           : fmt::format("INSERT INTO {} ({}) VALUES ({})", table_, names, markers);
    return st;
  }

  TChangeStatement Update() const {
    TChangeStatement st;
    std::string sets;
    for (int i = 0; i < defs_.Count(); ++i) {
      if (defs_[i].ReadOnly) continue;
      const OleVariant value = rows_.FieldValue(i);
      if (value == rows_.OldValue(i)) continue;
      sets += sets.empty() ? "" : ", ";
      sets += Column(i);
      sets += " = ?";
      Bind(st, defs_[i], value);
    }
    if (sets.empty()) return {};  // nothing changed after all
    st.sql = fmt::format("UPDATE {} SET {}", table_, sets);
    AppendWhere(st);
    return st;
  }

  TChangeStatement Delete() const {
    TChangeStatement st;
    st.sql = fmt::format("DELETE FROM {}", table_);
    AppendWhere(st);
    return st;
  }

  // The row as it was: by its key fields, or by every original value that compares reliably.
  void AppendWhere(TChangeStatement& st) const {
    std::string clause;
    for (int i = 0; i < defs_.Count(); ++i) {
      const TFieldDef& def = defs_[i];
      if (has_keys_ ? !def.InKey : (def.ReadOnly || IsLargeObject(def.DataType))) continue;
      clause += clause.empty() ? " WHERE " : " AND ";
      const OleVariant old = rows_.OldValue(i);
      if (old.IsNull() || old.IsEmpty()) {
        clause += Column(i);
        clause += " IS NULL";
      } else {
        clause += Column(i);
        clause += " = ?";
        Bind(st, def, old);
      }
    }
    if (clause.empty()) {
      throw EFDException(fmt::format("No field identifies the rows of [{}]", table_));
    }
    st.sql += clause;
  }

  const TDataSet& rows_;
  const TFieldDefs& defs_;
  std::string table_;
  std::vector<std::string> columns_;  // each column's quoted name in the table
  bool has_keys_ = false;
};

}  // namespace

int TFDQuery::ApplyUpdates(int max_errors) {
  if (!Active()) throw EFDException("Dataset is not open");
  TDriverConnection& driver = OpenConnection().Driver();
  const TChangeStatements statements(*this, UpdateTable(UpdateOptions, FieldDefs()));

  const TUpdateRecordTypes saved = FilterChanges();
  FilterChanges({rtModified, rtInserted, rtDeleted});
  std::vector<TChangeStatement> changes;
  for (; !Eof(); Next()) {
    TChangeStatement& change = changes.emplace_back();
    try {
      change = statements.ForCurrentRow();
    } catch (const std::exception& e) {
      change.build_error = e.what();
    }
    change.status = UpdateStatus();
  }
  const std::vector<TChangeOutcome> outcomes =
      RunChanges(driver, changes, statements.Table(), max_errors);
  // The same walk again, to mark each row with what became of its change.
  int errors = 0;
  First();
  for (size_t i = 0; !Eof() && i < outcomes.size(); Next(), ++i) {
    if (!outcomes[i].attempted) continue;
    if (outcomes[i].error.empty()) {
      ClearRowError();
    } else {
      SetRowError(outcomes[i].error);
      ++errors;
    }
  }
  FilterChanges(saved);
  return errors;
}

}  // namespace velmora
