#include "db/pg/pg_session_change.h"

#include "db/core/sql_lexer.h"
#include "db/core/sql_words.h"
#include "db/pg/pg_command_text.h"
#include "variant/variant_text.h"

namespace velmora {

bool ChangesPgSession(std::string_view statement) {
  TSqlLexer lexer(statement, kPgDialect);
  TSqlToken t;
  int words = 0;
  bool set = false;
  while (lexer.Next(t)) {
    if (t.kind == TSqlTokenKind::kQuotedName && t.text == "\"pg_temp\"") return true;
    if (t.kind != TSqlTokenKind::kWord) continue;
    ++words;
    if (words == 1) {
      if (IsOneOfWords(t.text, {"RESET", "DISCARD", "DEALLOCATE", "PREPARE", "LISTEN", "LOAD",
                                "DECLARE", "DO"})) {
        return true;
      }
      set = EqualsNoCase(t.text, "SET");
      continue;
    }
    if (words == 2 && set) {
      if (!IsOneOfWords(t.text, {"LOCAL", "TRANSACTION", "CONSTRAINTS"})) return true;
      set = false;
      continue;
    }
    if (IsOneOfWords(t.text, {"TEMP", "TEMPORARY", "pg_temp", "set_config", "pg_advisory_lock",
                              "pg_advisory_lock_shared", "pg_try_advisory_lock",
                              "pg_try_advisory_lock_shared"})) {
      return true;
    }
  }
  return set;  // a SET without a second word is refused; counting it costs nothing
}

}  // namespace velmora
