#include "writer/shaping.h"

#include <fribidi.h>
#include <hb.h>

#include <algorithm>
#include <cmath>

#include "writer/text.h"

namespace scrivane {

namespace {

constexpr char32_t kZeroWidthNonJoiner = 0x200C;
constexpr char32_t kZeroWidthJoiner = 0x200D;

bool IsMark(hb_unicode_funcs_t* u, char32_t c) {
  switch (hb_unicode_general_category(u, c)) {
    case HB_UNICODE_GENERAL_CATEGORY_NON_SPACING_MARK:
    case HB_UNICODE_GENERAL_CATEGORY_SPACING_MARK:
    case HB_UNICODE_GENERAL_CATEGORY_ENCLOSING_MARK:
      return true;
    default:
      return c == kZeroWidthJoiner || c == kZeroWidthNonJoiner ||
             (c >= 0x1F3FB && c <= 0x1F3FF);  // emoji skin tones modify what precedes them
  }
}

bool IsResolvedScript(hb_script_t s) {
  return s != HB_SCRIPT_COMMON && s != HB_SCRIPT_INHERITED && s != HB_SCRIPT_UNKNOWN;
}

}  // namespace

std::vector<bool> CutPoints(std::u32string_view text) {
  hb_unicode_funcs_t* u = hb_unicode_funcs_get_default();
  std::vector<bool> cuts(text.size() + 1, true);
  for (std::size_t i = 1; i < text.size(); ++i) {
    const char32_t before = text[i - 1];
    if (IsMark(u, text[i]) || before == kZeroWidthJoiner ||
        hb_unicode_combining_class(u, before) == HB_UNICODE_COMBINING_CLASS_VIRAMA ||
        (before == '\r' && text[i] == '\n')) {
      cuts[i] = false;
    }
  }
  return cuts;
}

LineShaper::LineShaper(FontSet& fonts) : fonts_(fonts), buffer_(hb_buffer_create()) {}

LineShaper::~LineShaper() { hb_buffer_destroy(buffer_); }

std::vector<ShownRun> LineShaper::shape(std::u32string_view text) {
  const std::size_t n = text.size();
  std::vector<ShownRun> runs;
  if (n == 0) return runs;
  hb_unicode_funcs_t* u = hb_unicode_funcs_get_default();
  const auto* chars = reinterpret_cast<const FriBidiChar*>(text.data());
  const auto length = static_cast<FriBidiStrIndex>(n);

  // Embedding levels and the visual order, only where something runs right to left.
  std::vector<FriBidiCharType> types(n);
  fribidi_get_bidi_types(chars, length, types.data());
  std::vector<FriBidiLevel> levels(n, 0);
  std::vector<FriBidiStrIndex> order(n);
  for (std::size_t i = 0; i < n; ++i) order[i] = static_cast<FriBidiStrIndex>(i);
  const bool bidi = std::any_of(types.begin(), types.end(), [](FriBidiCharType t) {
    return FRIBIDI_IS_RTL(t) || FRIBIDI_IS_ARABIC(t) ||
           (t & (FRIBIDI_MASK_EXPLICIT | FRIBIDI_MASK_ISOLATE)) != 0;
  });
  if (bidi) {
    std::vector<FriBidiBracketType> brackets(n);
    fribidi_get_bracket_types(chars, length, types.data(), brackets.data());
    FriBidiParType base = FRIBIDI_PAR_ON;
    if (fribidi_get_par_embedding_levels_ex(types.data(), brackets.data(), length, &base,
                                            levels.data()) == 0 ||
        fribidi_reorder_line(0, types.data(), length, 0, base, levels.data(), nullptr,
                             order.data()) == 0) {
      std::fill(levels.begin(), levels.end(), 0);
      for (std::size_t i = 0; i < n; ++i) order[i] = static_cast<FriBidiStrIndex>(i);
    }
  }

  // A font for every character: F1 for what Windows-1252 has, running left to
  // right and not joined to a mark that it lacks; otherwise the first font that
  // has it, staying with the font before where that one has it too.
  std::vector<int> font(n, -1);
  std::vector<hb_script_t> script(n, HB_SCRIPT_COMMON);
  int previous = -1;
  for (std::size_t i = 0; i < n; ++i) {
    const char32_t c = text[i];
    script[i] = hb_unicode_script(u, c);
    char byte;
    const bool joinedToNext = i + 1 < n && IsMark(u, text[i + 1]) &&
                              !Windows1252Byte(text[i + 1], byte);
    if ((levels[i] & 1) == 0 && !joinedToNext && Windows1252Byte(c, byte) && !IsMark(u, c)) {
      continue;
    }
    const bool mark = IsMark(u, c);
    const int preferred = mark && i > 0 && font[i - 1] >= 0 ? font[i - 1] : previous;
    int chosen = fonts_.fontFor(c, preferred);
    if (chosen < 0) {
      chosen = fonts_.fallbackFont();
      ++missing_.count;
      if (missing_.first.size() < MissingGlyphs::kShown &&
          missing_.first.find(c) == std::u32string::npos) {
        missing_.first.push_back(c);
      }
    }
    font[i] = chosen;
    previous = chosen;
  }
  // Characters common to every script shape with their neighbours: the script
  // before them, or after them at the start of the line.
  hb_script_t last = HB_SCRIPT_COMMON;
  for (std::size_t i = 0; i < n; ++i) {
    if (IsResolvedScript(script[i])) {
      last = script[i];
    } else {
      script[i] = last;
    }
  }
  hb_script_t next = HB_SCRIPT_COMMON;
  for (std::size_t i = n; i-- > 0;) {
    if (IsResolvedScript(script[i])) {
      next = script[i];
    } else {
      script[i] = next;
    }
  }

  // Runs in visual order: neighbours on the page with the same level, font and
  // script that are also neighbours in the text.
  std::size_t v = 0;
  while (v < n) {
    const auto first = static_cast<std::size_t>(order[v]);
    const bool rtl = (levels[first] & 1) != 0;
    std::size_t lo = first, hi = first;
    std::size_t w = v + 1;
    while (w < n) {
      const auto l = static_cast<std::size_t>(order[w]);
      const std::size_t expected = rtl ? lo - 1 : hi + 1;
      if ((rtl && lo == 0) || l != expected || levels[l] != levels[first] ||
          font[l] != font[first] || (font[l] >= 0 && script[l] != script[first])) {
        break;
      }
      (rtl ? lo : hi) = l;
      ++w;
    }
    ShownRun run;
    run.font = font[first];
    if (run.font < 0) {
      for (std::size_t i = lo; i <= hi; ++i) {
        char byte;
        Windows1252Byte(text[i], byte);
        run.classic.push_back(byte);
      }
    } else {
      shapeRun(text, lo, hi + 1, rtl, script[first], run);
    }
    runs.push_back(std::move(run));
    v = w;
  }
  return runs;
}

void LineShaper::shapeRun(std::u32string_view text, std::size_t lo, std::size_t hi, bool rtl,
                          std::uint32_t script, ShownRun& run) {
  EmbeddedFont& font = fonts_.font(run.font);
  hb_buffer_clear_contents(buffer_);
  hb_buffer_add_utf32(buffer_, reinterpret_cast<const std::uint32_t*>(text.data()),
                      static_cast<int>(text.size()), static_cast<unsigned>(lo),
                      static_cast<int>(hi - lo));
  hb_buffer_set_direction(buffer_, rtl ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
  hb_buffer_set_script(buffer_, static_cast<hb_script_t>(script));
  hb_buffer_guess_segment_properties(buffer_);
  hb_shape(font.hbFont(), buffer_, nullptr, 0);

  unsigned count = 0;
  const hb_glyph_info_t* info = hb_buffer_get_glyph_infos(buffer_, &count);
  const hb_glyph_position_t* pos = hb_buffer_get_glyph_positions(buffer_, nullptr);

  // A cluster's characters go to its glyphs one by one in reading order, the
  // last glyph that gets any taking the rest: so the text comes back in reading
  // order without gaps even where glyphs are reordered (the short i of
  // Devanagari), decomposed or joined.
  std::vector<std::u32string> texts(count);
  std::vector<std::uint32_t> starts;
  for (unsigned g = 0; g < count; ++g) starts.push_back(info[g].cluster);
  std::sort(starts.begin(), starts.end());
  starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
  std::vector<std::vector<unsigned>> members(starts.size());
  for (unsigned g = 0; g < count; ++g) {
    const auto k = static_cast<std::size_t>(
        std::lower_bound(starts.begin(), starts.end(), info[g].cluster) - starts.begin());
    members[k].push_back(g);
  }
  for (std::size_t k = 0; k < starts.size(); ++k) {
    const std::size_t begin = starts[k];
    const std::size_t end = k + 1 < starts.size() ? starts[k + 1] : hi;
    std::vector<unsigned>& glyphs = members[k];
    // Glyphs come in page order; right to left, reading order is the reverse.
    if (rtl) std::reverse(glyphs.begin(), glyphs.end());
    const std::size_t chars = end - begin;
    const std::size_t carriers = std::min(chars, glyphs.size());
    for (std::size_t j = 0; j < carriers; ++j) {
      const std::size_t from = begin + j;
      const std::size_t to = j + 1 == carriers ? end : from + 1;
      texts[glyphs[j]] = std::u32string(text.substr(from, to - from));
      // Readers turn right-to-left text around character by character, so a
      // glyph that stands for several characters (lam-alef) holds them in page
      // order, to come back in reading order.
      if (rtl) std::reverse(texts[glyphs[j]].begin(), texts[glyphs[j]].end());
    }
  }

  // Positions: the PDF advances each glyph by its width; the differences to
  // HarfBuzz's positions go into the TJ adjustments, carried so that rounding
  // never adds up.
  const double scale = 1000.0 / font.unitsPerEm();
  double wanted = 0;   // where the pen should be
  std::int64_t at = 0;  // where the PDF's pen is
  run.glyphs.reserve(count);
  for (unsigned g = 0; g < count; ++g) {
    ShownRun::Glyph glyph;
    glyph.code = font.codeFor(info[g].codepoint, texts[g]);
    const double target = wanted + pos[g].x_offset * scale;
    glyph.before = static_cast<std::int32_t>(std::llround(static_cast<double>(at) - target));
    at -= glyph.before;
    at += font.width(info[g].codepoint);
    glyph.rise = static_cast<std::int32_t>(std::lround(pos[g].y_offset * scale));
    wanted += pos[g].x_advance * scale;
    run.glyphs.push_back(glyph);
  }
  run.after = static_cast<std::int32_t>(std::llround(static_cast<double>(at) - wanted));
}

}  // namespace scrivane
