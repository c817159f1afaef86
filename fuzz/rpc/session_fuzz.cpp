// Feeds arbitrary bytes to the server side of the protocol as a connection's byte stream: frame
// headers, the zlib filter, message decoding and the session with a small server class, under a
// small memory budget and array limit so that their refusals are reached as often as the rest.
// Every answer the server produces must itself be a well-formed frame and message, and once a
// message is handled nothing may stay reserved.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "common/memory_budget.h"
#include "common/server_limits.h"
#include "rpc/frame_codec.h"
#include "rpc/messages.h"
#include "rpc/rpc_errors.h"
#include "rpc/session.h"

namespace velmora {
namespace {

class TFuzzModule : public TDSServerModuleBase {
 public:
  OleVariant Echo(const OleVariant& v) { return v; }
  std::string Join(const std::string& a, int32_t b, std::string& Out) {
    Out = a;
    return a + std::to_string(b);
  }
  double Now() { return 1.5; }
  void Fail(const std::string& m) {
    try {
      throw std::runtime_error(m);
    } catch (...) {
      std::throw_with_nested(std::runtime_error("outer"));
    }
  }
};

const TDSMethodTable& Methods() {
  static const TDSMethodTable t = [] {
    TDSMethodTable m("TFuzzModule");
    m.Add("Echo", &TFuzzModule::Echo)
        .Add("Join", &TFuzzModule::Join)
        .AddDateTime("Now", &TFuzzModule::Now);
    m.Add("Fail", &TFuzzModule::Fail);
    return m;
  }();
  return t;
}

// The server's memory budget: less than the largest frame (kMaxFrame), so that both inflating a
// frame and decoding its message can be refused.
constexpr uint64_t kServerBudget = 48 * 1024;
constexpr uint32_t kMaxFrame = 64 * 1024;
// A client's budget, while an answer is read as the client would read it.
constexpr uint64_t kClientBudget = 1024 * kMiB;

// Lifts the budget while an answer is checked: what the client reads is in its own memory.
class ClientSide {
 public:
  ClientSide() { MemoryBudget::Process().SetTotal(kClientBudget); }
  ~ClientSide() { MemoryBudget::Process().SetTotal(kServerBudget); }
  ClientSide(const ClientSide&) = delete;
  ClientSide& operator=(const ClientSide&) = delete;
};

void RequireNothingReserved() {
  if (MemoryBudget::Process().InUse() != 0) std::abort();
}

void CheckAnswer(TDSFrameCodec& codec, std::string& frame, bool may_deflate) {
  codec.Seal(frame, may_deflate);
  const ClientSide client;
  TDSFrameCodec reader(kDefaultCompressMoreThan, kDefaultMaxFrameSize);
  const FrameHeader h = reader.ParseHeader(reinterpret_cast<const uint8_t*>(frame.data()));
  if (h.length != frame.size() - kFrameHeaderSize) __builtin_trap();
  const std::string_view m = reader.Unpack(h, std::string_view(frame).substr(kFrameHeaderSize));
  switch (static_cast<TDSMessageType>(PeekMessageType(m))) {
    case TDSMessageType::HelloReply: {
      HelloReplyMessage r;
      DecodeHelloReply(m, r);
      break;
    }
    case TDSMessageType::Reply: {
      ReplyMessage r;
      DecodeReply(m, r);
      break;
    }
    case TDSMessageType::Error: {
      std::string text;
      DecodeError(m, text);
      break;
    }
    default:
      __builtin_trap();  // the server only ever answers with these
  }
}

}  // namespace
}  // namespace velmora

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace velmora;
  static TFuzzModule instance;
  static TDSServerClass server_class;
  static TDSAuthenticationManager auth;
  static bool ready = [] {
    server_class.OnCreateInstance = [](TDSCreateInstanceEventObject& e) {
      e.ServerClassInstance = &instance;
    };
    auth.OnUserAuthenticate = [](TDSAuthenticationManager&, const std::string&, const std::string&,
                                 const std::string& user, const std::string& password, bool& valid,
                                 std::vector<std::string>&) {
      valid = user == "u" && password == "p";
    };
    ServerLimits limits;
    limits.MemoryBudget = kServerBudget;
    limits.VariantArrayMaxElements = 4096;  // below what a frame can hold
    SetServerLimits(limits);
    return true;
  }();
  (void)ready;

  TDSFrameCodec codec(64, kMaxFrame);  // a low threshold reaches the filter's edges
  TDSSession session(TDSSessionContext{&server_class, &Methods(), &auth}, "127.0.0.1:1");
  std::string answer;
  if (size > 0 && (data[0] & 1)) {  // start logged in, so calls are reached directly
    TDSFrameCodec::Begin(answer);
    std::string hello;
    EncodeHello(HelloMessage{kProtocolVersion, "u", "p", "tcp/ip"}, hello);
    session.Handle(hello, answer);
    CheckAnswer(codec, answer, true);
  }
  size_t at = size > 0 ? 1 : 0;
  std::string message;
  while (size - at >= kFrameHeaderSize) {
    FrameHeader h;
    TDSFrameCodec::Begin(answer);
    try {
      h = codec.ParseHeader(data + at);
      at += kFrameHeaderSize;
      if (h.length > size - at)
        return 0;  // a truncated frame: the connection would wait, then close
      message =
          codec.Unpack(h, std::string_view(reinterpret_cast<const char*>(data + at), h.length));
      at += h.length;
    } catch (const EDSProtocolError&) {
      return 0;  // the server answers with an error and closes
    } catch (const EMemoryBudgetExceeded& e) {
      // The transport answers a frame it cannot take with an error and reads the next.
      at += h.length;
      codec.Trim();
      RequireNothingReserved();
      EncodeError(e.what(), answer);
      CheckAnswer(codec, answer, true);
      continue;
    }
    // The message is handled from a copy, with the frame's reservation released first: with it
    // held, a decoding that does not fit beside it would be refused only after the budget's wait
    // (seconds) for a release that only this thread could make.
    codec.Trim();
    session.Handle(message, answer);
    RequireNothingReserved();
    try {
      CheckAnswer(codec, answer, !session.ReplyIsPacket());
    } catch (const EDSProtocolError&) {
      // An answer over the maximum frame size is replaced by an error by the transport.
    }
  }
  return 0;
}
