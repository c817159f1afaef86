// Exceptions of the remote-method layer.
#pragma once

#include "common/velmora_error.h"

namespace velmora {

// Broken framing or a malformed message: the peer does not speak the protocol.
class EDSProtocolError : public EVelmoraError {
 public:
  using EVelmoraError::EVelmoraError;
};

// Client side: the server failed a call; what() is the server's text ("Remote error: ...").
class EDSRemoteError : public EVelmoraError {
 public:
  using EVelmoraError::EVelmoraError;
};

// Client side: the server refused the login; what() is the server's refusal text.
class EDSLoginError : public EVelmoraError {
 public:
  using EVelmoraError::EVelmoraError;
};

// Client side: the connection could not be opened, or it broke. Raised as such for a call, it
// means the call did not reach the server: it has not run.
class EDSConnectionError : public EVelmoraError {
 public:
  using EVelmoraError::EVelmoraError;
};

// Client side: the connection broke after a call was sent and before its reply arrived. The
// server may or may not have run the call; only looking at the data can tell. The client library
// never sends such a call again by itself unless the call only reads and the caller allowed it.
class EDSOutcomeUnknown : public EDSConnectionError {
 public:
  using EDSConnectionError::EDSConnectionError;
};

// Server side: the server could not start listening.
class EDSServerError : public EVelmoraError {
 public:
  using EVelmoraError::EVelmoraError;
};

}  // namespace velmora
