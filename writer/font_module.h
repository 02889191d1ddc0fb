#pragma once

// What the writer asks of the embedded fonts, without the font libraries:
// option mode draws text that Windows-1252 lacks with fonts that a module,
// scrivane-fonts.so, chooses, shapes and subsets. The program opens the module
// only when a document needs such fonts, so that every other run starts without
// loading HarfBuzz, FreeType, fontconfig or FriBidi.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "writer/font_widths.h"

namespace scrivane {

// What one embedded font contributes to the document, ready to be written.
struct FontObjects {
  std::string baseFont;             // subset tag and PostScript name: ABCDEF+LiberationSerif
  bool cff = false;                 // a bare CFF program (FontFile3) instead of TrueType
  std::vector<std::string> widths;  // the lines of the /W array
  std::int32_t defaultWidth = 1000;
  std::int32_t flags = 4;
  std::int32_t bbox[4] = {0, 0, 0, 0};
  std::int32_t ascent = 0, descent = 0, capHeight = 0, stemV = 80;
  std::string italicAngle = "0";
  std::string program;     // the subset font program
  std::string cidToGidMap;  // two bytes a code; empty when codes are glyph numbers
  std::string toUnicode;    // the CMap, lines ended by carriage returns
};

// One stretch of a shown line.
struct ShownRun {
  int font = -1;        // -1: the classic font F1; otherwise a font of the conversion's fonts
  std::string classic;  // F1's Windows-1252 bytes, not escaped
  struct Glyph {
    std::uint16_t code = 0;
    std::int32_t before = 0;  // TJ adjustment before the glyph, thousandths of an em
    std::int32_t rise = 0;    // baseline shift, thousandths of an em
  };
  std::vector<Glyph> glyphs;
  std::int32_t after = 0;  // TJ adjustment after the last glyph
};

// A shown run as the page writes it, over storage kept elsewhere.
struct RunView {
  int font = -1;
  std::string_view classic;
  std::span<const ShownRun::Glyph> glyphs;
  std::int32_t after = 0;
};

// A code that a font gave out: the glyph it shows and the text it stands for.
struct GivenCode {
  std::uint16_t code = 0;
  std::uint32_t gid = 0;
  std::u32string text;
};

// Characters that no installed font has: how many were met, and the first few.
struct MissingGlyphs {
  std::size_t count = 0;
  std::u32string first;  // distinct, in the order met, at most kShown
  static constexpr std::size_t kShown = 5;
};

// The fonts of one conversion: they lay out the lines that need them and,
// after the last page, give each used font's objects.
class FontEngine {
 public:
  virtual ~FontEngine() = default;
  // Lays out one line, as it will stand on the page, in visual order. The
  // runs stay valid until the next line is laid out.
  virtual std::span<const ShownRun> shape(std::u32string_view text) = 0;
  // Where the line may be cut: entry i is true when a cut may fall before
  // character i, that is, not inside a cluster.
  virtual std::vector<bool> cutPoints(std::u32string_view text) = 0;
  // How wide the line stands on the page as shape() lays it out, in
  // thousandths of the font size, its text in the classic font measured by
  // `classic`. Measuring shows nothing: it counts no missing glyphs.
  virtual std::int64_t width(std::u32string_view text, const FontWidths& classic) = 0;
  virtual const MissingGlyphs& missing() const = 0;
  // The fonts in the order of their first use.
  virtual const std::vector<int>& usedOrder() const = 0;
  // The resource number (2 for /F2) of a font, given out at its first use.
  virtual int resourceNumber(int font) = 0;
  // Subsets a used font to its glyphs; throws Failure when it cannot be embedded.
  virtual FontObjects finish(int font) = 0;

  // For laying out lines on other threads. A new engine over the same fonts
  // (a font has the same number in both) that has shown nothing yet and shares
  // nothing that changes with this one; null when it cannot be had.
  virtual std::unique_ptr<FontEngine> alike() = 0;
  // Appends the codes that `font` gave out after its first `from`, in the
  // order they were given out, to `out`; gives the number given out in all.
  virtual std::size_t codesGiven(int font, std::size_t from, std::vector<GivenCode>& out) = 0;
  // The code that shows glyph `gid` of `font` standing for `text`, given out
  // here as shaping gives out codes; throws Failure when the font has no more.
  virtual std::uint16_t codeFor(int font, std::uint32_t gid, std::u32string_view text) = 0;
  // Counts characters that no installed font has, met in lines laid out
  // elsewhere, as if met here: `count` of them, `first` the first few.
  virtual void noteMissing(std::size_t count, std::u32string_view first) = 0;
};

// The module: opened once a run, it makes the fonts of each conversion.
class FontModule {
 public:
  virtual ~FontModule() = default;
  // Throws Failure, saying why, when the font file cannot be embedded.
  virtual void checkFontFile(const std::string& path) = 0;
  // The fonts for text shown beside the standard font `standardFont`, a font
  // file of the user's first; throws Failure when that file cannot be used.
  virtual std::unique_ptr<FontEngine> open(const std::string& standardFont,
                                           const std::optional<std::string>& fontFile) = 0;
};

// The function that the module exports under kFontModuleEntry: a new module
// for the caller to own, or null when the module was built for another
// version of this interface than the one given.
inline constexpr const char* kFontModuleEntry = "scrivane_font_module";
inline constexpr int kFontModuleInterface = 4;
using FontModuleEntry = FontModule* (*)(int interfaceVersion);

}  // namespace scrivane
