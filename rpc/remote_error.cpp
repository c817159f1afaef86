#include "rpc/remote_error.h"

namespace velmora {
namespace {

void AppendCauses(const std::exception& e, std::string& text, int depth) {
  if (depth > 64) return;  // a cycle cannot happen, but a very deep chain is cut
  try {
    std::rethrow_if_nested(e);
  } catch (const std::exception& cause) {
    text += "\nCaused by: ";
    text += cause.what();
    AppendCauses(cause, text, depth + 1);
  } catch (...) {
    text += "\nCaused by: Unknown exception";
  }
}

}  // namespace

std::string RemoteErrorText(const std::exception& e) {
  std::string text = "Remote error: ";
  text += e.what();
  AppendCauses(e, text, 0);
  return text;
}

std::string CurrentRemoteErrorText() {
  try {
    throw;
  } catch (const std::exception& e) {
    return RemoteErrorText(e);
  } catch (...) {
    return "Remote error: Unknown exception";
  }
}

}  // namespace velmora
