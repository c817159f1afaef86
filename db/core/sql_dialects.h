// How each engine the server talks to quotes and comments its SQL, as the lexer reads it
// (db/core/sql_lexer.h). A session names its engine's dialect (TDriverConnection::Dialect), and
// every reader of a command text (the parameter markers, the escapes, the statement split, the
// lifting of literals) reads the text by that one dialect, so that what is a string, a name, a
// comment or a body to the engine is the same to all of them. The ODBC driver names the dialect of
// the database behind its driver (SQL_DBMS_NAME), so PostgreSQL or SQLite through ODBC read as
// they do natively.
//
// The core holds the dialects (not the engines' folders) because an engine is reached two ways:
// natively and through ODBC, and both must read it alike. Plain constants, shared by all threads.
#pragma once

#include "db/core/sql_lexer.h"

namespace velmora {

// No engine known (a text read before its connection opens, a stand-in driver): the quotes of all
// engines at once ('..', "..", [..], `..`), so that no marker is found inside any of them.
inline constexpr TSqlDialect kAnyEngineSqlDialect{.bracket_names = true, .backtick_names = true};

// PostgreSQL: E'..' takes backslash escapes, a plain '..' does not (standard_conforming_strings
// is on); comments nest; $$..$$ and $tag$..$tag$ bodies; "a$b" is one identifier, "$1" a word.
inline constexpr TSqlDialect kPostgresSqlDialect{.e_strings = true,
                                                 .nested_comments = true,
                                                 .dollar_bodies = true,
                                                 .dollar_in_words = true,
                                                 .dollar_starts_words = true};

// SQLite: "..", [..] and `..` names; "$" inside names.
inline constexpr TSqlDialect kSQLiteSqlDialect{
    .bracket_names = true, .backtick_names = true, .dollar_in_words = true};

// Firebird: '..', q'{..}' and ".." names; "$" is a letter of words.
inline constexpr TSqlDialect kFirebirdSqlDialect{
    .q_strings = true, .dollar_in_words = true, .dollar_starts_words = true};

// SQL Server, Access and any other source behind ODBC: '..', "..", [..] ("]]" inside is one "]")
// and `..`.
inline constexpr TSqlDialect kOdbcSqlDialect{
    .bracket_names = true, .bracket_doubling = true, .backtick_names = true};

}  // namespace velmora
