#include "rpc/session.h"

#include <fmt/format.h>

#include <chrono>

#include "common/server_metrics.h"
#include "rpc/arg_convert.h"
#include "rpc/remote_error.h"
#include "rpc/rpc_errors.h"
#include "variant/variant_text.h"

namespace velmora {

namespace {

// Counts one call of a method when it goes out of scope: its duration from construction, and a
// failure unless `failed` was cleared (so every early return and exception counts as failed).
struct CountedCall {
  explicit CountedCall(metrics::MethodMetrics& m) : counted(m) {}
  CountedCall(const CountedCall&) = delete;
  CountedCall& operator=(const CountedCall&) = delete;
  ~CountedCall() {
    counted.calls.Add();
    if (failed) counted.failures.Add();
    counted.duration.Observe(std::chrono::steady_clock::now() - started);
  }

  metrics::MethodMetrics& counted;
  const std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
  bool failed = true;
};

}  // namespace

TDSSession::TDSSession(const TDSSessionContext& context, std::string peer)
    : context_(context), peer_(std::move(peer)) {}

TDSSession::~TDSSession() {
  End();
}

void TDSSession::End() {
  TDSServerModuleBase* instance = instance_;
  instance_ = nullptr;
  if (instance == nullptr || context_.ServerClass == nullptr ||
      !context_.ServerClass->OnDestroyInstance) {
    return;
  }
  TDSDestroyInstanceEventObject event{context_.ServerClass, instance};
  try {
    context_.ServerClass->OnDestroyInstance(event);
  } catch (...) {
  }
}

void TDSSession::Handle(std::string_view message, std::string& reply) {
  const size_t mark = reply.size();
  last_hello_ = THelloOutcome::None;
  reply_is_packet_ = false;
  try {
    const uint8_t type = PeekMessageType(message);
    if (type == static_cast<uint8_t>(TDSMessageType::Hello)) {
      HandleHello(message, reply);
    } else if (type == static_cast<uint8_t>(TDSMessageType::Call)) {
      HandleCall(message, reply);
    } else {
      EncodeError(fmt::format("Unexpected message type {}", type), reply);
    }
  } catch (const std::exception& e) {
    // Malformed input, or a reply that could not be encoded.
    reply.resize(mark);
    reply_is_packet_ = false;
    EncodeError(e.what(), reply);
  }
  call_.Args.clear();  // do not keep the last call's data alive
  call_.ArgsMemory = MemoryReservation();
  result_ = OleVariant();
  outs_.clear();
}

void TDSSession::HandleHello(std::string_view message, std::string& reply) {
  DecodeHello(message, hello_);
  if (logged_in_) {
    // Login happens once per connection: a further hello is refused unchecked.
    ++refusals_;
    last_hello_ = THelloOutcome::Rejected;
    EncodeError("The session is already logged in", reply);
    return;
  }
  if (checked_) {
    // The credentials of a connection are checked once: after a refusal a further hello is
    // refused unchecked, so a connection cannot be used to try one password after another.
    ++refusals_;
    last_hello_ = THelloOutcome::Rejected;
    hello_.Password.clear();
    EncodeHelloReply(false, kLoginAlreadyRefused, reply);
    return;
  }
  if (hello_.Version != kProtocolVersion) {
    ++refusals_;
    last_hello_ = THelloOutcome::Rejected;
    EncodeHelloReply(false,
                     fmt::format("Unsupported protocol version {}; the server speaks version {}",
                                 hello_.Version, kProtocolVersion),
                     reply);
    return;
  }
  bool valid = true;
  std::vector<std::string> roles;
  TDSAuthenticationManager* auth = context_.AuthenticationManager;
  if (auth != nullptr && auth->OnUserAuthenticate) {
    valid = false;
    try {
      auth->OnUserAuthenticate(*auth, hello_.Protocol, peer_, hello_.User, hello_.Password, valid,
                               roles);
    } catch (...) {
      valid = false;
    }
  }
  hello_.Password.clear();  // not kept between messages
  checked_ = true;
  if (!valid) {
    ++refusals_;
    last_hello_ = THelloOutcome::Refused;
    EncodeHelloReply(false, kAuthenticationRejected, reply);
    return;
  }
  logged_in_ = true;
  last_hello_ = THelloOutcome::Accepted;
  authorize_.UserName = hello_.User;
  authorize_.UserRoles = std::move(roles);
  EncodeHelloReply(true, {}, reply);
}

void TDSSession::HandleCall(std::string_view message, std::string& reply) {
  if (!logged_in_) {
    EncodeError("The client has not logged in; a call must follow an accepted hello", reply);
    return;
  }
  DecodeCall(message, call_);
  const TDSMethodTable* methods = context_.Methods;
  if (methods == nullptr || !EqualsNoCase(call_.ClassName, methods->ClassName())) {
    EncodeError(fmt::format("Server class {} not found", call_.ClassName), reply);
    return;
  }
  const TDSMethodInfo* method = methods->Find(call_.MethodName);
  if (method == nullptr) {
    EncodeError(
        fmt::format("Server method {}.{} not found", methods->ClassName(), call_.MethodName),
        reply);
    return;
  }
  if (call_.Args.size() != method->InCount) {
    EncodeError(fmt::format("Method {}.{} expects {} argument(s), {} given", methods->ClassName(),
                            method->Name, method->InCount, call_.Args.size()),
                reply);
    return;
  }

  TDSAuthenticationManager* auth = context_.AuthenticationManager;
  if (auth != nullptr && auth->OnUserAuthorize) {
    authorize_.MethodAlias.assign(methods->ClassName()).append(".").append(method->Name);
    bool valid = true;
    try {
      auth->OnUserAuthorize(*auth, authorize_, valid);
    } catch (...) {
      valid = false;
    }
    if (!valid) {
      EncodeError(
          fmt::format("{} is not authorized to perform the requested action.", authorize_.UserName),
          reply);
      return;
    }
  }

  if (instance_ == nullptr) {
    TDSCreateInstanceEventObject event{context_.ServerClass, nullptr};
    try {
      if (context_.ServerClass != nullptr && context_.ServerClass->OnCreateInstance) {
        context_.ServerClass->OnCreateInstance(event);
      }
    } catch (...) {
      EncodeError(CurrentRemoteErrorText(), reply);
      return;
    }
    if (event.ServerClassInstance == nullptr) {
      EncodeError(fmt::format("Remote error: No instance of server class {} is available",
                              methods->ClassName()),
                  reply);
      return;
    }
    instance_ = event.ServerClassInstance;
  }

  result_ = OleVariant();
  outs_.clear();
  CountedCall counted(metrics::Metrics().Method(method->MetricsSlot));
  try {
    method->Invoke(*instance_, call_.Args, result_, outs_);
  } catch (const EDSArgumentError& e) {
    EncodeError(
        fmt::format("Invalid argument for {}.{}: {}", methods->ClassName(), method->Name, e.what()),
        reply);
    return;
  } catch (...) {
    EncodeError(CurrentRemoteErrorText(), reply);
    return;
  }
  if (!method->HasResult) result_ = OleVariant();
  const size_t before = reply.size();
  EncodeReply(result_, outs_, reply);
  reply_is_packet_ = IsPacketBulk(result_, reply.size() - before);
  counted.failed = method->LastOutIsError && !outs_.empty() && outs_.back().IsText() &&
                   !outs_.back().Text().empty();
}

}  // namespace velmora
