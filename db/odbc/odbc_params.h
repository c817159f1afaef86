// One parameter of an ODBC statement: the C and SQL types it is bound with, the buffer the driver
// reads an input value from and writes an output value into, and the output read back
// (docs/odbc-types.md has the table).
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <string>

#include "data/params.h"

namespace velmora {

struct TOdbcParamBinding {
  TParam* param = nullptr;   // the value bound; nullptr binds NULL
  TParam* target = nullptr;  // where an output value goes
  SQLSMALLINT direction = SQL_PARAM_INPUT;
  SQLSMALLINT c_type = SQL_C_CHAR;
  SQLSMALLINT sql_type = SQL_VARCHAR;
  SQLULEN column_size = 0;
  SQLSMALLINT digits = 0;
  std::string buffer;  // must not move while the statement may use it
  SQLLEN indicator = 0;
};

// Fills the types, buffer and indicator from `b.param` and `b.direction`: by the parameter's data
// type, or by its value's kind when the type is ftUnknown. An output gets room for its value.
void PrepareOdbcParam(TOdbcParamBinding& b);
// Stores the output value the driver wrote into `b` in its target (nothing for an input).
void ReadOdbcOutput(const TOdbcParamBinding& b);

// A date-time value from ODBC's date parts; the fraction (nanoseconds) rounded to the millisecond.
double OdbcDateTime(int year, int month, int day, int hour, int minute, int second,
                    SQLUINTEGER fraction);
// Whether a date structure holds a calendar day. MDB Tools gives "day 0 of January 1900" for
// Access dates it cannot convert (before 1900, far in the future): no date at all, read as NULL
// rather than as a wrong day.
bool IsCalendarDate(SQLUSMALLINT month, SQLUSMALLINT day);

}  // namespace velmora
