// What the engines' escape rewriting shares: the arguments joined, and the scalar functions an
// engine has under another name with the same arguments in the same order (a table per engine).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "db/core/command_text.h"

namespace velmora {

struct TEscapeRename {
  std::string_view from;  // the escape's name, compared without regard to case
  std::string_view to;    // the engine's name
};

// The arguments with `separator` between them.
std::string JoinEscapeArgs(const std::vector<std::string>& args, std::string_view separator);
// "to(arg, ...)" when `renames` has the function escape's name; otherwise nullopt.
std::optional<std::string> RenamedEscapeCall(std::span<const TEscapeRename> renames,
                                             const TSqlEscape& escape);

}  // namespace velmora
