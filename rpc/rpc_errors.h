// Exceptions of the remote-method layer.
#pragma once

#include <stdexcept>

namespace velmora {

// Broken framing or a malformed message: the peer does not speak the protocol.
class EDSProtocolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Client side: the server failed a call; what() is the server's text ("Remote error: ...").
class EDSRemoteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Client side: the server refused the login; what() is the server's refusal text.
class EDSLoginError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Client side: the connection could not be opened, or it broke.
class EDSConnectionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Server side: the server could not start listening.
class EDSServerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace velmora
