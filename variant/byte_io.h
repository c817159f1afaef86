// Little-endian byte writing and bounds-checked reading, shared by every binary format of the
// system (variant encoding, dataset storage format, wire frames). The one place that turns
// numbers into their bytes and back: the machines we build for are little-endian, so the bytes
// are the value's own (checked at compile time below).
//
// Thread rules: a writer or reader belongs to the thread using it; the free functions keep no
// state.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

#include "common/velmora_error.h"

namespace velmora {

static_assert(std::endian::native == std::endian::little, "binary formats assume little-endian");

// The bytes of `v` stored at `at`, which the caller has made room for (sizeof(T) bytes): for a
// header whose fields are filled in after what follows it has been written.
template <typename T>
void StoreAt(void* at, T v) {
  static_assert(std::is_arithmetic_v<T>);
  std::memcpy(at, &v, sizeof(T));
}

// The value whose bytes stand at `at`, which the caller has checked holds sizeof(T) bytes.
template <typename T>
T LoadFrom(const void* at) {
  static_assert(std::is_arithmetic_v<T>);
  T v;
  std::memcpy(&v, at, sizeof(T));
  return v;
}

// Raised when binary input holds an impossible value, or (ETruncatedInput) ends early.
class EFormatError : public EVelmoraError {
 public:
  using EVelmoraError::EVelmoraError;
};

// The kind of EFormatError for input that ends before what it announces: callers that tell a
// cut-off input from a corrupt one catch this class instead of reading the message.
class ETruncatedInput : public EFormatError {
 public:
  using EFormatError::EFormatError;
};

class ByteWriter {
 public:
  explicit ByteWriter(std::string& out) : out_(out) {}

  template <typename T>
  void Put(T v) {
    char b[sizeof(T)];
    StoreAt(b, v);
    out_.append(b, sizeof(T));
  }
  void PutBytes(const void* data, size_t n) { out_.append(static_cast<const char*>(data), n); }
  // u32 length followed by the bytes.
  void PutString(std::string_view s) {
    Put<uint32_t>(static_cast<uint32_t>(s.size()));
    out_.append(s.data(), s.size());
  }
  std::string& Buffer() { return out_; }

 private:
  std::string& out_;
};

class ByteReader {
 public:
  ByteReader(const void* data, size_t size)
      : p_(static_cast<const uint8_t*>(data)), end_(p_ + size) {}
  explicit ByteReader(std::string_view s) : ByteReader(s.data(), s.size()) {}

  size_t Remaining() const { return static_cast<size_t>(end_ - p_); }
  bool AtEnd() const { return p_ == end_; }
  const uint8_t* Position() const { return p_; }

  template <typename T>
  T Get() {
    Need(sizeof(T));
    const T v = LoadFrom<T>(p_);
    p_ += sizeof(T);
    return v;
  }
  const uint8_t* GetBytes(size_t n) {
    Need(n);
    const uint8_t* at = p_;
    p_ += n;
    return at;
  }
  std::string_view GetString() {
    const uint32_t n = Get<uint32_t>();
    return {reinterpret_cast<const char*>(GetBytes(n)), n};
  }
  void Need(size_t n) const {
    if (n > Remaining()) throw ETruncatedInput("Unexpected end of data");
  }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
};

}  // namespace velmora
