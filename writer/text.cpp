#include "writer/text.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/failure.h"

#if defined(__SSE2__) && !defined(SCRIVANE_PORTABLE_SCAN)
#include <emmintrin.h>
#endif

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

constexpr std::uint64_t kHighs = 0x8080808080808080ull;

// Marks of one block of bytes, one bit per byte (bit k for byte k): the bytes
// that need a backslash in front of them, and the bytes of 0x80 and above.
struct BlockMarks {
  unsigned escapes;
  unsigned highs;
};

#if defined(__SSE2__) && !defined(SCRIVANE_PORTABLE_SCAN)

constexpr std::size_t kBlock = 16;
static_assert(kBlock <= kEscapeSlack);

BlockMarks MarkBlock(const char* p) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i escapes = _mm_or_si128(
      _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\\')), _mm_cmpeq_epi8(v, _mm_set1_epi8('('))),
      _mm_cmpeq_epi8(v, _mm_set1_epi8(')')));
  return {static_cast<unsigned>(_mm_movemask_epi8(escapes)), static_cast<unsigned>(_mm_movemask_epi8(v))};
}

// The NUL, tab and form-feed bytes of a block, marked likewise.
unsigned ControlMarks(const char* p) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i nulsAndTabs =
      _mm_or_si128(_mm_cmpeq_epi8(v, _mm_setzero_si128()), _mm_cmpeq_epi8(v, _mm_set1_epi8('\t')));
  return static_cast<unsigned>(
      _mm_movemask_epi8(_mm_or_si128(nulsAndTabs, _mm_cmpeq_epi8(v, _mm_set1_epi8('\f')))));
}

#else

constexpr std::size_t kBlock = 8;
static_assert(kBlock <= kEscapeSlack);
constexpr std::uint64_t kOnes = 0x0101010101010101ull;

// The high bit of every byte of `word` that equals `c`, and no other bit. Exact:
// no carry crosses from one byte into the next.
constexpr std::uint64_t ByteMask(std::uint64_t word, char c) {
  constexpr std::uint64_t kLows = 0x7F7F7F7F7F7F7F7Full;
  const std::uint64_t x = word ^ (kOnes * static_cast<unsigned char>(c));
  return ~(((x & kLows) + kLows) | x) & kHighs;
}

// Gathers the high bits of the eight bytes into bits 0 to 7.
constexpr unsigned Gather(std::uint64_t highBits) {
  return static_cast<unsigned>((((highBits & kHighs) >> 7) * 0x0102040810204080ull) >> 56);
}

BlockMarks MarkBlock(const char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, 8);
  const std::uint64_t escapes = ByteMask(word, '\\') | ByteMask(word, '(') | ByteMask(word, ')');
  return {Gather(escapes), Gather(word)};
}

unsigned ControlMarks(const char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, 8);
  return Gather(ByteMask(word, '\0') | ByteMask(word, '\t') | ByteMask(word, '\f'));
}

#endif

// The number of bits set in a block's marks, without a library call on
// processors where the compiler may not assume a population-count instruction.
constexpr std::size_t CountBits(unsigned marks) {
  static_assert(kBlock <= 16);
  unsigned x = marks - ((marks >> 1) & 0x5555u);
  x = (x & 0x3333u) + ((x >> 2) & 0x3333u);
  x = (x + (x >> 4)) & 0x0F0Fu;
  return (x + (x >> 8)) & 0x1Fu;
}

}  // namespace

EscapeScan ScanForEscapes(std::string_view text) {
  // A block at a time, then the rest byte by byte.
  std::size_t added = 0;
  unsigned highs = 0;
  std::size_t i = 0;
  for (; i + kBlock <= text.size(); i += kBlock) {
    const BlockMarks marks = MarkBlock(text.data() + i);
    added += CountBits(marks.escapes);
    highs |= marks.highs;
  }
  for (; i < text.size(); ++i) {
    highs |= static_cast<unsigned char>(text[i]) >> 7;
    added += kEscaped[text[i]];
  }
  return {added, highs == 0};
}

