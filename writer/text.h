#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace scrivane {

// The characters after which a long line may be cut.
inline constexpr std::string_view kBreakCharacters = "*&^%$#,. ;<=>[])}!\"";

inline constexpr auto kBreakTable = [] {
  struct Table {
    bool marks[256] = {};
  } table;
  for (char c : kBreakCharacters) table.marks[static_cast<unsigned char>(c)] = true;
  return table;
}();

inline bool IsBreakCharacter(char c) { return kBreakTable.marks[static_cast<unsigned char>(c)]; }

// Every occurrence of TextToReplace, from left to right and never overlapping,
// replaced by NewText; inserted text is not searched again. An empty
// TextToReplace leaves Text unchanged.
std::string ReplaceText(const std::string& Text, const std::string& TextToReplace,
                        const std::string& NewText);

// Escapes a text for a PDF literal string: a backslash before every backslash and
// parenthesis. AppendEscaped adds the escaped text to `out`.
void AppendEscaped(std::string& out, std::string_view text);
std::string EscapeLiteral(std::string_view text);

// What escaping a text involves: the number of backslashes it gains, and whether
// it holds only bytes below 0x80.
struct EscapeScan {
  std::size_t added = 0;
  bool ascii = true;
};
EscapeScan ScanForEscapes(std::string_view text);
// Writes the escaped text at `out` and returns the end of what it wrote; tells
// whether the text is plain: only bytes below 0x80, none of them a NUL, a tab
// or a form feed. `out` must have room for the escaped text (at most twice the
// text) and kEscapeSlack bytes more, which it may overwrite.
inline constexpr std::size_t kEscapeSlack = 16;
char* EscapeInto(char* out, std::string_view text, bool& plain);

// Whether a text holds only bytes below 0x80.
bool IsAscii(std::string_view text);
// The text without the blanks around it.
std::string_view TrimSpaces(std::string_view text);
// Whether a text has bytes of 0x80 and above, and whether it has control
// characters (below a blank: tabs, form feeds, NUL), in one look.
struct ByteKinds {
  bool high = false;
  bool control = false;
};
ByteKinds KindsOfBytes(std::string_view text);

// Decodes the UTF-8 sequence at s[i] into `out` and returns its length, or 0
// when no valid sequence starts there (overlong forms, surrogates and code
// points past U+10FFFF are not valid).
std::size_t DecodeUtf8(std::string_view s, std::size_t i, char32_t& out);

// Windows-1252 bytes for a text: a valid UTF-8 text holding any byte of 0x80 or
// above is transcoded ("?" for characters without a code), anything else is
// taken as it stands.
std::string ToWindows1252(std::string_view text);

// What the layout must know of a whole line before it lays out its first piece,
// gathered from the line's bytes block by block, so that a line too long to be
// held need not be held.
struct LineFacts {
  std::uint64_t length = 0;
  std::uint64_t formFeeds = 0;
  std::uint64_t textEnd = 0;  // the offset just past the last byte that is no blank
  bool ascii = true;          // only bytes below 0x80
  bool utf8 = true;           // well-formed UTF-8 (so far)
  bool nul = false;           // a NUL byte
  // Well-formed UTF-8 with a character that Windows-1252 lacks: what
  // TextNeedingFonts finds; valid once `finish` has been called.
  bool needsFonts = false;

  void add(std::string_view block);
  // Whether the text added so far is UTF-8 with a character that Windows-1252
  // lacks, a sequence cut short at its end aside.
  bool needsFontsSoFar() const { return utf8 && lacking_; }
  // The end of the line: a sequence cut short there is not UTF-8.
  void finish();

 private:
  bool lacking_ = false;
  char pending_[4] = {};
  std::size_t pendingSize_ = 0;
};

// Appends the Windows-1252 bytes of well-formed UTF-8 given in parts: a
// sequence that a part cuts short waits in `pending` for the next part.
void AppendWindows1252(std::string& out, std::string& pending, std::string_view part);
// The same for text not known to be well formed: a byte that begins no
// sequence, or one that does not go on as it should, is kept as it is.
void AppendWindows1252Leniently(std::string& out, std::string& pending, std::string_view part);

// Appends the characters of UTF-8 text given in parts, as
// AppendWindows1252Leniently does: a sequence that a part cuts short waits in
// `pending`, and a byte that begins no sequence, or one that does not go on as
// it should, stands for its Windows-1252 character. At the end of the text,
// FinishCharacters gives the bytes still waiting their characters.
void AppendCharactersLeniently(std::u32string& out, std::string& pending, std::string_view part);
void FinishCharacters(std::u32string& out, std::string& pending);

// Whether a line is valid UTF-8 holding a character that Windows-1252 lacks,
// found without decoding it into storage of its own.
bool NeedsFonts(std::string_view line);

// Whether Windows-1252 has a code for the character, and that code.
bool Windows1252Byte(char32_t c, char& byte);

// The characters of a line that is valid UTF-8 and holds at least one character
// Windows-1252 lacks; nothing for every other line, which the classic path shows.
std::optional<std::u32string> TextNeedingFonts(std::string_view line);
// The same into `text`, whose storage is reused; true when the line needs fonts.
bool TextNeedingFonts(std::string_view line, std::u32string& text);

// A document information value as a PDF string: an ASCII value as a literal
// string, escaped as the text lines are; any other value as a hexadecimal
// string of its UTF-16BE form after the byte-order mark (<FEFF...>), because
// readers take literal Info strings as PDFDocEncoding, not Windows-1252. The
// value is read as UTF-8; a byte that starts no valid sequence stands for its
// Windows-1252 character.
std::string InfoString(std::string_view value);

// Shortest decimal text of a fixed-point count of ten-thousandths (12, 13.2, -0.5).
std::string FixedText(std::int64_t tenThousandths);
// Shortest decimal text of a double in plain notation (306, 297.5).
std::string DoubleText(double value);
// Rounds to the nearest integer, ties to even; throws "Overflow" outside 32 bits.
std::int32_t RoundToInt32(double value);

}  // namespace scrivane
