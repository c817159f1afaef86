// Writing a dataset's rows in one of the command-line client's output formats.
#pragma once

#include <optional>
#include <ostream>
#include <string_view>

#include "data/dataset.h"

namespace velmora {

enum class OutputFormat { Table, Csv, Json };

// "table", "csv" or "json"; nothing for another name.
std::optional<OutputFormat> OutputFormatFromName(std::string_view name);

// Each writer walks every visible row from the first and leaves the cursor at the end.
// Table: aligned columns for a terminal (widths by display width, numbers right-aligned),
//   a row count below.
void WriteTable(TDataSet& dataset, std::ostream& out);
// CSV (RFC 4180): a header row of field names, CRLF line ends, NULL as an empty field, fields
//   holding a comma, quote, CR or LF quoted with quotes doubled.
void WriteCsv(TDataSet& dataset, std::ostream& out);
// JSON: {"fields":[{"name":..,"type":"ftInteger","size":..}],"rows":[[..],..]}; NULL is null,
//   numbers are numbers, booleans true/false, dates ISO 8601 texts, binary values base64 texts.
void WriteJson(TDataSet& dataset, std::ostream& out);

void WriteDataSet(OutputFormat format, TDataSet& dataset, std::ostream& out);

}  // namespace velmora
