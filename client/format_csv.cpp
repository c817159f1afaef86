#include "client/format.h"
#include "client/format_value.h"

namespace velmora {
namespace {

void WriteField(std::ostream& out, std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
    out << text;
    return;
  }
  out << '"';
  for (char c : text) {
    if (c == '"') out << '"';
    out << c;
  }
  out << '"';
}

}  // namespace

void WriteCsv(TDataSet& ds, std::ostream& out) {
  const TFieldDefs& defs = ds.FieldDefs();
  for (int i = 0; i < defs.Count(); ++i) {
    if (i > 0) out << ',';
    WriteField(out, defs[i].Name);
  }
  out << "\r\n";
  for (ds.First(); !ds.Eof(); ds.Next()) {
    for (int i = 0; i < defs.Count(); ++i) {
      if (i > 0) out << ',';
      WriteField(out, CellText(ds.FieldValue(i), defs[i].DataType));
    }
    out << "\r\n";
  }
}

}  // namespace velmora
