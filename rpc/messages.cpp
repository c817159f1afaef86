#include "rpc/messages.h"

#include <fmt/format.h>

#include "common/server_limits.h"
#include "rpc/rpc_errors.h"
#include "variant/byte_io.h"
#include "variant/variant_codec.h"

namespace velmora {
namespace {

void Put(std::string& out, TDSMessageType type) {
  out.push_back(static_cast<char>(type));
}

void PutVariants(ByteWriter& w, std::span<const OleVariant> values) {
  w.Put<uint32_t>(static_cast<uint32_t>(values.size()));
  for (const OleVariant& v : values) EncodeVariant(v, w);
}

// The list's memory is charged to `held` like the values' (see DecodeVariant); the list and every
// array in its values count against one element limit (VariantElementCount), and every text in
// them against `max_text`.
void GetVariants(ByteReader& r, std::vector<OleVariant>& values, MemoryReservation& held,
                 uint64_t max_text) {
  const uint32_t n = r.Get<uint32_t>();
  r.Need(size_t{n} * 2);  // every variant takes at least its type code
  if (n > Limits().VariantArrayMaxElements) {
    throw EVariantLimitExceeded(
        fmt::format("A list of {} variants exceeds the server's limit of {} elements", n,
                    Limits().VariantArrayMaxElements));
  }
  VariantElementCount elements;
  elements.Take(n, "A list");
  values.clear();
  if (n > values.capacity()) held.Grow(VariantElementCost(n));
  values.reserve(n);
  for (uint32_t i = 0; i < n; ++i) values.push_back(DecodeVariant(r, held, elements, max_text));
}

// Runs `body` over the message after checking its type byte; turns format errors into protocol
// errors and refuses trailing bytes.
template <class Body>
void Decode(std::string_view message, TDSMessageType type, const char* name, Body body) {
  try {
    ByteReader r(message);
    if (r.Get<uint8_t>() != static_cast<uint8_t>(type)) {
      throw EFormatError(fmt::format("not a {} message", name));
    }
    body(r);
    if (!r.AtEnd()) throw EFormatError("trailing bytes");
  } catch (const EVariantLimitExceeded&) {
    throw;  // well formed, but more than the server takes: its own text says so
  } catch (const EFormatError& e) {
    throw EDSProtocolError(fmt::format("Malformed {} message: {}", name, e.what()));
  }
}

// The longest class or method name a call may give: names are short, and a long one would be
// copied outside the memory budget.
constexpr size_t kMaxNameBytes = 1024;

std::string_view GetName(ByteReader& r) {
  const std::string_view name = r.GetString();
  if (name.size() > kMaxNameBytes) {
    throw EFormatError(
        fmt::format("a name of {} bytes (at most {} are taken)", name.size(), kMaxNameBytes));
  }
  return name;
}

}  // namespace

uint8_t PeekMessageType(std::string_view message) {
  if (message.empty()) throw EDSProtocolError("Empty message");
  return static_cast<uint8_t>(message[0]);
}

namespace {

// A reply whose byte array is larger than this reserves its frame first, with room for the rest.
// Below it the doubling costs little, and an exact reservation was measured to raise a 2 MB
// query result's peak memory (the allocator then places the frame where it keeps other memory
// from being given back).
constexpr size_t kReserveAbove = 8u << 20;
constexpr size_t kReplyHeadroom = 4096;

}  // namespace

bool IsPacketBulk(const OleVariant& value, size_t message_size) {
  if (!value.IsByteArray()) return false;
  const std::vector<uint8_t>& b = value.ByteData().bytes;
  if (b.size() < 2 || b.size() * 2 < message_size) return false;
  const unsigned cmf = b[0];
  const unsigned flg = b[1];
  return (cmf & 0x0f) == 8 && (cmf >> 4) <= 7 && (flg & 0x20) == 0 && (cmf * 256 + flg) % 31 == 0;
}

void EncodeHello(const HelloMessage& m, std::string& out) {
  Put(out, TDSMessageType::Hello);
  ByteWriter w(out);
  w.Put<uint16_t>(m.Version);
  w.PutString(m.User);
  w.PutString(m.Password);
  w.PutString(m.Protocol);
}

void EncodeHelloReply(bool accepted, std::string_view text, std::string& out) {
  Put(out, TDSMessageType::HelloReply);
  ByteWriter w(out);
  w.Put<uint8_t>(accepted ? 1 : 0);
  w.PutString(text);
}

void EncodeCall(std::string_view class_name, std::string_view method_name,
                std::span<const OleVariant> args, std::string& out) {
  Put(out, TDSMessageType::Call);
  ByteWriter w(out);
  w.PutString(class_name);
  w.PutString(method_name);
  PutVariants(w, args);
}

void EncodeReply(const OleVariant& result, std::span<const OleVariant> outs, std::string& out) {
  // A large byte array (a packet) is reserved for at once: growing the frame by doubling would
  // hold the old and the new buffer, together more than twice the packet, while it is copied.
  if (result.IsByteArray() && result.ByteData().bytes.size() > kReserveAbove) {
    out.reserve(out.size() + result.ByteData().bytes.size() + kReplyHeadroom);
  }
  Put(out, TDSMessageType::Reply);
  ByteWriter w(out);
  EncodeVariant(result, w);
  PutVariants(w, outs);
}

void EncodeError(std::string_view text, std::string& out) {
  Put(out, TDSMessageType::Error);
  ByteWriter w(out);
  w.PutString(text);
}

void DecodeHello(std::string_view message, HelloMessage& m) {
  Decode(message, TDSMessageType::Hello, "hello", [&](ByteReader& r) {
    m.Version = r.Get<uint16_t>();
    m.User.assign(r.GetString());
    m.Password.assign(r.GetString());
    m.Protocol.assign(r.GetString());
  });
}

void DecodeHelloReply(std::string_view message, HelloReplyMessage& m) {
  Decode(message, TDSMessageType::HelloReply, "hello reply", [&](ByteReader& r) {
    const uint8_t accepted = r.Get<uint8_t>();
    if (accepted > 1) throw EFormatError("invalid acceptance flag");
    m.Accepted = accepted == 1;
    m.Text.assign(r.GetString());
  });
}

void DecodeCall(std::string_view message, CallMessage& m) {
  Decode(message, TDSMessageType::Call, "call", [&](ByteReader& r) {
    m.ClassName.assign(GetName(r));
    m.MethodName.assign(GetName(r));
    m.Args.clear();
    m.ArgsMemory = MemoryReservation();
    GetVariants(r, m.Args, m.ArgsMemory, Limits().TextMax);
  });
}

void DecodeReply(std::string_view message, ReplyMessage& m) {
  Decode(message, TDSMessageType::Reply, "reply", [&](ByteReader& r) {
    MemoryReservation held;  // a client's own memory: held while decoding only
    m.Result = DecodeVariant(r, held);
    GetVariants(r, m.Outs, held, kAnyTextLength);  // a client takes what its server sends
  });
}

void DecodeError(std::string_view message, std::string& text) {
  Decode(message, TDSMessageType::Error, "error",
         [&](ByteReader& r) { text.assign(r.GetString()); });
}

}  // namespace velmora
