// LoadFromStream on arbitrary bytes: it must refuse or load, never crash or over-allocate; what
// it loads must save back to the same bytes and be readable field by field.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "data/dataset.h"
#include "variant/byte_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace velmora;
  TMemoryStream in(std::string(reinterpret_cast<const char*>(data), size));
  TDataSet ds;
  try {
    ds.LoadFromStream(in);
  } catch (const EFormatError&) {
    return 0;
  }
  // Saved again, the bytes are the same, except that a loaded change log sets the cached-updates
  // flag (byte 6).
  TMemoryStream out;
  ds.SaveToStream(out);
  std::string expected(in.View().substr(0, in.Position()));
  if (ds.ChangeCount() > 0) expected[6] = static_cast<char>(expected[6] | 1);
  if (out.View() != expected) std::abort();
  ds.FilterChanges({rtModified, rtInserted, rtDeleted, rtUnmodified});
  for (ds.First(); !ds.Eof(); ds.Next()) {
    for (int f = 0; f < ds.FieldCount(); ++f) {
      ds.FieldValue(f);
      ds.OldValue(f);
    }
  }
  return 0;
}
