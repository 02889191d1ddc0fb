#pragma once

// Turns a line of Unicode text into what the page shows: runs in visual order,
// each either Windows-1252 text in the classic font F1 or glyphs of an embedded
// font, shaped by HarfBuzz in their script and ordered by FriBidi.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "writer/font_module.h"
#include "writer/fonts.h"

struct hb_buffer_t;
struct hb_set_t;

namespace scrivane {

// Where a line may be cut: entry i is true when a cut may fall before character
// i, that is, not inside a cluster (before a combining mark or a joiner, after a
// joiner or a virama).
std::vector<bool> CutPoints(std::u32string_view text);

class LineShaper {
 public:
  // With `reuse`, runs shaped before and characters shaped alone are used
  // again where that gives what shaping anew gives; without, every run is
  // shaped anew (to compare against).
  explicit LineShaper(FontSet& fonts, bool reuse = true);
  ~LineShaper();
  LineShaper(const LineShaper&) = delete;
  LineShaper& operator=(const LineShaper&) = delete;

  // Lays out one line, as it will stand on the page, in visual order. The
  // runs stay valid until the next line is shaped.
  const std::vector<ShownRun>& shape(std::u32string_view text);
  const MissingGlyphs& missing() const { return missing_; }

 private:
  void shapeRun(std::u32string_view text, std::size_t lo, std::size_t hi, bool rtl,
                std::uint32_t script, ShownRun& run);
  // Puts the glyphs of text[lo, hi) into placed_ from the characters' shapes
  // alone, left to right; false, when that might not give what shaping the
  // whole run gives.
  bool joinCharacters(std::u32string_view text, std::size_t lo, std::size_t hi,
                      std::uint32_t script, int fontIndex);

  FontSet& fonts_;
  bool reuse_;
  hb_buffer_t* buffer_;
  MissingGlyphs missing_;

  // Runs shaped before, for the scripts whose shaping never looks past the
  // run, keyed by font, script, direction and the run's characters (key_): an
  // open-addressed table whose keys and glyphs lie in two arrays.
  struct KeptRun {
    std::uint64_t hash = 0;
    std::uint32_t keyAt = 0, keyLength = 0;  // a length of 0 marks a free slot
    std::uint32_t glyphsAt = 0, glyphCount = 0;
    std::int32_t after = 0;
  };
  const KeptRun* findKept(std::uint64_t hash) const;
  void keepRun(std::uint64_t hash, const ShownRun& run);
  std::vector<KeptRun> kept_;
  std::size_t keptCount_ = 0;
  std::u32string keptKeys_;
  std::vector<ShownRun::Glyph> keptGlyphs_;
  std::u32string key_;
  std::vector<std::uint64_t> seenOnce_;

  // Scratch space of one line and one run, kept so that its storage is too.
  std::vector<ShownRun> runs_;
  std::vector<std::uint32_t> types_;
  std::vector<std::int8_t> levels_;
  std::vector<std::int32_t> order_;
  std::vector<int> font_;
  std::vector<std::uint32_t> script_;
  // What HarfBuzz gives for a glyph, in font units.
  struct PlacedGlyph {
    std::uint32_t gid = 0;
    std::uint32_t cluster = 0;  // the index of its first character in the line
    std::int32_t xAdvance = 0, xOffset = 0, yOffset = 0;
  };
  std::vector<PlacedGlyph> placed_;
  // Characters shaped alone, keyed by font, script and character; `clear`
  // when the glyph may be put beside others as it is.
  struct Alone {
    PlacedGlyph glyph;
    bool clear = false;
  };
  std::unordered_map<std::uint64_t, Alone> alone_;
  // By font and script (font << 32 | script), once known: the glyphs that
  // the lookups applied touch, or null when such runs are always shaped whole.
  std::unordered_map<std::uint64_t, hb_set_t*> lookupGlyphs_;

  std::vector<unsigned> byCluster_;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> glyphText_;
  std::u32string reversed_;
};

}  // namespace scrivane
