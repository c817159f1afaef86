// TFbSqlda: an XSQLDA of the client library with room for a number of variables, and the buffers
// its variables point at.
#pragma once

#include <ibase.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace velmora {

class TFbSqlda {
 public:
  explicit TFbSqlda(int count) { Resize(count); }
  // Room for `count` variables (at least one, as the library wants); contents are dropped.
  void Resize(int count) {
    const int n = count < 1 ? 1 : count;
    storage_ = std::make_unique<char[]>(XSQLDA_LENGTH(n));
    std::fill_n(storage_.get(), XSQLDA_LENGTH(n), '\0');
    Get()->version = SQLDA_VERSION1;
    Get()->sqln = static_cast<ISC_SHORT>(n);
    buffers_.clear();
    indicators_.assign(static_cast<size_t>(n), 0);
  }
  XSQLDA* Get() const { return reinterpret_cast<XSQLDA*>(storage_.get()); }
  // Variables the statement has (sqld); may exceed the room made (sqln).
  int Count() const { return Get()->sqld; }
  int Room() const { return Get()->sqln; }
  XSQLVAR& Var(int i) const { return Get()->sqlvar[i]; }

  // Gives every variable a data buffer of the size its type needs and an indicator.
  void AllocateForOutput();
  // A buffer owned by the SQLDA for variable `i`'s value, `bytes` long; sets sqldata/sqlind.
  char* Buffer(int i, size_t bytes);

 private:
  std::unique_ptr<char[]> storage_;
  std::vector<std::string> buffers_;
  std::vector<short> indicators_;
};

}  // namespace velmora