namespace {

// Escapes the bytes from `from` on of the block at `p`, whose bytes to escape are
// marked in `escapes` (none below `from`). Copies whole blocks from a copy of the
// block, so that every store has a fixed size; each store may reach up to a
// block past the bytes it means.
// `source` holds the block's bytes and a block more after them: the text
// itself where it goes on for that long, else a copy of the block.
char* EscapeFrom(char* out, const char* source, unsigned escapes, unsigned from) {
  while (escapes != 0) {
    const unsigned k = static_cast<unsigned>(std::countr_zero(escapes));
    escapes &= escapes - 1;
    std::memcpy(out, source + from, kBlock);
    out += k - from;
    *out++ = '\\';
    from = k;
  }
  std::memcpy(out, source + from, kBlock);
  return out + (kBlock - from);
}

char* EscapeBlock(char* out, const char* p, unsigned escapes, unsigned from) {
  char block[2 * kBlock] = {};
  std::memcpy(block, p, kBlock);
  return EscapeFrom(out, block, escapes, from);
}

}  // namespace

char* EscapeInto(char* out, std::string_view text, bool& plain) {
  // Each of \\ ( and ) gets one backslash in front of it: the same as replacing
  // backslashes first, then "(", then ")". Blocks without any of them are copied
  // whole; the last partial block is taken as the block that ends with the text,
  // minus the bytes already done.
  const char* p = text.data();
  const std::size_t size = text.size();
  unsigned odd = 0;  // marks of bytes of 0x80 and above, NULs, tabs and form feeds
  if (size < kBlock) {
    for (std::size_t i = 0; i < size; ++i) {
      *out = '\\';
      out += kEscaped[p[i]];
      *out++ = p[i];
      odd |= (static_cast<unsigned char>(p[i]) >> 7) | (p[i] == '\0') | (p[i] == '\t') | (p[i] == '\f');
    }
    plain = odd == 0;
    return out;
  }
  std::size_t i = 0;
  for (; i + kBlock <= size; i += kBlock) {
    const BlockMarks marks = MarkBlock(p + i);
    odd |= marks.highs | ControlMarks(p + i);
    if (marks.escapes == 0) {
      std::memcpy(out, p + i, kBlock);
      out += kBlock;
    } else if (i + 2 * kBlock <= size) {
      // Read straight from the text: a copy just stored could not be read
      // back at once at an unaligned place, which costs more than the copy.
      out = EscapeFrom(out, p + i, marks.escapes, 0);
    } else {
      out = EscapeBlock(out, p + i, marks.escapes, 0);
    }
  }
  if (i < size) {
    const unsigned from = static_cast<unsigned>(kBlock - (size - i));
    const BlockMarks marks = MarkBlock(p + size - kBlock);
    odd |= (marks.highs | ControlMarks(p + size - kBlock)) >> from;
    out = EscapeBlock(out, p + size - kBlock, marks.escapes >> from << from, from);
  }
  plain = odd == 0;
  return out;
}

void AppendEscaped(std::string& out, std::string_view text) {
  const std::size_t old = out.size();
  const std::size_t escaped = text.size() + ScanForEscapes(text).added;
  out.resize(old + escaped + kEscapeSlack);
  bool plain;
  EscapeInto(out.data() + old, text, plain);
  out.resize(old + escaped);
}

std::string EscapeLiteral(std::string_view text) {
  std::string out;
  AppendEscaped(out, text);
  return out;
}

