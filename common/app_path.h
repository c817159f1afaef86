// AppPath: the folder every file of the server lies below (the executable's folder, or the one
// given with --app-dir), always with a trailing "/".
#pragma once

#include <string>

namespace velmora {

// The current application folder. Before SetAppPath it is the executable's folder.
std::string AppPath();
// Sets the application folder; a missing trailing "/" is added. Called once at start-up, before
// any other thread reads it.
void SetAppPath(std::string folder);
// The folder of the running executable, with a trailing "/".
std::string ExecutableFolder();

}  // namespace velmora
