#pragma once

// Turns a line of Unicode text into what the page shows: runs in visual order,
// each either Windows-1252 text in the classic font F1 or glyphs of an embedded
// font, shaped by HarfBuzz in their script and ordered by FriBidi.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "writer/font_module.h"
#include "writer/fonts.h"

struct hb_buffer_t;

namespace scrivane {

// Where a line may be cut: entry i is true when a cut may fall before character
// i, that is, not inside a cluster (before a combining mark or a joiner, after a
// joiner or a virama).
std::vector<bool> CutPoints(std::u32string_view text);

class LineShaper {
 public:
  explicit LineShaper(FontSet& fonts);
  ~LineShaper();
  LineShaper(const LineShaper&) = delete;
  LineShaper& operator=(const LineShaper&) = delete;

  // Lays out one line, as it will stand on the page, in visual order.
  std::vector<ShownRun> shape(std::u32string_view text);
  const MissingGlyphs& missing() const { return missing_; }

 private:
  void shapeRun(std::u32string_view text, std::size_t lo, std::size_t hi, bool rtl,
                std::uint32_t script, ShownRun& run);

  FontSet& fonts_;
  hb_buffer_t* buffer_;
  MissingGlyphs missing_;
};

}  // namespace scrivane