ByteKinds KindsOfBytes(std::string_view text) {
#if defined(__SSE2__) && !defined(SCRIVANE_PORTABLE_SCAN)
  if (text.size() >= kBlock) {
    // A block at a time, the last one ending with the text: the bytes it sees
    // again change nothing.
    const char* p = text.data();
    const __m128i limit = _mm_set1_epi8(0x1F);
    __m128i all = _mm_setzero_si128();       // every byte or-ed in
    __m128i controls = _mm_setzero_si128();  // 0xFF where a byte is at most 0x1F
    auto look = [&](const char* at) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
      all = _mm_or_si128(all, v);
      controls = _mm_or_si128(controls, _mm_cmpeq_epi8(_mm_min_epu8(v, limit), v));
    };
    std::size_t i = 0;
    for (; i + kBlock <= text.size(); i += kBlock) look(p + i);
    if (i < text.size()) look(p + text.size() - kBlock);
    return {_mm_movemask_epi8(all) != 0, _mm_movemask_epi8(controls) != 0};
  }
#endif
  // Eight bytes at a time: a byte below 0x20 borrows when 0x20 is taken from
  // it, which sets its high bit where it had none.
  constexpr std::uint64_t kBlanks = 0x2020202020202020ull;
  std::uint64_t highs = 0;
  std::uint64_t controls = 0;
  std::size_t i = 0;
  for (std::uint64_t word; i + 8 <= text.size(); i += 8) {
    std::memcpy(&word, text.data() + i, 8);
    highs |= word;
    controls |= (word - kBlanks) & ~word;
  }
  ByteKinds kinds{(highs & kHighs) != 0, (controls & kHighs) != 0};
  for (; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    kinds.high = kinds.high || c >= 0x80;
    kinds.control = kinds.control || c < 0x20;
  }
  return kinds;
}

std::string_view TrimSpaces(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
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
  // The table's characters lie in three stretches; most others are far from them.
  if (c > 0x2122 || (c > 0x9F && c < 0x152) || (c > 0x2DC && c < 0x2013)) return '?';
  for (int i = 0; i < 32; ++i) {
    if (kHighControls[i] == c) return static_cast<char>(0x80 + i);
  }
  return '?';
}

}  // namespace

bool Windows1252Byte(char32_t c, char& byte) {
  byte = ToCp1252(c);
  return byte != '?' || c == U'?';
}

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

namespace {

// The character a single Windows-1252 byte stands for.
char32_t FromCp1252(unsigned char c) {
  if (c >= 0x80 && c < 0xA0) return kHighControls[c - 0x80];
  return c;
}

void AppendHexUnit(std::string& out, char32_t unit) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  for (int shift = 12; shift >= 0; shift -= 4) out += kDigits[(unit >> shift) & 0xF];
}

}  // namespace

