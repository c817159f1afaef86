#include <fmt/format.h>

#include <cmath>

#include "client/format.h"
#include "client/format_value.h"
#include "data/dataset_values.h"

namespace velmora {
namespace {

void WriteString(std::ostream& out, std::string_view s) {
  out << '"';
  for (char c : s) {
    switch (c) {
      case '"':
        out << "\\\"";
        break;
      case '\\':
        out << "\\\\";
        break;
      case '\n':
        out << "\\n";
        break;
      case '\r':
        out << "\\r";
        break;
      case '\t':
        out << "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20)
          out << fmt::format("\\u{:04x}", static_cast<int>(c));
        else
          out << c;
    }
  }
  out << '"';
}

// Floating values that JSON cannot hold as numbers (infinities, NaN) go as texts.
void WriteFloat(std::ostream& out, double d, bool single) {
  if (!std::isfinite(d)) {
    WriteString(out, std::isnan(d) ? "NaN" : d > 0 ? "Infinity" : "-Infinity");
    return;
  }
  out << (single ? fmt::format("{}", static_cast<float>(d)) : fmt::format("{}", d));
}

void WriteValue(std::ostream& out, const OleVariant& v, TFieldType type) {
  if (v.IsNull() || v.IsEmpty()) {
    out << "null";
    return;
  }
  if (v.IsOrdinal()) {
    out << v.AsString();
    return;
  }
  if (const std::string date = IsoDateTimeText(v, type); !date.empty()) {
    WriteString(out, date);
    return;
  }
  switch (v.VarType()) {
    case varBoolean:
      out << (v.AsBoolean() ? "true" : "false");
      return;
    case varSingle:
    case varDouble:
      WriteFloat(out, v.RawDouble(), v.VarType() == varSingle);
      return;
    case varCurrency:
      out << CurrencyText(v.CurrencyScaled());
      return;
    case varFMTBcd: {
      std::string number;
      if (NormalizeDecimalText(v.Bcd().text, number))
        out << number;
      else
        WriteString(out, v.Bcd().text);
      return;
    }
    default:
      WriteString(out, CellText(v, type));
      return;  // texts, base64 of binary values
  }
}

}  // namespace

void WriteJson(TDataSet& ds, std::ostream& out) {
  const TFieldDefs& defs = ds.FieldDefs();
  out << "{\"fields\":[";
  for (int i = 0; i < defs.Count(); ++i) {
    if (i > 0) out << ',';
    out << "{\"name\":";
    WriteString(out, defs[i].Name);
    out << ",\"type\":";
    WriteString(out, FieldTypeName(defs[i].DataType));
    out << ",\"size\":" << defs[i].Size << '}';
  }
  out << "],\"rows\":[";
  bool first_row = true;
  for (ds.First(); !ds.Eof(); ds.Next()) {
    out << (first_row ? "\n[" : ",\n[");
    first_row = false;
    for (int i = 0; i < defs.Count(); ++i) {
      if (i > 0) out << ',';
      WriteValue(out, ds.FieldValue(i), defs[i].DataType);
    }
    out << ']';
  }
  out << "]}\n";
}

}  // namespace velmora
