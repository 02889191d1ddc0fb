#pragma once

// Turns a line of Unicode text into what the page shows: runs in visual order,
// each either Windows-1252 text in the classic font F1 or glyphs of an embedded
// font, shaped by HarfBuzz in their script and ordered by FriBidi.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "writer/flat_table.h"
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
  std::span<const ShownRun> shape(std::u32string_view text);
  const MissingGlyphs& missing() const { return missing_; }
  // Counts characters that no installed font has, met elsewhere.
  void noteMissing(std::size_t count, std::u32string_view first);

 private:
  void shapeRun(std::u32string_view text, std::size_t lo, std::size_t hi, bool rtl,
                std::uint32_t script, ShownRun& run);
  // Shapes text[lo, hi) as a whole with HarfBuzz, into `run`.
  void shapeWhole(std::u32string_view text, std::size_t lo, std::size_t hi, bool rtl,
                  std::uint32_t script, ShownRun& run);
  // Shows text[lo, hi) from the characters' shapes alone, left to right, into
  // `run`; false, when that might not give what shaping the whole run gives.
  bool joinCharacters(std::u32string_view text, std::size_t lo, std::size_t hi,
                      std::uint32_t script, ShownRun& run);

  FontSet& fonts_;
  bool reuse_;
  hb_buffer_t* buffer_;
  MissingGlyphs missing_;

  // What the line needs to know of a character, looked up once: its script,
  // whether Windows-1252 has it (and its byte there), whether it is a mark,
  // and whether it makes the line one for FriBidi.
  struct CharFacts {
    std::uint32_t script = 0;
    char byte = 0;
    std::uint8_t flags = 0;
  };
  static constexpr std::uint8_t kClassic = 1, kMark = 2, kNeedsBidi = 4, kResolved = 8;
  // Set in the facts of every character once they are looked up.
  static constexpr std::uint8_t kKnown = 32;
  // A blank (a space separator).
  static constexpr std::uint8_t kBlank = 64;
  // Set in a line's flags, not in a character's facts: shown in the font of
  // its neighbours instead of F1, in a run of its own.
  static constexpr std::uint8_t kOwnRun = 16;
  static CharFacts factsFor(char32_t c);
  const CharFacts& factsOf(char32_t c) {
    if (c < 0x10000) {
      std::unique_ptr<CharFacts[]>& block = factBlocks_[c >> 8];
      if (!block) block = std::make_unique<CharFacts[]>(0x100);
      CharFacts& f = block[c & 0xFF];
      if ((f.flags & kKnown) == 0) f = factsFor(c);
      return f;
    }
    beyond_ = factsFor(c);
    return beyond_;
  }
  // The Basic Multilingual Plane in blocks of 256 characters, each character
  // looked up at its first use (a line of Chinese touches many blocks, and
  // few characters of each).
  std::array<std::unique_ptr<CharFacts[]>, 256> factBlocks_;
  CharFacts beyond_;

  // Runs shaped before, for the scripts whose shaping never looks past the
  // run, keyed by font, script, direction and the run's characters. Each is
  // one record in keptRecords_: its hash (two words), the number of its
  // characters and glyphs, the adjustment after it, font, script with
  // direction, where its glyphs start in keptGlyphs_, then the characters.
  // An open-addressed table finds the records; it starts small and grows, so
  // that the runs of a text with few distinct words stay in the processor's
  // caches.
  struct KeptSlot {
    std::uint32_t check = 0;  // the hash's high half
    std::uint32_t at = 0;     // where the record starts in keptRecords_, plus 1; 0 for a free slot
  };
  const std::uint32_t* findKept(std::uint64_t hash, int font, std::uint32_t script, bool rtl,
                                std::u32string_view chars) const;
  void keepRun(std::uint64_t hash, int font, std::uint32_t script, bool rtl,
               std::u32string_view chars, const ShownRun& run);
  void placeKept(std::uint64_t hash, std::uint32_t at);
  std::vector<KeptSlot> kept_;
  std::size_t keptCount_ = 0;
  std::vector<std::uint32_t> keptRecords_;
  std::vector<ShownRun::Glyph> keptGlyphs_;
  std::vector<std::uint32_t> seenOnce_;

  // Scratch space of one line and one run, kept so that its storage is too.
  std::vector<ShownRun> runs_;
  std::vector<std::uint8_t> flags_;
  std::vector<std::uint32_t> types_;
  std::vector<std::int8_t> levels_;
  std::vector<std::int32_t> order_;
  std::vector<std::uint32_t> brackets_;
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
  // when the glyph may be put beside others as it is. The code that shows the
  // glyph for the character and the glyph's width are added at its first use.
  struct Alone {
    PlacedGlyph glyph;
    bool clear = false;
    bool coded = false;
    std::uint16_t code = 0;
    std::int32_t width = 0;
  };
  FlatTable<Alone> alone_;
  std::vector<Alone*> shown_;  // a run's characters, as joinCharacters found them
  // By font and script (font << 32 | script), once known: the glyphs that
  // the lookups applied touch, or null when such runs are always shaped whole.
  std::unordered_map<std::uint64_t, hb_set_t*> lookupGlyphs_;
  std::uint64_t lastFontAndScript_ = ~std::uint64_t{0};
  const hb_set_t* lastLookupGlyphs_ = nullptr;

  std::vector<unsigned> byCluster_;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> glyphText_;
  std::u32string reversed_;
  std::u32string key_;
};

}  // namespace scrivane
