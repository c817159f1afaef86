// TDSSession: the server side of one connection's conversation, apart from the socket. It takes
// each received message and produces the answer: login, authorisation, the instance of the
// server class (asked for at the first call, handed back by End) and the calls themselves.
// Every failure becomes an error message to this client; nothing else is disturbed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "rpc/auth_manager.h"
#include "rpc/messages.h"
#include "rpc/method_table.h"
#include "rpc/server_class.h"

namespace velmora {

struct TDSSessionContext {
  TDSServerClass* ServerClass = nullptr;
  const TDSMethodTable* Methods = nullptr;
  TDSAuthenticationManager* AuthenticationManager = nullptr;  // nullptr admits every client
};

// What the last handled message did to the login.
enum class THelloOutcome {
  None,      // the message was no hello
  Accepted,  // the client is now logged in
  Refused,   // the login check refused the credentials
  Rejected,  // refused without a check: another protocol version, or already logged in
};

class TDSSession {
 public:
  // `peer` is the client's "address:port", given to the login check as its context.
  TDSSession(const TDSSessionContext& context, std::string peer);
  ~TDSSession();  // calls End
  TDSSession(const TDSSession&) = delete;
  TDSSession& operator=(const TDSSession&) = delete;

  // Handles one message and appends the answer to `reply`.
  void Handle(std::string_view message, std::string& reply);
  // Hands the instance back through OnDestroyInstance, once. Exceptions are swallowed.
  void End();

  bool LoggedIn() const { return logged_in_; }
  THelloOutcome LastHello() const { return last_hello_; }
  // Hellos refused on this connection, whether by the login check or not.
  int Refusals() const { return refusals_; }
  // Whether the last answer's bulk is a data packet, already a zlib stream (IsPacketBulk): the
  // transport then sends it without deflating it again.
  bool ReplyIsPacket() const { return reply_is_packet_; }
  const std::string& UserName() const { return authorize_.UserName; }

 private:
  void HandleHello(std::string_view message, std::string& reply);
  void HandleCall(std::string_view message, std::string& reply);

  TDSSessionContext context_;
  std::string peer_;
  bool logged_in_ = false;
  bool checked_ = false;  // the credentials were checked (and refused, unless logged_in_)
  THelloOutcome last_hello_ = THelloOutcome::None;
  int refusals_ = 0;
  TDSAuthorizeEventObject authorize_;  // user and roles from the login; method per call
  TDSServerModuleBase* instance_ = nullptr;
  // Kept between calls so a call reuses their storage.
  HelloMessage hello_;
  CallMessage call_;
  bool reply_is_packet_ = false;
  OleVariant result_;
  std::vector<OleVariant> outs_;
};

}  // namespace velmora
