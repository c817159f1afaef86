#include "db/firebird/fb_sqlda.h"

namespace velmora {

char* TFbSqlda::Buffer(int i, size_t bytes) {
  if (buffers_.size() < static_cast<size_t>(Room())) buffers_.resize(static_cast<size_t>(Room()));
  std::string& b = buffers_[static_cast<size_t>(i)];
  // 8 extra bytes keep every buffer's start aligned for the numbers the library writes there.
  b.assign(bytes + 8, '\0');
  XSQLVAR& var = Var(i);
  var.sqldata = b.data();
  var.sqlind = &indicators_[static_cast<size_t>(i)];
  return b.data();
}

void TFbSqlda::AllocateForOutput() {
  for (int i = 0; i < Count() && i < Room(); ++i) {
    XSQLVAR& var = Var(i);
    size_t bytes = 0;
    switch (var.sqltype & ~1) {
      case SQL_VARYING:
        bytes = static_cast<size_t>(var.sqllen) + 2;
        break;
      case SQL_TEXT:
        bytes = static_cast<size_t>(var.sqllen);
        break;
      default:
        bytes = static_cast<size_t>(var.sqllen) < 8 ? 8 : static_cast<size_t>(var.sqllen);
        break;
    }
    var.sqltype = static_cast<ISC_SHORT>(var.sqltype | 1);  // every value may come back NULL
    Buffer(i, bytes);
  }
}

}  // namespace velmora
