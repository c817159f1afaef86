// TMemoryStream: a growable in-memory byte buffer with a size and a current position.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace velmora {

class TMemoryStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string bytes) : data_(std::move(bytes)) {}

  size_t Size() const { return data_.size(); }
  size_t Position() const { return pos_; }
  void SetPosition(size_t pos) { pos_ = pos; }

  // Reads up to n bytes from the position; returns the count read.
  size_t Read(void* dest, size_t n) {
    if (pos_ >= data_.size()) return 0;
    n = std::min(n, data_.size() - pos_);
    std::memcpy(dest, data_.data() + pos_, n);
    pos_ += n;
    return n;
  }
  // Writes n bytes at the position, growing the stream as needed.
  void Write(const void* src, size_t n) {
    if (pos_ == data_.size()) {
      data_.append(static_cast<const char*>(src), n);
    } else {
      if (pos_ + n > data_.size()) data_.resize(pos_ + n);
      std::memcpy(data_.data() + pos_, src, n);
    }
    pos_ += n;
  }
  void Clear() {
    data_.clear();
    pos_ = 0;
  }

  const char* Data() const { return data_.data(); }
  std::string_view View() const { return data_; }
  // The underlying buffer, for writers that append directly; keep the position in mind.
  std::string& Buffer() { return data_; }
  const std::string& Buffer() const { return data_; }

 private:
  std::string data_;
  size_t pos_ = 0;
};

}  // namespace velmora
