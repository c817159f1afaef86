// Paths that clients name, kept inside the folder they belong to.
//
// Clients name files by relative paths whose separators may be "\" or "/". Before any file is
// touched the path is checked and normalised: a part that is absolute, carries a drive ("C:"),
// contains a NUL character, "|" or a line break (CR or LF), or whose ".." components climb above
// the folder is refused, and so is a path that a symbolic link inside the folder leads outside of
// it ("|" separates the names of the exchange folder's listing, and line breaks would split it
// for clients). A name of the form of the server's write temporaries (".<name>.velmora-XXXXXX")
// is refused too: such files are left out of the listing and removed at start. "." components and
// repeated separators are dropped and ".." is applied to the text: "a/../b" names "b" whether or
// not "a" exists or is a link. So a name means the same file whatever lies on disk at its earlier
// parts (a link followed by ".." cannot reach the parent of the link's target), clients that build
// names by joining folders get what the text says, and whether a name climbs out of its folder is
// decided from the text alone, before any file is looked at; only the resolved path is then checked
// for links that lead out.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "common/velmora_error.h"

namespace velmora {

// A path refused by ResolveInside; the message names the offending text as the client sent it.
class EUnsafePath : public EVelmoraError {
 public:
  using EVelmoraError::EVelmoraError;
};

struct SafePath {
  std::string full;    // root + normalised relative path, "/" separators: used for I/O and messages
  std::string folder;  // the folder part of full, ending in "/"
  std::string leaf;    // the last name; empty when the path names a folder (ends in a separator)
  std::string key;     // canonical absolute path: the key for file holds
  std::string root;    // the canonical root: what is opened through `full` must lie within it
};

// Whether a name holds neither "|" nor a line break, so that a listing can carry it.
bool IsListableName(std::string_view name);

// Resolves the client parts, joined with "/" in order, below `root` (a folder, with or without a
// trailing "/"). Raises EUnsafePath for a refused path; touches no file.
SafePath ResolveInside(std::string_view root, std::initializer_list<std::string_view> parts);

}  // namespace velmora
