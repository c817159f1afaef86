// PostgreSQL types and values: result columns (text format) to field types, values to the
// dataset's storage, parameters to the text libpq sends (docs/pg-types.md has the tables).
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "data/field_type.h"
#include "variant/ole_variant.h"

namespace velmora {

class RecordAppender;
class TParam;

// How a column's text values are read.
enum class TPgReader : uint8_t {
  kInteger,      // int2, int4, int8, oid, numeric of scale 0 up to 18 digits
  kBoolean,      // "t" / "f"
  kFloat,        // float4, float8 ("NaN", "Infinity" included)
  kMoney,        // money in the session's lc_monetary form ("$1,234.50", "-$3.00")
  kDecimal,      // numeric
  kDate,         // date, time, timestamp
  kTimeTz,       // time with time zone: the offset is dropped
  kTimeStampTz,  // timestamp with time zone: moved to this machine's local time
  kText,
  kBytes,  // bytea, hex output ("\x0a0b")
  kGuid,   // uuid, given as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
};

struct TPgColumnType {
  TFieldType type = ftWideMemo;
  int32_t size = 0;
  int32_t precision = 0;
  int32_t scale = 0;
  TPgReader reader = TPgReader::kText;
};

// The field type of a result column of type `oid` with type modifier `typmod` (-1: none).
TPgColumnType MapPgType(Oid oid, int typmod);

// Appends the text value of one column to `out`; `scratch` is a buffer kept between calls. Returns
// false when the text cannot be read as the column's type (the caller reports it).
bool AppendPgValue(TPgReader reader, std::string_view text, RecordAppender& out,
                   std::string& scratch);

// The text value of one column as a variant of the field type (an output parameter's value); the
// variant is Null when the text cannot be read.
OleVariant PgValueAsVariant(const TPgColumnType& type, std::string_view text);

// One parameter as libpq sends it: text (format 0) of unknown type (the server infers it), except
// byte arrays, which go as binary bytea (format 1, oid 17). `null` for NULL.
struct TPgParamValue {
  std::string data;
  Oid oid = 0;
  int format = 0;
  bool null = true;
};
void PgParamValue(const TParam* param, TPgParamValue& out);

// "yyyy-mm-dd hh:nn:ss[.ffffff]+hh[:mm[:ss]]" to a local date-time value.
bool ParsePgTimeStampTz(std::string_view text, double& out);

}  // namespace velmora
