#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace scrivane {

class FontEngine;

// No cluster takes more characters than this: a longer one (a letter with a
// pile of marks) is cut there, as if another cluster began.
inline constexpr std::size_t kLongestCluster = 32;

// Applies that limit to the cut points of a text (entry j: a cut may fall
// before character j). `run` says how many characters the cluster that ends
// with the text's first character has, and becomes the same for its last, so
// that the texts of a line looked at one after another (each beginning with
// the last character of the one before) are cut as the whole line is.
void LimitClusters(std::vector<bool>& cuts, std::size_t& run);

// The next line whole, or its first part when it is longer than `piece`
// bytes (`whole` false; `gathered` holds the part, and `raw` views it); false
// at the end.
bool NextLine(platform::LineReader& in, std::string_view& raw, std::string& gathered, bool& whole,
              std::size_t piece);

// The text without the blanks at both ends.
std::u32string_view TrimBlanks(std::u32string_view text);

// Where the classic layout cuts a piece of at most `width` characters from
// `text` at `start` when more than that is left: just after the last break
// character in the second half of the width, else at the last cluster's start
// within it; 0 when a cluster takes the whole width. `cuts` are the text's cut
// points (entry j for text[j]).
std::size_t ClassicCutWithin(std::u32string_view text, std::size_t start, std::size_t width,
                             const std::vector<bool>& cuts);

// The same, else after the one cluster that is longer. Gives the piece's
// length, or 0 when that cluster takes the rest and the rest stays whole.
std::size_t ClassicCut(std::u32string_view text, std::size_t start, std::size_t width,
                       const std::vector<bool>& cuts);

// No piece of a line takes more characters: text that takes no width (marks,
// joiners) is cut there even when more of it would fit.
inline constexpr std::size_t kLongestPiece = std::size_t{1} << 16;

// The characters of a line that needs embedded fonts and is too long to be
// held whole: decoded from its bytes as the layout asks for them, into a
// window that starts where the line's next piece starts. The window holds
// the characters as the layout of a whole line sees them: form feeds dropped
// where they are no characters, blanks at both ends trimmed, tabs made
// blanks. Blanks are held as a count until text follows them, so that a long
// run of them takes no room and the run that ends the line can be dropped.
class LongFontLine {
 public:
  struct Shape {
    bool trim = true;            // blanks at both ends are dropped
    int tabSize = 0;             // tabs are blanks up to the next stop of so many columns
    bool dropFormFeeds = false;  // form feeds are no characters
  };
  // `first` holds the line's first bytes, and `in` (when not null) gives the
  // rest; both must stay as they are while the line is read.
  LongFontLine(platform::LineReader* in, std::string_view first, const Shape& shape, FontEngine& fonts);

  // At least `n` characters from the window's start; false when the line ends
  // before, and the window then holds all the rest of it.
  bool need(std::size_t n);
  std::u32string_view view() const { return std::u32string_view(window_).substr(start_); }
  // The window moves on by `n` characters.
  void drop(std::size_t n);
  // The position of the window's start in the line.
  std::uint64_t dropped() const { return dropped_; }
  // Whether only blanks follow the window's start; decodes as far as it must.
  bool onlyBlanksLeft();
  // Whether the line has any character but form feeds; decodes as far as it must.
  bool anyCharacter();
  std::uint64_t formFeedsRead() const { return formFeeds_; }
  // Whether a NUL byte was read.
  bool sawNul() const { return nul_; }

 private:
  // Text after `spaces` blanks, waiting to enter the window.
  struct Segment {
    std::uint64_t spaces = 0;
    std::u32string text;
  };
  // Decodes the next bytes; false at the end of the line.
  bool decode();
  void addSpaces(std::uint64_t count);
  void addText(char32_t c);

  platform::LineReader* in_;
  std::string_view bytes_;  // not yet decoded
  bool lastPart_;           // bytes_ end the line
  Shape shape_;
  FontEngine& fonts_;

  std::u32string window_;
  std::size_t start_ = 0;  // the window begins at window_[start_]
  std::uint64_t dropped_ = 0;
  std::deque<Segment> pending_;
  std::uint64_t held_ = 0;  // blanks that no text has followed yet
  bool done_ = false;       // every byte is decoded
  bool leading_ = true;     // no text yet: blanks are dropped
  bool anyCharacter_ = false;
  std::uint64_t column_ = 0;  // for tabs: the columns that the line takes so far
  char32_t before_ = 0;       // the character before the ones being decoded
  std::size_t cluster_ = 1;   // the characters of its cluster
  std::uint64_t formFeeds_ = 0;
  bool nul_ = false;
  std::string partial_;  // a UTF-8 sequence that a part cuts short
  std::u32string decoded_;
  std::u32string kept_;
};

}  // namespace scrivane
