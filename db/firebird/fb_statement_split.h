// Firebird prepares one statement at a time: command text holding several is cut into statements
// here, before anything is prepared.
//
// The rules:
// - A ";" ends a statement, outside string literals ('..', q'{..}'), quoted identifiers ("..")
//   and comments (-- to the line's end, /* .. */). Blank statements (blanks and comments only)
//   are dropped; a statement's text is kept as written, without its ";" and the blanks
//   around it.
// - A module with a PSQL body (CREATE / ALTER / RECREATE / CREATE OR ALTER of a PROCEDURE,
//   TRIGGER, FUNCTION or PACKAGE [BODY], and EXECUTE BLOCK) holds ";" of its own: once its AS has
//   been read, a ";" ends it only where BEGIN ... END (CASE ... END counted alike) are balanced
//   and the word just before the ";" is END. So the DECLARE lines between AS and BEGIN, sub-
//   routines and every statement of the body stay inside it, and "END;" closes it.
// - isql's "SET TERM <t> ;" (as a statement of its own) makes <t> the terminator for the
//   statements that follow, and "SET TERM ; <t>" puts ";" back; each SET TERM is dropped. With a
//   terminator other than ";", only that terminator ends a statement.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "db/core/command_text.h"

namespace velmora {

std::vector<std::string> SplitFirebirdStatements(std::string_view text);

// Where the PSQL body of each module statement of `text` lies: from just after its AS to the end
// of the statement (byte offsets, end excluded). The connection hands them to the command-text
// layer, which leaves them as written: ":NAME" there is a PSQL variable, not a parameter marker.
using TFbTextRange = TTextRange;
std::vector<TTextRange> FirebirdPsqlBodies(std::string_view text);

}  // namespace velmora
