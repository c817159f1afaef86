// Messages of the wire protocol (docs/protocol.md): each is one frame's message bytes, a type
// byte followed by its fields. Decoders raise EDSProtocolError on malformed input and never
// allocate more than the input can justify.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/memory_budget.h"
#include "variant/ole_variant.h"

namespace velmora {

inline constexpr uint16_t kProtocolVersion = 1;

enum class TDSMessageType : uint8_t {
  Hello = 1,
  HelloReply = 2,
  Call = 3,
  Reply = 4,
  Error = 5,
};

struct HelloMessage {
  uint16_t Version = kProtocolVersion;
  std::string User;
  std::string Password;
  std::string Protocol;
};

struct HelloReplyMessage {
  bool Accepted = false;
  std::string Text;  // the refusal text; empty when accepted
};

struct CallMessage {
  std::string ClassName;
  std::string MethodName;
  std::vector<OleVariant> Args;
  // The memory budget's charge for Args; release it when Args are cleared.
  MemoryReservation ArgsMemory;
};

struct ReplyMessage {
  OleVariant Result;  // Empty for a method without result
  std::vector<OleVariant> Outs;
};

// Type of a message; raises for an empty message. The value may be outside the enumeration.
uint8_t PeekMessageType(std::string_view message);

// Whether `value` is a byte array holding a zlib stream (RFC 1950 header: deflate, a window of at
// most 32 KiB, no preset dictionary, valid check bits) that makes up at least half of a message of
// `message_size` bytes. Such a message (a data packet in a reply, an upload) is sent plain: a zlib
// stream deflated again shrinks little for the cost of a whole pass on each side. A plain byte
// array that happens to start like a zlib header is only sent plain, which is always allowed.
bool IsPacketBulk(const OleVariant& value, size_t message_size);

// Encoders append to `out` (normally a frame begun with TDSFrameCodec::Begin).
void EncodeHello(const HelloMessage& m, std::string& out);
void EncodeHelloReply(bool accepted, std::string_view text, std::string& out);
void EncodeCall(std::string_view class_name, std::string_view method_name,
                std::span<const OleVariant> args, std::string& out);
void EncodeReply(const OleVariant& result, std::span<const OleVariant> outs, std::string& out);
void EncodeError(std::string_view text, std::string& out);

// Decoders read a whole message, type byte included, into `m` (reusing its storage).
void DecodeHello(std::string_view message, HelloMessage& m);
void DecodeHelloReply(std::string_view message, HelloReplyMessage& m);
void DecodeCall(std::string_view message, CallMessage& m);
void DecodeReply(std::string_view message, ReplyMessage& m);
void DecodeError(std::string_view message, std::string& text);

}  // namespace velmora
