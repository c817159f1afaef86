#include "db/core/escape_renames.h"

#include "variant/variant_text.h"

namespace velmora {

std::string JoinEscapeArgs(const std::vector<std::string>& args, std::string_view separator) {
  std::string out;
  for (size_t i = 0; i < args.size(); ++i) {
    if (i > 0) out += separator;
    out += args[i];
  }
  return out;
}

std::optional<std::string> RenamedEscapeCall(std::span<const TEscapeRename> renames,
                                             const TSqlEscape& escape) {
  for (const TEscapeRename& r : renames) {
    if (EqualsNoCase(escape.name, r.from)) {
      return std::string(r.to) + "(" + JoinEscapeArgs(escape.args, ", ") + ")";
    }
  }
  return std::nullopt;
}

}  // namespace velmora
