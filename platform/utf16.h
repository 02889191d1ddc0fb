#pragma once

#include <cstddef>
#include <cstdint>

namespace scrivane::platform {

// Turns UTF-16 bytes of one byte order into UTF-8, fed in pieces of any size.
// A code unit may be split between two pieces, a surrogate pair too. What is
// not well formed (a high surrogate without its low one, a low one alone, an odd
// byte at the end) becomes U+FFFD and is counted.
class Utf16Decoder {
 public:
  explicit Utf16Decoder(bool bigEndian) : bigEndian_(bigEndian) {}

  // The most bytes decode() writes for `size` bytes fed.
  static constexpr std::size_t MaxOutput(std::size_t size) { return size / 2 * 3 + 8; }

  // Decodes `size` bytes and writes their UTF-8 at `out`; returns the end of what it wrote.
  char* decode(const char* in, std::size_t size, char* out);
  // Ends the input: whatever is left over is malformed. Writes at most 6 bytes.
  char* finish(char* out);

  // How many malformed pieces were met so far.
  std::uint64_t errors() const { return errors_; }

 private:
  char* unit(char16_t u, char* out);

  bool bigEndian_;
  int pendingByte_ = -1;   // the first byte of a unit split between two pieces
  char16_t high_ = 0;      // a high surrogate waiting for its low one
  std::uint64_t errors_ = 0;
};

// Which byte-order mark, if any, begins these bytes.
enum class Utf16Mark { None, LittleEndian, BigEndian };
Utf16Mark FindUtf16Mark(const char* bytes, std::size_t size);

}  // namespace scrivane::platform
