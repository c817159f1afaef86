// Little-endian byte writing and bounds-checked reading, shared by every binary format of the
// system (variant encoding, dataset storage format, wire frames).
#pragma once

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>

#include "common/velmora_error.h"

namespace velmora {

// Raised by ByteReader when the input ends early or holds an impossible value.
class EFormatError : public EVelmoraError {
 public:
  using EVelmoraError::EVelmoraError;
};

class ByteWriter {
 public:
  explicit ByteWriter(std::string& out) : out_(out) {}

  template <typename T>
  void Put(T v) {
    static_assert(std::is_arithmetic_v<T>);
    char b[sizeof(T)];
    std::memcpy(b, &v, sizeof(T));  // the machines we build for are little-endian
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
    static_assert(std::is_arithmetic_v<T>);
    Need(sizeof(T));
    T v;
    std::memcpy(&v, p_, sizeof(T));
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
    if (n > Remaining()) throw EFormatError("Unexpected end of data");
  }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
};

}  // namespace velmora
