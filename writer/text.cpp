#include "writer/text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/failure.h"

namespace scrivane {

std::string ReplaceText(const std::string& Text, const std::string& TextToReplace,
                        const std::string& NewText) {
  if (TextToReplace.empty()) return Text;
  std::size_t pos = Text.find(TextToReplace);
  if (pos == std::string::npos) return Text;
  // Searching on in the original after each match is the same as searching the
  // result after the inserted text, and keeps the work linear.
  std::string result;
  result.reserve(Text.size() + Text.size() / 4);
  std::size_t from = 0;
  while (pos != std::string::npos) {
    result.append(Text, from, pos - from);
    result += NewText;
    from = pos + TextToReplace.size();
    pos = Text.find(TextToReplace, from);
  }
  result.append(Text, from, std::string::npos);
  return result;
}

namespace {

// A byte-indexed table, built at compile time from the characters it marks.
struct CharSet {
  explicit constexpr CharSet(std::string_view members) {
    for (char c : members) marks[static_cast<unsigned char>(c)] = true;
  }
  constexpr bool operator[](char c) const { return marks[static_cast<unsigned char>(c)]; }
  bool marks[256] = {};
};

constexpr CharSet kEscaped("\\()");

}  // namespace

namespace {

constexpr std::uint64_t kOnes = 0x0101010101010101ull;
constexpr std::uint64_t kHighs = 0x8080808080808080ull;

// Whether any of the eight bytes of `word` equals `c`.
constexpr bool HasByte(std::uint64_t word, char c) {
  const std::uint64_t x = word ^ (kOnes * static_cast<unsigned char>(c));
  return ((x - kOnes) & ~x & kHighs) != 0;
}

}  // namespace

void AppendEscaped(std::string& out, std::string_view text) {
  // The same as replacing backslashes, then "(", then ")" with ReplaceText, in one
  // pass: each of the three gets one backslash in front of it. Words of eight
  // bytes without any of them are passed over whole.
  std::size_t from = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    if (i + 8 <= text.size()) {
      std::uint64_t word;
      std::memcpy(&word, text.data() + i, 8);
      if (!HasByte(word, '\\') && !HasByte(word, '(') && !HasByte(word, ')')) {
        i += 8;
        continue;
      }
    }
    const std::size_t stop = std::min(i + 8, text.size());
    for (; i < stop; ++i) {
      if (kEscaped[text[i]]) {
        out.append(text, from, i - from);
        out += '\\';
        from = i;
      }
    }
  }
  out.append(text, from, std::string_view::npos);
}

std::string EscapeLiteral(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  AppendEscaped(out, text);
  return out;
}

bool IsAscii(std::string_view text) {
  // Eight bytes at a time, then the rest.
  std::size_t i = 0;
  for (std::uint64_t word; i + 8 <= text.size(); i += 8) {
    std::memcpy(&word, text.data() + i, 8);
    if (word & kHighs) return false;
  }
  for (; i < text.size(); ++i) {
    if (static_cast<unsigned char>(text[i]) >= 0x80) return false;
  }
  return true;
}

namespace {

// Windows-1252 codes 0x80..0x9F and the characters they stand for; the five
// codes without a character map to the C1 control of the same number.
constexpr char32_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char ToCp1252(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  for (int i = 0; i < 32; ++i) {
    if (kHighControls[i] == c) return static_cast<char>(0x80 + i);
  }
  return '?';
}

// Decodes one UTF-8 sequence at s[i]; returns its length, or 0 when invalid.
std::size_t DecodeUtf8(std::string_view s, std::size_t i, char32_t& out) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  std::size_t len;
  char32_t cp;
  char32_t min;
  if (c < 0x80) {
    out = c;
    return 1;
  } else if ((c & 0xE0) == 0xC0) {
    len = 2, cp = c & 0x1F, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    len = 3, cp = c & 0x0F, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    len = 4, cp = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i + k) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  out = cp;
  return len;
}

}  // namespace

std::string ToWindows1252(std::string_view text) {
  if (IsAscii(text)) return std::string(text);
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp;
    const std::size_t len = DecodeUtf8(text, i, cp);
    if (len == 0) return std::string(text);  // not UTF-8: already 8-bit text
    out += ToCp1252(cp);
    i += len;
  }
  return out;
}

std::string FixedText(std::int64_t value) {
  const bool negative = value < 0;
  const std::uint64_t magnitude =
      negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  std::string text = negative ? "-" : "";
  text += std::to_string(magnitude / 10000);
  std::uint64_t fraction = magnitude % 10000;
  if (fraction != 0) {
    char digits[5] = {'0', '0', '0', '0', '\0'};
    for (int k = 3; k >= 0; --k, fraction /= 10) digits[k] = static_cast<char>('0' + fraction % 10);
    std::string_view f(digits, 4);
    while (f.back() == '0') f.remove_suffix(1);
    text += '.';
    text += f;
  }
  return text;
}

std::string DoubleText(double value) {
  char buf[64];
  const auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
  return std::string(buf, result.ptr);
}

std::int32_t RoundToInt32(double value) {
  const double r = std::nearbyint(value);
  if (!(r >= std::numeric_limits<std::int32_t>::min() &&
        r <= std::numeric_limits<std::int32_t>::max())) {
    throw platform::Failure(platform::kOverflow);
  }
  return static_cast<std::int32_t>(r);
}

}  // namespace scrivane
