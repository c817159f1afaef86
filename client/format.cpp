#include "client/format.h"

namespace velmora {

std::optional<OutputFormat> OutputFormatFromName(std::string_view name) {
  if (name == "table") return OutputFormat::Table;
  if (name == "csv") return OutputFormat::Csv;
  if (name == "json") return OutputFormat::Json;
  return std::nullopt;
}

void WriteDataSet(OutputFormat format, TDataSet& dataset, std::ostream& out) {
  switch (format) {
    case OutputFormat::Table:
      return WriteTable(dataset, out);
    case OutputFormat::Csv:
      return WriteCsv(dataset, out);
    case OutputFormat::Json:
      return WriteJson(dataset, out);
  }
}

}  // namespace velmora