std::string InfoString(std::string_view value) {
  if (IsAscii(value)) return "(" + EscapeLiteral(value) + ")";
  std::string out = "<FEFF";
  out.reserve(5 + 8 * value.size() + 1);
  for (std::size_t i = 0; i < value.size();) {
    char32_t cp;
    std::size_t len = DecodeUtf8(value, i, cp);
    if (len == 0) {
      cp = FromCp1252(static_cast<unsigned char>(value[i]));
      len = 1;
    }
    if (cp >= 0x10000) {
      // Outside the basic plane: a surrogate pair.
      const char32_t v = cp - 0x10000;
      AppendHexUnit(out, 0xD800 + (v >> 10));
      AppendHexUnit(out, 0xDC00 + (v & 0x3FF));
    } else {
      AppendHexUnit(out, cp);
    }
    i += len;
  }
  out += '>';
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

namespace {

// The length of the UTF-8 sequence that a byte begins, 0 for a byte that begins none.
std::size_t SequenceLength(unsigned char c) {
  if (c < 0x80) return 1;
  if ((c & 0xE0) == 0xC0) return 2;
  if ((c & 0xF0) == 0xE0) return 3;
  if ((c & 0xF8) == 0xF0) return 4;
  return 0;
}

}  // namespace

void LineFacts::add(std::string_view block) {
  const std::uint64_t at = length;
  length += block.size();
  formFeeds += static_cast<std::uint64_t>(std::count(block.begin(), block.end(), '\f'));
  if (const std::size_t last = block.find_last_not_of(' '); last != std::string_view::npos) {
    textEnd = at + last + 1;
  }
  if (!nul && block.find('\0') != std::string_view::npos) nul = true;
  if (!utf8) return;
  std::size_t i = 0;
  if (pendingSize_ > 0) {
    // Complete the sequence that the last block cut short.
    const std::size_t need = SequenceLength(static_cast<unsigned char>(pending_[0]));
    while (pendingSize_ < need && i < block.size()) pending_[pendingSize_++] = block[i++];
    if (pendingSize_ < need) return;
    char32_t c;
    if (DecodeUtf8(std::string_view(pending_, pendingSize_), 0, c) == 0) {
      utf8 = false;
      return;
    }
    char byte;
    if (!Windows1252Byte(c, byte)) lacking_ = true;
    pendingSize_ = 0;
  }
  block.remove_prefix(i);
  if (IsAscii(block)) return;
  ascii = false;
  for (std::size_t k = 0; k < block.size();) {
    if (static_cast<unsigned char>(block[k]) < 0x80) {
      ++k;
      continue;
    }
    char32_t c;
    const std::size_t len = DecodeUtf8(block, k, c);
    if (len == 0) {
      const std::size_t need = SequenceLength(static_cast<unsigned char>(block[k]));
      bool cutShort = need > 1 && k + need > block.size();
      for (std::size_t j = k + 1; cutShort && j < block.size(); ++j) {
        cutShort = (static_cast<unsigned char>(block[j]) & 0xC0) == 0x80;
      }
      if (!cutShort) {
        utf8 = false;
        return;
      }
      pendingSize_ = block.size() - k;
      std::memcpy(pending_, block.data() + k, pendingSize_);
      return;
    }
    char byte;
    if (!Windows1252Byte(c, byte)) lacking_ = true;
    k += len;
  }
}

void LineFacts::finish() {
  if (pendingSize_ > 0) utf8 = false;
  needsFonts = utf8 && lacking_;
}

namespace {

// Decodes UTF-8 given in parts: `valid` gets the character of each well-formed
// sequence, `invalid` each byte that begins no sequence or one that does not go
// on as it should. A sequence that the end of the part cuts short waits in
// `pending` for the next part.
template <typename Valid, typename Invalid>
void DecodeLeniently(std::string& pending, std::string_view part, Valid valid, Invalid invalid) {
  std::size_t i = 0;
  if (!pending.empty()) {
    const std::size_t need = SequenceLength(static_cast<unsigned char>(pending[0]));
    while (pending.size() < need && i < part.size() &&
           (static_cast<unsigned char>(part[i]) & 0xC0) == 0x80) {
      pending += part[i++];
    }
    if (pending.size() < need && i == part.size()) return;
    char32_t c;
    if (pending.size() == need && DecodeUtf8(pending, 0, c) != 0) {
      valid(c);
    } else {
      for (const char b : pending) invalid(static_cast<unsigned char>(b));
    }
    pending.clear();
  }
  while (i < part.size()) {
    const auto byte = static_cast<unsigned char>(part[i]);
    if (byte < 0x80) {
      valid(byte);
      ++i;
      continue;
    }
    char32_t c;
    const std::size_t len = DecodeUtf8(part, i, c);
    if (len != 0) {
      valid(c);
      i += len;
      continue;
    }
    const std::size_t need = SequenceLength(byte);
    bool cutShort = need > 1 && i + need > part.size();
    for (std::size_t j = i + 1; cutShort && j < part.size(); ++j) {
      cutShort = (static_cast<unsigned char>(part[j]) & 0xC0) == 0x80;
    }
    if (cutShort) {
      pending.assign(part.substr(i));
      return;
    }
    invalid(byte);
    ++i;
  }
}

}  // namespace

void AppendWindows1252Leniently(std::string& out, std::string& pending, std::string_view part) {
  DecodeLeniently(
      pending, part, [&](char32_t c) { out += ToCp1252(c); },
      [&](unsigned char byte) { out += static_cast<char>(byte); });
}

void AppendCharactersLeniently(std::u32string& out, std::string& pending, std::string_view part) {
  DecodeLeniently(
      pending, part, [&](char32_t c) { out += c; }, [&](unsigned char byte) { out += FromCp1252(byte); });
}

void FinishCharacters(std::u32string& out, std::string& pending) {
  for (const char b : pending) out += FromCp1252(static_cast<unsigned char>(b));
  pending.clear();
}

bool NeedsFonts(std::string_view line) {
  if (IsAscii(line)) return false;
  LineFacts facts;
  facts.add(line);
  facts.finish();
  return facts.needsFonts;
}

void AppendWindows1252(std::string& out, std::string& pending, std::string_view part) {
  std::size_t i = 0;
  if (!pending.empty()) {
    const std::size_t need = SequenceLength(static_cast<unsigned char>(pending[0]));
    while (pending.size() < need && i < part.size()) pending += part[i++];
    if (pending.size() < need) return;
    char32_t c = U'?';
    if (DecodeUtf8(pending, 0, c) == 0) c = U'?';  // only when the file changed under us
    out += ToCp1252(c);
    pending.clear();
  }
  for (; i < part.size();) {
    if (static_cast<unsigned char>(part[i]) < 0x80) {
      out += part[i++];
      continue;
    }
    char32_t c;
    const std::size_t len = DecodeUtf8(part, i, c);
    if (len == 0) {
      // Well-formed text: only the end of the part cuts a sequence short.
      pending.assign(part.substr(i));
      return;
    }
    out += ToCp1252(c);
    i += len;
  }
}

bool TextNeedingFonts(std::string_view line, std::u32string& text) {
  text.clear();
  if (IsAscii(line)) return false;
  // No more characters than bytes: decoded straight into the text's storage.
  text.resize(line.size());
  char32_t* out = text.data();
  const auto* bytes = reinterpret_cast<const unsigned char*>(line.data());
  const std::size_t n = line.size();
  bool needed = false;
  for (std::size_t i = 0; i < n;) {
    const unsigned char b = bytes[i];
    if (b < 0x80) {
      *out++ = b;
      ++i;
      continue;
    }
    char32_t c;
    std::size_t length;
    if (b >= 0xC2 && b <= 0xDF && i + 1 < n && (bytes[i + 1] & 0xC0) == 0x80) {
      // Two bytes, the most common sequence: never overlong from 0xC2 on.
      c = (static_cast<char32_t>(b & 0x1F) << 6) | (bytes[i + 1] & 0x3F);
      length = 2;
    } else if (b >= 0xE0 && b <= 0xEF && i + 2 < n && (bytes[i + 1] & 0xC0) == 0x80 &&
               (bytes[i + 2] & 0xC0) == 0x80 &&
               (c = (static_cast<char32_t>(b & 0x0F) << 12) |
                    (static_cast<char32_t>(bytes[i + 1] & 0x3F) << 6) | (bytes[i + 2] & 0x3F),
                c >= 0x800 && (c < 0xD800 || c > 0xDFFF))) {
      // Three bytes (the rest of the Basic Multilingual Plane), neither overlong nor a surrogate.
      length = 3;
    } else {
      length = DecodeUtf8(line, i, c);
      if (length == 0) {  // not UTF-8: 8-bit text, as it always was
        text.clear();
        return false;
      }
    }
    if (!needed) {
      char byte;
      needed = !Windows1252Byte(c, byte);
    }
    *out++ = c;
    i += length;
  }
  text.resize(static_cast<std::size_t>(out - text.data()));
  return needed;
}

std::optional<std::u32string> TextNeedingFonts(std::string_view line) {
  std::u32string text;
  if (!TextNeedingFonts(line, text)) return std::nullopt;
  return text;
}

}  // namespace scrivane
