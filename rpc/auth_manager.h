// TDSAuthenticationManager: the login check run once when a client connects, and the
// authorisation run before each of its calls.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace velmora {

class TDSAuthenticationManager;

inline constexpr const char* kAuthenticationRejected =
    "Authentication manager rejected user credentials. This may due to invalid combination of DS "
    "user name and password";
// The refusal of a further hello on a connection whose login was refused: credentials are checked
// once per connection, so the client opens a new connection to try again.
inline constexpr const char* kLoginAlreadyRefused =
    "The login of this connection was refused; open a new connection to log in again";

struct TDSAuthorizeEventObject {
  std::string UserName;
  std::vector<std::string> UserRoles;
  std::string MethodAlias;  // "Class.Method" as the client named it
};

class TDSAuthenticationManager {
 public:
  // `valid` starts false; the login succeeds only when the handler sets it. `Context` is the
  // client's "address:port". Without a handler every client is admitted.
  std::function<void(TDSAuthenticationManager& Sender, const std::string& Protocol,
                     const std::string& Context, const std::string& User,
                     const std::string& Password, bool& valid, std::vector<std::string>& UserRoles)>
      OnUserAuthenticate;
  // `valid` starts true; false fails the call with "<user> is not authorized to perform the
  // requested action.".
  std::function<void(TDSAuthenticationManager& Sender,
                     const TDSAuthorizeEventObject& AuthorizeEventObject, bool& valid)>
      OnUserAuthorize;
};

}  // namespace velmora
