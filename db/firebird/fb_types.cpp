#include "db/firebird/fb_types.h"

#include <fmt/core.h>

#include <string>

#include "db/core/db_error.h"

namespace velmora {

int FbBytesPerCharacter(int charset_id) {
  switch (charset_id) {
    case 3:  // UNICODE_FSS
      return 3;
    case 4:   // UTF8
    case 69:  // GB18030
      return 4;
    case 5:   // SJIS_0208
    case 6:   // EUCJ_0208
    case 44:  // KSC_5601
    case 56:  // BIG_5
    case 57:  // GB_2312
    case 67:  // GBK
    case 68:  // CP943C
      return 2;
    default:  // NONE, OCTETS, ASCII and the single-byte code pages
      return 1;
  }
}

void MapFbColumnType(const XSQLVAR& var, TFieldDef& def) {
  const int type = var.sqltype & ~1;
  const int scale = -var.sqlscale;
  const auto scaled = [&](TFieldType whole, int precision) {
    if (scale <= 0) {
      def.DataType = whole;
      return;
    }
    def.DataType = ftFMTBcd;
    def.Precision = precision;
    def.Scale = scale;
  };
  switch (type) {
    case SQL_SHORT:
      return scaled(ftSmallint, 4);
    case SQL_LONG:
      return scaled(ftInteger, 9);
    case SQL_INT64:
      return scaled(ftLargeint, 18);
    case SQL_FLOAT:
      def.DataType = ftSingle;
      return;
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
      def.DataType = ftFloat;
      return;
    case SQL_TYPE_DATE:
      def.DataType = ftDate;
      return;
    case SQL_TYPE_TIME:
      def.DataType = ftTime;
      return;
    case SQL_TIMESTAMP:
      def.DataType = ftDateTime;
      return;
    case SQL_BOOLEAN:
      def.DataType = ftBoolean;
      return;
    case SQL_TEXT:
    case SQL_VARYING: {
      const int charset = var.sqlsubtype & 0xFF;
      const bool fixed = type == SQL_TEXT;
      if (charset == kFbCharsetOctets) {
        def.DataType = fixed ? ftBytes : ftVarBytes;
        def.Size = var.sqllen;
      } else {
        def.DataType = fixed ? ftFixedWideChar : ftWideString;
        def.Size = var.sqllen / FbBytesPerCharacter(charset);
      }
      return;
    }
    case SQL_BLOB:
      def.DataType = var.sqlsubtype == 1 ? ftWideMemo : ftBlob;
      return;
    case SQL_NULL:
      def.DataType = ftWideMemo;  // a NULL literal: text takes whatever it might hold
      return;
    default:
      throw EFDException(
          fmt::format("Column [{}] has Firebird type {}, which is not supported", def.Name,
                      type == SQL_ARRAY ? std::string("ARRAY") : std::to_string(type)));
  }
}

}  // namespace velmora
