#include "platform/utf16.h"

namespace scrivane::platform {
namespace {

char* PutUtf8(char32_t c, char* out) {
  if (c < 0x80) {
    *out++ = static_cast<char>(c);
  } else if (c < 0x800) {
    *out++ = static_cast<char>(0xC0 | (c >> 6));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (c >> 12));
    *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (c >> 18));
    *out++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

constexpr char32_t kReplacement = 0xFFFD;

bool IsHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

char* Utf16Decoder::unit(char16_t u, char* out) {
  if (high_ != 0) {
    const char16_t high = high_;
    high_ = 0;
    if (IsLow(u)) {
      return PutUtf8(0x10000 + ((static_cast<char32_t>(high) - 0xD800) << 10) + (u - 0xDC00), out);
    }
    ++errors_;
    out = PutUtf8(kReplacement, out);
  }
  if (IsHigh(u)) {
    high_ = u;
    return out;
  }
  if (IsLow(u)) {
    ++errors_;
    return PutUtf8(kReplacement, out);
  }
  return PutUtf8(u, out);
}

char* Utf16Decoder::decode(const char* in, std::size_t size, char* out) {
  const auto* p = reinterpret_cast<const unsigned char*>(in);
  const auto* end = p + size;
  const auto join = [this](unsigned first, unsigned second) {
    return static_cast<char16_t>(bigEndian_ ? (first << 8 | second) : (second << 8 | first));
  };
  if (pendingByte_ >= 0 && p < end) {
    out = unit(join(static_cast<unsigned>(pendingByte_), *p++), out);
    pendingByte_ = -1;
  }
  // Plain ASCII units, the bulk of most text, go straight through.
  for (; end - p >= 2; p += 2) {
    const char16_t u = join(p[0], p[1]);
    if (u < 0x80 && high_ == 0) {
      *out++ = static_cast<char>(u);
    } else {
      out = unit(u, out);
    }
  }
  if (p < end) pendingByte_ = *p;
  return out;
}

char* Utf16Decoder::finish(char* out) {
  if (high_ != 0) {
    high_ = 0;
    ++errors_;
    out = PutUtf8(kReplacement, out);
  }
  if (pendingByte_ >= 0) {
    pendingByte_ = -1;
    ++errors_;
    out = PutUtf8(kReplacement, out);
  }
  return out;
}

Utf16Mark FindUtf16Mark(const char* bytes, std::size_t size) {
  if (size < 2) return Utf16Mark::None;
  const auto a = static_cast<unsigned char>(bytes[0]);
  const auto b = static_cast<unsigned char>(bytes[1]);
  if (a == 0xFF && b == 0xFE) return Utf16Mark::LittleEndian;
  if (a == 0xFE && b == 0xFF) return Utf16Mark::BigEndian;
  return Utf16Mark::None;
}

}  // namespace scrivane::platform
