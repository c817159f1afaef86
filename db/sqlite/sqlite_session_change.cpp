#include "db/sqlite/sqlite_session_change.h"

#include "db/core/sql_words.h"
#include "variant/variant_text.h"

namespace velmora {
namespace {

// Pragmas that take an argument only to say what to read or check.
bool ReadsOnly(std::string_view pragma) {
  return IsOneOfWords(pragma, {"table_info", "table_xinfo", "table_list", "index_list",
                               "index_info", "index_xinfo", "foreign_key_list", "foreign_key_check",
                               "integrity_check", "quick_check", "wal_checkpoint"});
}

}  // namespace

bool ChangesSQLiteSession(std::string_view statement, const TSqlDialect& dialect) {
  TSqlLexer lexer(statement, dialect);
  TSqlToken t;
  bool first = true;
  bool pragma = false;
  std::string_view last_word;
  while (lexer.Next(t)) {
    if (t.kind == TSqlTokenKind::kWord) {
      if (first && IsOneOfWords(t.text, {"ATTACH", "DETACH"})) return true;
      if (IsOneOfWords(t.text, {"TEMP", "TEMPORARY"})) return true;
      pragma = pragma || (first && EqualsNoCase(t.text, "PRAGMA"));
      first = false;
      last_word = t.text;
    } else if (t.kind == TSqlTokenKind::kPunct && pragma && (t.text == "=" || t.text == "(")) {
      return !ReadsOnly(last_word);  // the pragma's name stands right before its value
    } else if (t.kind != TSqlTokenKind::kBlank && t.kind != TSqlTokenKind::kComment) {
      first = false;
    }
  }
  return false;
}

}  // namespace velmora
