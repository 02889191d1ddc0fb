#pragma once

// The bytes of the document that are not yet written out. Unlike a string's,
// room taken ahead is not cleared first, so that a line can be escaped
// straight into it and cut back to what it came to.

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

namespace scrivane {

class OutputBuffer {
 public:
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::string_view view() const { return {bytes_.get(), size_}; }
  operator std::string_view() const { return view(); }
  bool starts_with(std::string_view s) const { return view().starts_with(s); }

  void clear() { size_ = 0; }
  void reserve(std::size_t capacity) {
    if (capacity <= capacity_) return;
    auto bytes = std::make_unique_for_overwrite<char[]>(capacity);
    if (size_ > 0) std::memcpy(bytes.get(), bytes_.get(), size_);
    bytes_ = std::move(bytes);
    capacity_ = capacity;
  }
  // `n` more bytes at the end, left as they are for the caller to fill.
  char* extend(std::size_t n) {
    if (capacity_ - size_ < n) reserve(std::max(size_ + n, 2 * capacity_));
    char* at = bytes_.get() + size_;
    size_ += n;
    return at;
  }
  // Keeps the first `size` bytes, which must be no more than there are.
  void cut(std::size_t size) { size_ = size; }
  void append(std::string_view s) {
    if (!s.empty()) std::memcpy(extend(s.size()), s.data(), s.size());
  }
  void push_back(char c) { *extend(1) = c; }
  // Writes `s` over the bytes from the start, which must be that many.
  void overwriteStart(std::string_view s) { std::memcpy(bytes_.get(), s.data(), s.size()); }

 private:
  std::unique_ptr<char[]> bytes_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace scrivane
