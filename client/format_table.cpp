#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "client/display_width.h"
#include "client/format.h"
#include "client/format_value.h"

namespace velmora {
namespace {

// Control characters would break the alignment: line breaks and tabs are shown escaped, other
// control characters as '?'.
std::string Printable(std::string text) {
  const auto is_control = [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; };
  if (std::none_of(text.begin(), text.end(), is_control)) return text;
  std::string out;
  for (char c : text) {
    if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else if (c == '\t')
      out += "\\t";
    else
      out += is_control(c) ? '?' : c;
  }
  return out;
}

void Pad(std::ostream& out, size_t n) {
  for (size_t i = 0; i < n; ++i) out << ' ';
}

}  // namespace

void WriteTable(TDataSet& ds, std::ostream& out) {
  const TFieldDefs& defs = ds.FieldDefs();
  const auto columns = static_cast<size_t>(defs.Count());
  std::vector<size_t> widths(columns);
  std::vector<bool> right(columns);
  for (size_t c = 0; c < columns; ++c) {
    widths[c] = DisplayWidth(Printable(defs[static_cast<int>(c)].Name));
    right[c] = IsNumericField(defs[static_cast<int>(c)].DataType);
  }
  // Cells with their display widths, row by row.
  std::vector<std::pair<std::string, size_t>> cells;
  size_t rows = 0;
  for (ds.First(); !ds.Eof(); ds.Next(), ++rows) {
    for (size_t c = 0; c < columns; ++c) {
      const int i = static_cast<int>(c);
      std::string text = Printable(CellText(ds.FieldValue(i), defs[i].DataType));
      const size_t w = DisplayWidth(text);
      widths[c] = std::max(widths[c], w);
      cells.emplace_back(std::move(text), w);
    }
  }
  // Each line is built whole so that the spaces at its end (an empty last cell) can be dropped.
  std::ostringstream line;
  auto write_row = [&](auto cell_of, bool header) {
    line.str("");
    for (size_t c = 0; c < columns; ++c) {
      const auto& [text, w] = cell_of(c);
      if (c > 0) line << " | ";
      if (right[c] && !header) Pad(line, widths[c] - w);
      line << text;
      if (!right[c] || header) Pad(line, widths[c] - w);
    }
    std::string text = line.str();
    text.erase(text.find_last_not_of(' ') + 1);
    out << text << '\n';
  };
  std::vector<std::pair<std::string, size_t>> names;
  for (size_t c = 0; c < columns; ++c) {
    std::string name = Printable(defs[static_cast<int>(c)].Name);
    const size_t w = DisplayWidth(name);
    names.emplace_back(std::move(name), w);
  }
  write_row(
      [&](size_t c) -> const auto& { return names[c]; }, true);
  for (size_t c = 0; c < columns; ++c) {
    if (c > 0) out << "-+-";
    out << std::string(widths[c], '-');
  }
  out << '\n';
  for (size_t r = 0; r < rows; ++r)
    write_row(
        [&](size_t c) -> const auto& { return cells[r * columns + c]; }, false);
  out << '(' << rows << (rows == 1 ? " row)" : " rows)") << '\n';
}

}  // namespace velmora
