#pragma once

// The fonts that option mode embeds for text that Windows-1252 cannot show:
// chosen through fontconfig, read with FreeType and HarfBuzz, and subset with
// HarfBuzz once the last page is written.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "writer/font_module.h"

struct hb_font_t;
struct hb_face_t;

namespace scrivane {

// Whether the font has the table `tag` (an hb_tag_t), and it is not empty.
bool HasTable(hb_face_t* face, std::uint32_t tag);

// One font file opened for shaping and embedding. Glyphs are shown by codes of
// two bytes that this object gives out: one code for each glyph with the text it
// stands for, so that the text layer maps every drawn glyph back to exactly its
// characters, even where one glyph stands for different texts.
class EmbeddedFont {
 public:
  // Opens face `index` of a font file; throws Failure when it cannot be used.
  EmbeddedFont(const std::string& path, int index);
  ~EmbeddedFont();
  EmbeddedFont(const EmbeddedFont&) = delete;
  EmbeddedFont& operator=(const EmbeddedFont&) = delete;

  const std::string& path() const { return path_; }
  hb_font_t* hbFont() const { return font_; }
  std::uint32_t unitsPerEm() const { return upem_; }
  bool hasChar(char32_t c) const;
  // The glyph's advance in thousandths of an em, as the /W array gives it.
  std::int32_t width(std::uint32_t gid) const;
  // The same, remembered per glyph: for the glyphs of the text as it is shown.
  std::int32_t shownWidth(std::uint32_t gid);
  // The width of the glyph that a code given out by codeFor shows.
  std::int32_t codeWidth(std::uint16_t code) {
    return shownWidth(cff_ ? code : codes_[static_cast<std::size_t>(code) - 1].first);
  }
  // The code that shows glyph `gid` standing for `text`.
  std::uint16_t codeFor(std::uint32_t gid, std::u32string_view text);
  bool used() const { return !codes_.empty(); }
  std::size_t codeCount() const { return codes_.size(); }
  // The glyph and text of each code, in the order given out: code k is entry
  // k - 1, or for a CFF program the glyph number.
  const std::vector<std::pair<std::uint32_t, std::u32string>>& codes() const { return codes_; }
  bool codesAreGlyphs() const { return cff_; }
  // Subsets the font to the glyphs used and gives its objects' contents.
  FontObjects finish() const;

 private:
  std::string path_;
  int index_ = 0;
  hb_face_t* face_ = nullptr;
  hb_font_t* font_ = nullptr;
  std::uint32_t upem_ = 1000;
  std::uint32_t glyphCount_ = 0;
  bool cff_ = false;
  // Codes in the order they were given out; code k is entry k - 1.
  std::vector<std::pair<std::uint32_t, std::u32string>> codes_;
  // The code of a glyph standing for no character or one: the glyph number in
  // the high half, the character (or kNoCharacter) in the low one.
  std::unordered_map<std::uint64_t, std::uint16_t> shortCodeOf_;
  // The code of a glyph standing for more characters, keyed by the glyph
  // number followed by the characters.
  struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::u32string_view key) const {
      return std::hash<std::u32string_view>{}(key);
    }
  };
  std::unordered_map<std::u32string, std::uint16_t, KeyHash, std::equal_to<>> longCodeOf_;
  std::u32string key_;                     // scratch for looking up longCodeOf_
  std::vector<bool> cffGlyphSeen_;         // a CFF font's glyphs that have their text
  std::vector<std::int32_t> shownWidths_;  // by glyph number; kUnknownWidth until asked for
};

// The fonts of one conversion, in the order they are tried for a character: a
// font file the user gave, then what fontconfig finds for the chosen standard
// font (Courier: monospace, Times-Roman: serif, Arial: sans-serif, Liberation
// first), then every installed font that covers what those lack.
class FontSet {
 public:
  // Throws Failure when the user's font file cannot be used.
  FontSet(const std::string& standardFont, const std::optional<std::string>& fontFile);
  // The same fonts in the same order, none of them opened yet (but the user's
  // font file, opened anew); throws Failure when that file cannot be used.
  struct Alike {};
  FontSet(const FontSet& same, Alike);
  ~FontSet();
  FontSet(const FontSet&) = delete;
  FontSet& operator=(const FontSet&) = delete;

  // The font that draws a character (preferring `preferred` when it has it), or
  // -1 when no installed font has it.
  int fontFor(char32_t c, int preferred) {
    // Most characters stay in the font before them, known to have them.
    if (preferred >= 0 && c < 0x10000 && static_cast<std::size_t>(preferred) < hasInPlane0_.size()) {
      const std::uint8_t* has = hasInPlane0_[static_cast<std::size_t>(preferred)];
      if (has != nullptr && has[c] == 1) return preferred;
    }
    return chooseFont(c, preferred);
  }
  // The font that draws missing glyphs as its box; -1 when there is no font at all.
  int fallbackFont();
  // A font of the set, opened where it was not; throws Failure when it cannot be.
  EmbeddedFont& font(int index);
  // The fonts in the order of their first use; the first is named /F2.
  const std::vector<int>& usedOrder() const { return usedOrder_; }
  // The resource number (2 for /F2) of a font, given out at its first use.
  int resourceNumber(int index);

 private:
  struct Candidate;
  // `remember`: kept for the next question, for the few fonts asked about
  // every character (the preferred ones).
  bool candidateHas(std::size_t k, char32_t c, bool remember = false);
  EmbeddedFont* load(std::size_t k);
  int chooseFont(char32_t c, int preferred);

  std::vector<std::unique_ptr<Candidate>> candidates_;
  std::vector<int> usedOrder_;
  // Each candidate's table of what it has of the Basic Multilingual Plane
  // (Candidate::hasInPlane0), once made; null before.
  std::vector<const std::uint8_t*> hasInPlane0_;
  // The font chosen for a character without a preference: for the Basic
  // Multilingual Plane by a table (kUnchosen until asked; while the fonts are
  // few enough for it), beyond it by a map.
  std::vector<std::int16_t> chosenInPlane0_;
  std::map<char32_t, int> chosenBeyond_;
  std::optional<int> fallback_;
};

}  // namespace scrivane
