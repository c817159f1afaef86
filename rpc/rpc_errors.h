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

// Client side: the connection could not be opened, or it broke.
class EDSConnectionError : public EVelmoraError {
 public:
  using EVelmoraError::EVelmoraError;
};

// Server side: the server could not start listening.
class EDSServerError : public EVelmoraError {
 public:
  using EVelmoraError::EVelmoraError;
};

}  // namespace velmora
