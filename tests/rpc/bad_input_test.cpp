// Bad input sent as raw bytes: each case ends in a clear error to that client or its connection
// closed, and the server goes on serving others.
#include <gtest/gtest.h>

#include "tests/rpc/rpc_test_server.h"
#include "variant/byte_io.h"

namespace velmora::test {
namespace {

std::string Header(uint32_t length, uint8_t flags) {
  std::string h(kFrameHeaderSize, '\0');
  std::memcpy(h.data(), &length, 4);
  h[4] = static_cast<char>(flags);
  return h;
}

std::string CallBytes(const char* method, std::vector<OleVariant> args) {
  std::string m;
  EncodeCall(kClass, method, args, m);
  return m;
}

// A call of Echo up to its argument count.
std::string CallPrefix(uint32_t count) {
  std::string m(1, static_cast<char>(TDSMessageType::Call));
  ByteWriter w(m);
  w.PutString(kClass);
  w.PutString("Echo");
  w.Put<uint32_t>(count);
  return m;
}

struct BadInput {
  const char* name;
  bool login_first;
  std::string bytes;  // sent as they are
  std::string error;  // expected start of the error text; "" when only a close is expected
  bool stays_open;    // the same connection then serves a good call
};

std::vector<BadInput> Cases() {
  std::string truncated_call = CallBytes("Echo", {OleVariant::OleStr("hello")});
  truncated_call.resize(truncated_call.size() - 3);
  std::string hello;
  EncodeHello(HelloMessage{kProtocolVersion, kUser, kPassword, "tcp/ip"}, hello);
  std::string wrong_version;
  EncodeHello(HelloMessage{99, kUser, kPassword, "tcp/ip"}, wrong_version);
  std::string corrupt_zlib =
      std::string("\x40\x0d\x03\x00", 4) + std::string(64, '\x55');  // claims 200000 bytes
  auto frame = [](std::string m, uint8_t flags = 0) {
    return Header(static_cast<uint32_t>(m.size()), flags) + m;
  };
  std::string garbage;
  for (int i = 0; i < 300; ++i) garbage.push_back(static_cast<char>((i * 131 + 7) & 0xff));
  return {
      {"frame over maximum", true, Header(2u << 20, 0),
       "Frame of 2097152 bytes exceeds the maximum", false},
      {"unknown flags", true, frame("x", 0x80), "Unknown frame flags", false},
      {"corrupt compressed payload", true, frame(corrupt_zlib, kFrameDeflated),
       "Corrupt compressed frame", false},
      {"compressed size over maximum", true,
       frame(std::string("\x00\x00\x00\x10xx", 6), kFrameDeflated), "Frame of", false},
      {"call before login", false, frame(CallBytes("Echo", {OleVariant()})),
       "The client has not logged in", true},
      {"unknown message type", true, frame("\x7f"), "Unexpected message type 127", true},
      {"empty message", true, frame(""), "Empty message", true},
      {"reply sent to the server", true, frame("\x04"), "Unexpected message type 4", true},
      {"truncated call message", true, frame(truncated_call), "Malformed call message", true},
      {"trailing bytes", true, frame(CallBytes("Now", {}) + "zz"),
       "Malformed call message: trailing bytes", true},
      {"variant count beyond the data", true, frame(CallPrefix(0x7fffffff)),
       "Malformed call message", true},
      {"unknown variant type code", true, frame(CallPrefix(1) + "\x34\x12"),
       "Malformed call message: Unknown variant type code 0x1234", true},
      {"second hello", true, frame(hello), "The session is already logged in", true},
      {"wrong protocol version", false, frame(wrong_version), "", true},
      {"garbage bytes", false, garbage, "", false},
  };
}

TEST_F(RpcServerTest, BadInputIsRefusedAndOthersAreStillServed) {
  for (const BadInput& t : Cases()) {
    SCOPED_TRACE(t.name);
    RawClient raw(Port());
    if (t.login_first) {
      ASSERT_NO_FATAL_FAILURE(raw.Login());
    }
    raw.Send(t.bytes);
    if (std::string(t.name) == "wrong protocol version") {
      std::string m;
      ASSERT_TRUE(raw.ReadMessage(m));
      HelloReplyMessage r;
      DecodeHelloReply(m, r);
      EXPECT_FALSE(r.Accepted);
      EXPECT_EQ(r.Text, "Unsupported protocol version 99; the server speaks version 1");
    } else if (!t.error.empty()) {
      const std::string text = raw.ReadError();
      EXPECT_EQ(text.rfind(t.error, 0), 0u) << text;
    }
    if (t.stays_open) {
      if (!t.login_first) {  // a refused hello may be followed by another
        ASSERT_NO_FATAL_FAILURE(raw.Login());
      }
      raw.SendMessage(CallBytes("Now", {}));
      std::string m;
      ASSERT_TRUE(raw.ReadMessage(m));
      ReplyMessage r;
      DecodeReply(m, r);
      EXPECT_EQ(r.Result, OleVariant::Date(45000.5));
    } else {
      // The server answers garbage with an error or nothing, then closes.
      std::string rest;
      FrameHeader h;
      while (raw.ReadFrame(h, rest)) {
      }
      EXPECT_TRUE(raw.ClosedByServer());
    }
    ExpectServing();
  }
}

TEST_F(RpcServerTest, TruncatedFrameThenCloseEndsTheSessionNormally) {
  {
    RawClient raw(Port());
    raw.Login();
    std::string m = CallBytes("Echo", {OleVariant::OleStr("abc")});
    raw.Send(Header(static_cast<uint32_t>(m.size()), 0) + m.substr(0, 5));
    raw.Close();
  }
  ASSERT_TRUE(log_.WaitFor("disconnect"));
  EXPECT_EQ(log_.Count("create"), 0u);  // nothing was called
  ExpectServing();
}

}  // namespace
}  // namespace velmora::test
