// The text a client receives for an exception that escaped a published method:
// "Remote error: <message>", each nested cause appended as "\nCaused by: <message>".
#pragma once

#include <exception>
#include <string>

namespace velmora {

std::string RemoteErrorText(const std::exception& e);
// The same for whatever exception is being handled (inside a catch block).
std::string CurrentRemoteErrorText();

}  // namespace velmora
