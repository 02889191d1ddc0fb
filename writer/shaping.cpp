#include "writer/shaping.h"

#include <fribidi.h>
#include <hb-ot.h>
#include <hb.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "writer/text.h"

namespace scrivane {

namespace {

constexpr char32_t kZeroWidthNonJoiner = 0x200C;
constexpr char32_t kZeroWidthJoiner = 0x200D;

bool IsMark(hb_unicode_funcs_t* u, char32_t c) {
  if (c < 0x300) return false;  // the first mark is U+0300
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

// Runs of at most this many characters are kept once shaped, in a table of
// this many slots (a power of two).
constexpr std::size_t kLongestCachedRun = 32;
constexpr std::size_t kKeptSlots = 1 << 15;
// The table starts with this many slots and grows up to kKeptSlots.
constexpr std::size_t kFirstKeptSlots = 1 << 10;
// The words of a kept run's record before its characters.
constexpr std::size_t kKeptHeader = 8;
// At most so many marks in a row are shaped together: HarfBuzz's time for a
// letter under a pile of marks grows faster than the pile (a pile of 200,000
// took 48 s, one of 400,000 over two minutes).
constexpr std::size_t kLongestMarkRun = 32;
// Set in a kept run's script word for a run right to left: scripts are tags
// of four ASCII letters, which leave the high bit free.
constexpr std::uint32_t kKeptRtl = 0x80000000u;

// FNV-1a over a run's key: its font, script and direction, then its characters.
std::uint64_t HashOf(int font, std::uint32_t script, bool rtl, std::u32string_view text) {
  std::uint64_t hash = 14695981039346656037ull;
  auto mix = [&](char32_t c) {
    hash ^= c;
    hash *= 1099511628211ull;
  };
  mix(static_cast<char32_t>(font));
  mix(static_cast<char32_t>(script));
  mix(rtl ? U'r' : U'l');
  for (const char32_t c : text) mix(c);
  return hash;
}

// Scripts that HarfBuzz shapes from the run's own characters alone: those of
// its default shaper and Hangul's. The shapers of Arabic-like scripts also
// read the characters around the run, to join across its ends.
bool ShapesWithoutContext(std::uint32_t script) {
  switch (static_cast<hb_script_t>(script)) {
    case HB_SCRIPT_LATIN:
    case HB_SCRIPT_GREEK:
    case HB_SCRIPT_CYRILLIC:
    case HB_SCRIPT_ARMENIAN:
    case HB_SCRIPT_GEORGIAN:
    case HB_SCRIPT_HAN:
    case HB_SCRIPT_HIRAGANA:
    case HB_SCRIPT_KATAKANA:
    case HB_SCRIPT_BOPOMOFO:
    case HB_SCRIPT_HANGUL:
    case HB_SCRIPT_COMMON:
      return true;
    default:
      return false;
  }
}

// Fonts past this number are never shaped character by character (the key
// of a character's shape has room for no more).
constexpr int kMostJoinedFonts = 2048;
// Hashes of runs seen once, in a table of this many slots.
constexpr std::size_t kSeenOnceSlots = 1 << 16;

// Characters that HarfBuzz treats as a cluster of their own whatever stands
// beside them, apart from the font's lookups: letters, digits, punctuation and
// symbols, but not marks, joiners and other format characters, emoji
// modifiers, regional indicators, the halfwidth sound marks, the Hangul
// fillers (letters that are not drawn), the conjoining Hangul letters (which
// HarfBuzz composes into syllables), the fraction slashes (which make the
// digits around them a fraction) or blanks (which may be drawn as other blanks).
bool StandsAlone(hb_unicode_funcs_t* u, char32_t c) {
  if (c == 0x2044 || c == 0x2215 || c == 0xFF9E || c == 0xFF9F || c == 0x115F || c == 0x1160 ||
      c == 0x3164 || c == 0xFFA0 || (c >= 0x1F1E6 && c <= 0x1F1FF) || (c >= 0x1F3FB && c <= 0x1F3FF) ||
      (c >= 0x1100 && c <= 0x11FF) || (c >= 0xA960 && c <= 0xA97F) || (c >= 0xD7B0 && c <= 0xD7FF)) {
    return false;
  }
  switch (hb_unicode_general_category(u, c)) {
    case HB_UNICODE_GENERAL_CATEGORY_LOWERCASE_LETTER:
    case HB_UNICODE_GENERAL_CATEGORY_MODIFIER_LETTER:
    case HB_UNICODE_GENERAL_CATEGORY_OTHER_LETTER:
    case HB_UNICODE_GENERAL_CATEGORY_TITLECASE_LETTER:
    case HB_UNICODE_GENERAL_CATEGORY_UPPERCASE_LETTER:
    case HB_UNICODE_GENERAL_CATEGORY_DECIMAL_NUMBER:
    case HB_UNICODE_GENERAL_CATEGORY_LETTER_NUMBER:
    case HB_UNICODE_GENERAL_CATEGORY_OTHER_NUMBER:
    case HB_UNICODE_GENERAL_CATEGORY_CONNECT_PUNCTUATION:
    case HB_UNICODE_GENERAL_CATEGORY_DASH_PUNCTUATION:
    case HB_UNICODE_GENERAL_CATEGORY_CLOSE_PUNCTUATION:
    case HB_UNICODE_GENERAL_CATEGORY_FINAL_PUNCTUATION:
    case HB_UNICODE_GENERAL_CATEGORY_INITIAL_PUNCTUATION:
    case HB_UNICODE_GENERAL_CATEGORY_OTHER_PUNCTUATION:
    case HB_UNICODE_GENERAL_CATEGORY_OPEN_PUNCTUATION:
    case HB_UNICODE_GENERAL_CATEGORY_CURRENCY_SYMBOL:
    case HB_UNICODE_GENERAL_CATEGORY_MODIFIER_SYMBOL:
    case HB_UNICODE_GENERAL_CATEGORY_MATH_SYMBOL:
    case HB_UNICODE_GENERAL_CATEGORY_OTHER_SYMBOL:
      return hb_unicode_combining_class(u, c) == HB_UNICODE_COMBINING_CLASS_NOT_REORDERED;
    default:
      return false;
  }
}

// Whether HarfBuzz kerns text of these properties by the font's old 'kern'
// table: it does unless the font positions by GPOS and GPOS has a 'kern'
// feature for the script and language that HarfBuzz chooses, found here as
// HarfBuzz finds it.
bool KernsByKernTable(hb_face_t* face, const hb_segment_properties_t& props) {
  if (!HasTable(face, HB_TAG('k', 'e', 'r', 'n'))) return false;
  if (hb_ot_layout_has_positioning(face) == 0) return true;
  hb_tag_t scripts[HB_OT_MAX_TAGS_PER_SCRIPT];
  hb_tag_t languages[HB_OT_MAX_TAGS_PER_LANGUAGE];
  unsigned scriptCount = HB_OT_MAX_TAGS_PER_SCRIPT, languageCount = HB_OT_MAX_TAGS_PER_LANGUAGE;
  hb_ot_tags_from_script_and_language(props.script, props.language, &scriptCount, scripts,
                                      &languageCount, languages);
  unsigned script = HB_OT_LAYOUT_NO_SCRIPT_INDEX, language = HB_OT_LAYOUT_DEFAULT_LANGUAGE_INDEX;
  unsigned feature = HB_OT_LAYOUT_NO_FEATURE_INDEX;
  hb_tag_t chosen = HB_TAG_NONE;
  hb_ot_layout_table_select_script(face, HB_OT_TAG_GPOS, scriptCount, scripts, &script, &chosen);
  hb_ot_layout_script_select_language(face, HB_OT_TAG_GPOS, script, languageCount, languages, &language);
  return hb_ot_layout_language_find_feature(face, HB_OT_TAG_GPOS, script, language,
                                            HB_TAG('k', 'e', 'r', 'n'), &feature) == 0;
}

// Adds to `glyphs` every glyph of a pair in the font's old 'kern' table;
// false when the table is not made only of lists of pairs (format 0), the one
// kind whose glyphs can be told without applying it. Neither HarfBuzz nor
// FreeType lists the pairs, so the table is read here.
bool AddKernPairGlyphs(hb_face_t* face, hb_set_t* glyphs) {
  hb_blob_t* blob = hb_face_reference_table(face, HB_TAG('k', 'e', 'r', 'n'));
  unsigned size = 0;
  const auto* data = reinterpret_cast<const unsigned char*>(hb_blob_get_data(blob, &size));
  auto u16 = [&](std::size_t at) { return static_cast<unsigned>(data[at] << 8 | data[at + 1]); };
  bool known = size >= 4 && u16(0) == 0;  // the OpenType header; Apple's has version 1.0 in 32 bits
  const std::size_t tables = known ? u16(2) : 0;
  std::size_t at = 4;
  for (std::size_t t = 0; known && t < tables; ++t) {
    // Subtable: version, length, coverage (the format in its high byte), then
    // for format 0 the number of pairs, three words for searching, the pairs.
    if (at + 14 > size || (u16(at + 4) >> 8) != 0) {
      known = false;
      break;
    }
    const std::size_t pairs = u16(at + 6);
    if (at + 14 + 6 * pairs > size) {
      known = false;
      break;
    }
    for (std::size_t k = 0; k < pairs; ++k) {
      hb_set_add(glyphs, u16(at + 14 + 6 * k));
      hb_set_add(glyphs, u16(at + 16 + 6 * k));
    }
    // The length field overflows for subtables of more than 10,921 pairs:
    // then the pairs themselves tell where the subtable ends.
    const std::size_t length = u16(at + 2);
    at += std::max(length, 14 + 6 * pairs);
  }
  hb_blob_destroy(blob);
  return known;
}

// The glyphs that the lookups HarfBuzz applies to text of these properties
// in this font may look at or make, and those of the old 'kern' table where
// HarfBuzz applies it; null when HarfBuzz may also change glyphs by other
// tables: AAT ones, or a 'kern' table of another kind than pairs.
hb_set_t* GlyphsInLookups(hb_font_t* font, const hb_segment_properties_t& props) {
  hb_face_t* face = hb_font_get_face(font);
  for (const char* tag : {"morx", "mort", "kerx", "trak"}) {
    if (HasTable(face, hb_tag_from_string(tag, 4))) return nullptr;
  }
  hb_set_t* glyphs = hb_set_create();
  if (KernsByKernTable(face, props) && !AddKernPairGlyphs(face, glyphs)) {
    hb_set_destroy(glyphs);
    return nullptr;
  }
  hb_shape_plan_t* plan = hb_shape_plan_create_cached(face, &props, nullptr, 0, nullptr);
  hb_set_t* lookups = hb_set_create();
  for (const hb_tag_t table : {HB_OT_TAG_GSUB, HB_OT_TAG_GPOS}) {
    hb_set_clear(lookups);
    hb_ot_shape_plan_collect_lookups(plan, table, lookups);
    for (hb_codepoint_t k = HB_SET_VALUE_INVALID; hb_set_next(lookups, &k);) {
      hb_ot_layout_lookup_collect_glyphs(face, table, k, glyphs, glyphs, glyphs, glyphs);
    }
  }
  const bool complete = hb_set_allocation_successful(lookups) && hb_set_allocation_successful(glyphs);
  hb_set_destroy(lookups);
  hb_shape_plan_destroy(plan);
  if (!complete) {
    hb_set_destroy(glyphs);
    return nullptr;
  }
  return glyphs;
}

// std::llround for the small values of positions, without the library call:
// the fraction x - trunc(x) is exact, so halves round away from zero alike.
std::int32_t Rounded(double x) {
  auto whole = static_cast<std::int64_t>(x);
  const double fraction = x - static_cast<double>(whole);
  if (fraction >= 0.5) {
    ++whole;
  } else if (fraction <= -0.5) {
    --whole;
  }
  return static_cast<std::int32_t>(whole);
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

LineShaper::LineShaper(FontSet& fonts, bool reuse)
    : fonts_(fonts), reuse_(reuse), buffer_(hb_buffer_create()) {
  // What HarfBuzz makes once for every shaper is made here, before a shaper
  // of another thread may look it up.
  hb_language_get_default();
  hb_unicode_funcs_get_default();
}

LineShaper::~LineShaper() {
  for (const auto& [fontAndScript, glyphs] : lookupGlyphs_) hb_set_destroy(glyphs);
  hb_buffer_destroy(buffer_);
}

LineShaper::CharFacts LineShaper::factsFor(char32_t c) {
  hb_unicode_funcs_t* u = hb_unicode_funcs_get_default();
  CharFacts f;
  f.flags = kKnown;
  f.script = hb_unicode_script(u, c);
  if (Windows1252Byte(c, f.byte)) f.flags |= kClassic;
  if (IsMark(u, c)) f.flags |= kMark;
  if (hb_unicode_general_category(u, c) == HB_UNICODE_GENERAL_CATEGORY_SPACE_SEPARATOR) f.flags |= kBlank;
  if (IsResolvedScript(static_cast<hb_script_t>(f.script))) f.flags |= kResolved;
  const FriBidiCharType t = fribidi_get_bidi_type(static_cast<FriBidiChar>(c));
  if (FRIBIDI_IS_RTL(t) || FRIBIDI_IS_ARABIC(t) ||
      (t & (FRIBIDI_MASK_EXPLICIT | FRIBIDI_MASK_ISOLATE)) != 0) {
    f.flags |= kNeedsBidi;
  }
  return f;
}

void LineShaper::noteMissing(std::size_t count, std::u32string_view first) {
  missing_.count += count;
  for (const char32_t c : first) {
    if (missing_.first.size() < MissingGlyphs::kShown && missing_.first.find(c) == std::u32string::npos) {
      missing_.first.push_back(c);
    }
  }
}

std::span<const ShownRun> LineShaper::shape(std::u32string_view text) {
  const std::size_t n = text.size();
  // runs_ only grows: the runs of earlier lines keep their storage for the
  // next lines' runs, which fill them in place.
  std::vector<ShownRun>& runs = runs_;
  std::size_t used = 0;
  if (n == 0) return {};

  // What each character is; whether anything runs right to left.
  script_.resize(n);
  flags_.resize(n);
  std::uint32_t* script = script_.data();
  std::uint8_t* flags = flags_.data();
  // Characters common to every script shape with their neighbours: the script
  // before them, or after them at the start of the line (below).
  std::uint8_t any = 0;
  auto last = static_cast<std::uint32_t>(HB_SCRIPT_COMMON);
  for (std::size_t i = 0; i < n; ++i) {
    const CharFacts& f = factsOf(text[i]);
    if ((f.flags & kResolved) != 0) last = f.script;
    script[i] = last;
    flags[i] = f.flags;
    any |= f.flags;
  }

  // Embedding levels and the visual order, only where something runs right to
  // left; elsewhere every level is 0 and the visual order is the text's.
  const bool bidi = (any & kNeedsBidi) != 0;
  if (bidi) {
    const auto* chars = reinterpret_cast<const FriBidiChar*>(text.data());
    const auto length = static_cast<FriBidiStrIndex>(n);
    static_assert(sizeof(FriBidiCharType) == sizeof(std::uint32_t) &&
                  sizeof(FriBidiLevel) == sizeof(std::int8_t) &&
                  sizeof(FriBidiStrIndex) == sizeof(std::int32_t) &&
                  sizeof(FriBidiBracketType) == sizeof(std::uint32_t));
    types_.resize(n);
    auto* types = reinterpret_cast<FriBidiCharType*>(types_.data());
    fribidi_get_bidi_types(chars, length, types);
    levels_.assign(n, 0);
    auto* levels = reinterpret_cast<FriBidiLevel*>(levels_.data());
    order_.resize(n);
    auto* order = reinterpret_cast<FriBidiStrIndex*>(order_.data());
    for (std::size_t i = 0; i < n; ++i) order[i] = static_cast<FriBidiStrIndex>(i);
    brackets_.resize(n);
    auto* brackets = reinterpret_cast<FriBidiBracketType*>(brackets_.data());
    fribidi_get_bracket_types(chars, length, types, brackets);
    FriBidiParType base = FRIBIDI_PAR_ON;
    if (fribidi_get_par_embedding_levels_ex(types, brackets, length, &base, levels) == 0 ||
        fribidi_reorder_line(0, types, length, 0, base, levels, nullptr, order) == 0) {
      std::fill(levels, levels + n, 0);
      for (std::size_t i = 0; i < n; ++i) order[i] = static_cast<FriBidiStrIndex>(i);
    }
  }
  const std::int8_t* levels = levels_.data();
  const std::int32_t* order = order_.data();
  auto levelAt = [&](std::size_t i) -> std::int8_t { return bidi ? levels[i] : 0; };

  // A font for every character: F1 for what Windows-1252 has, running left to
  // right and not joined to a mark that it lacks; otherwise the first font that
  // has it, staying with the font before where that one has it too.
  //
  // Blanks, digits and punctuation between two stretches of one embedded font
  // are shown in that font where it has them, so that the line does not switch
  // fonts at every word; they keep runs of their own, shaped apart as before,
  // and blanks apart from the rest: a number between words is then a run of
  // its own, which a font that does not kern digits joins from its digits
  // alone instead of shaping each number anew. Such a gap is followed as the
  // fonts are chosen: it opens after a character of an embedded font, stays
  // open while each of its characters could be in that font, and is given
  // that font when the next embedded character is in it.
  font_.assign(n, -1);
  int* font = font_.data();
  int previous = -1;
  std::size_t gap = 0;
  int gapFont = -1;
  bool inGap = false;
  for (std::size_t i = 0; i < n; ++i) {
    const bool mark = (flags[i] & kMark) != 0;
    if ((flags[i] & (kClassic | kMark)) == kClassic && (levelAt(i) & 1) == 0) {
      const bool joinedToNext = i + 1 < n && (flags[i + 1] & (kMark | kClassic)) == kMark;
      if (!joinedToNext) {
        if (!bidi) {
          if (i > 0 && font[i - 1] >= 0) {
            gap = i;
            gapFont = font[i - 1];
            inGap = true;
          }
          inGap = inGap && (flags[i] & (kResolved | kMark)) == 0 &&
                  fonts_.fontFor(text[i], gapFont) == gapFont;
        }
        continue;
      }
    }
    const char32_t c = text[i];
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
    if (inGap && chosen == gapFont) {
      for (std::size_t k = gap; k < i; ++k) {
        font[k] = chosen;
        flags[k] |= kOwnRun;
      }
    }
    inGap = false;
  }
  // At the start of the line, up to the first resolved script.
  if ((flags[0] & kResolved) == 0) {
    std::size_t firstResolved = 1;
    while (firstResolved < n && (flags[firstResolved] & kResolved) == 0) ++firstResolved;
    const std::uint32_t next =
        firstResolved < n ? script[firstResolved] : static_cast<std::uint32_t>(HB_SCRIPT_COMMON);
    for (std::size_t i = 0; i < firstResolved; ++i) script[i] = next;
  }

  // Runs in visual order: neighbours on the page with the same level, font and
  // script that are also neighbours in the text.
  auto emit = [&](std::size_t lo, std::size_t hi, bool rtl) {
    if (used == runs.size()) runs.emplace_back();
    ShownRun& run = runs[used++];
    run.font = font[lo];
    run.classic.clear();
    run.glyphs.clear();
    run.after = 0;
    if (run.font < 0) {
      run.classic.resize(hi - lo);
      char* bytes = run.classic.data();
      for (std::size_t i = lo; i < hi; ++i) {
        const char32_t c = text[i];
        *bytes++ = c < 0x80 ? static_cast<char>(c) : factsOf(c).byte;
      }
    } else {
      shapeRun(text, lo, hi, rtl, script[lo], run);
    }
  };
  if (!bidi) {
    // Left to right throughout: the runs follow the text.
    for (std::size_t lo = 0; lo < n;) {
      const int f = font[lo];
      std::size_t hi = lo + 1;
      if (f < 0) {
        while (hi < n && font[hi] < 0) ++hi;
      } else {
        std::size_t marks = (flags[lo] & kMark) != 0 ? 1 : 0;
        const std::uint8_t apart = (flags[lo] & kOwnRun) != 0 ? kOwnRun | kBlank : kOwnRun;
        while (hi < n && font[hi] == f && script[hi] == script[lo] &&
               ((flags[hi] ^ flags[lo]) & apart) == 0) {
          marks = (flags[hi] & kMark) != 0 ? marks + 1 : 0;
          if (marks > kLongestMarkRun) break;
          ++hi;
        }
      }
      emit(lo, hi, false);
      lo = hi;
    }
  } else {
    std::size_t v = 0;
    while (v < n) {
      const auto first = static_cast<std::size_t>(order[v]);
      const bool rtl = (levels[first] & 1) != 0;
      std::size_t lo = first, hi = first;
      std::size_t w = v + 1;
      std::size_t marks = (flags[first] & kMark) != 0 ? 1 : 0;
      while (w < n) {
        const auto l = static_cast<std::size_t>(order[w]);
        const std::size_t expected = rtl ? lo - 1 : hi + 1;
        if ((rtl && lo == 0) || l != expected || levels[l] != levels[first] ||
            font[l] != font[first] || (font[l] >= 0 && script[l] != script[first])) {
          break;
        }
        marks = (flags[l] & kMark) != 0 ? marks + 1 : 0;
        if (marks > kLongestMarkRun) break;
        (rtl ? lo : hi) = l;
        ++w;
      }
      emit(lo, hi + 1, rtl);
      v = w;
    }
  }
  return {runs.data(), used};
}

void LineShaper::shapeRun(std::u32string_view text, std::size_t lo, std::size_t hi, bool rtl,
                          std::uint32_t script, ShownRun& run) {
  // A run seen before is shown as it was, where its shaping cannot depend on
  // the characters around it. HarfBuzz looks at those only to join letters of
  // Arabic-like scripts (and to put a dotted circle before a text that starts
  // with a mark, which is never asked for here), so runs in these scripts
  // come out the same wherever they stand. A run is kept when it comes a
  // second time, so that the many runs that come once (most of any CJK text)
  // leave the table small; long runs seldom come again and are not kept.
  const bool contextFree = reuse_ && ShapesWithoutContext(script);
  const std::u32string_view chars = text.substr(lo, hi - lo);
  bool keep = false;
  std::uint64_t hash = 0;
  if (contextFree && hi - lo <= kLongestCachedRun) {
    hash = HashOf(run.font, script, rtl, chars);
    if (const std::uint32_t* kept = findKept(hash, run.font, script, rtl, chars)) {
      const ShownRun::Glyph* glyphs = keptGlyphs_.data() + kept[7];
      run.glyphs.assign(glyphs, glyphs + kept[3]);
      run.after = static_cast<std::int32_t>(kept[4]);
      return;
    }
    // The slot is told by the hash's low bits and the run by its high ones.
    if (seenOnce_.empty()) seenOnce_.assign(kSeenOnceSlots, 0);
    std::uint32_t& seen = seenOnce_[hash % kSeenOnceSlots];
    const auto tag = static_cast<std::uint32_t>(hash >> 32);
    keep = seen == tag;
    seen = tag;
  }

  if (contextFree && !rtl && joinCharacters(text, lo, hi, script, run)) {
    if (keep) keepRun(hash, run.font, script, rtl, chars, run);
    return;
  }
  shapeWhole(text, lo, hi, rtl, script, run);
  if (keep) keepRun(hash, run.font, script, rtl, chars, run);
}

void LineShaper::shapeWhole(std::u32string_view text, std::size_t lo, std::size_t hi, bool rtl,
                            std::uint32_t script, ShownRun& run) {
  EmbeddedFont& font = fonts_.font(run.font);
  {
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
    placed_.resize(count);
    for (unsigned g = 0; g < count; ++g) {
      placed_[g] = {info[g].codepoint, info[g].cluster, pos[g].x_advance, pos[g].x_offset,
                    pos[g].y_offset};
    }
  }
  const PlacedGlyph* info = placed_.data();
  const auto count = static_cast<unsigned>(placed_.size());

  // A cluster's characters go to its glyphs one by one in reading order, the
  // last glyph that gets any taking the rest: so the text comes back in reading
  // order without gaps even where glyphs are reordered (the short i of
  // Devanagari), decomposed or joined. Glyphs come in page order, grouped here
  // by cluster; right to left, reading order within a cluster is the reverse.
  byCluster_.resize(count);
  for (unsigned g = 0; g < count; ++g) byCluster_[g] = g;
  auto clusterOf = [&](unsigned g) { return info[g].cluster; };
  if (!std::is_sorted(byCluster_.begin(), byCluster_.end(),
                      [&](unsigned a, unsigned b) { return clusterOf(a) < clusterOf(b); })) {
    std::stable_sort(byCluster_.begin(), byCluster_.end(),
                     [&](unsigned a, unsigned b) { return clusterOf(a) < clusterOf(b); });
  }
  glyphText_.assign(count, {0, 0});  // [from, to) of the text, for each glyph
  for (std::size_t a = 0; a < count;) {
    std::size_t b = a + 1;
    while (b < count && clusterOf(byCluster_[b]) == clusterOf(byCluster_[a])) ++b;
    const std::size_t begin = clusterOf(byCluster_[a]);
    const std::size_t end = b < count ? clusterOf(byCluster_[b]) : hi;
    if (rtl) std::reverse(byCluster_.begin() + static_cast<std::ptrdiff_t>(a),
                          byCluster_.begin() + static_cast<std::ptrdiff_t>(b));
    const std::size_t carriers = std::min(end - begin, b - a);
    for (std::size_t j = 0; j < carriers; ++j) {
      const std::size_t from = begin + j;
      const std::size_t to = j + 1 == carriers ? end : from + 1;
      glyphText_[byCluster_[a + j]] = {static_cast<std::uint32_t>(from), static_cast<std::uint32_t>(to)};
    }
    a = b;
  }

  // Positions: the PDF advances each glyph by its width; the differences to
  // HarfBuzz's positions go into the TJ adjustments, carried so that rounding
  // never adds up.
  const double scale = 1000.0 / font.unitsPerEm();
  double wanted = 0;   // where the pen should be
  std::int64_t at = 0;  // where the PDF's pen is
  run.glyphs.clear();
  run.glyphs.reserve(count);
  for (unsigned g = 0; g < count; ++g) {
    ShownRun::Glyph glyph;
    const auto [from, to] = glyphText_[g];
    std::u32string_view shown = text.substr(from, to - from);
    if (rtl && shown.size() > 1) {
      // Readers turn right-to-left text around character by character, so a
      // glyph that stands for several characters (lam-alef) holds them in page
      // order, to come back in reading order.
      reversed_.assign(shown.rbegin(), shown.rend());
      shown = reversed_;
    }
    glyph.code = font.codeFor(info[g].gid, shown);
    const double target = wanted + info[g].xOffset * scale;
    glyph.before = Rounded(static_cast<double>(at) - target);
    at -= glyph.before;
    at += font.shownWidth(info[g].gid);
    glyph.rise = Rounded(info[g].yOffset * scale);
    wanted += info[g].xAdvance * scale;
    run.glyphs.push_back(glyph);
  }
  run.after = Rounded(static_cast<double>(at) - wanted);
}

const std::uint32_t* LineShaper::findKept(std::uint64_t hash, int font, std::uint32_t script,
                                          bool rtl, std::u32string_view chars) const {
  if (kept_.empty()) return nullptr;
  const std::size_t mask = kept_.size() - 1;
  const auto check = static_cast<std::uint32_t>(hash >> 32);
  for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    const KeptSlot& k = kept_[slot];
    if (k.at == 0) return nullptr;
    if (k.check != check) continue;
    const std::uint32_t* r = keptRecords_.data() + (k.at - 1);
    if (r[0] == static_cast<std::uint32_t>(hash) && r[2] == chars.size() &&
        r[5] == static_cast<std::uint32_t>(font) && r[6] == (script | (rtl ? kKeptRtl : 0u)) &&
        std::equal(chars.begin(), chars.end(), r + kKeptHeader,
                   [](char32_t c, std::uint32_t k) { return static_cast<std::uint32_t>(c) == k; })) {
      return r;
    }
  }
}

void LineShaper::placeKept(std::uint64_t hash, std::uint32_t at) {
  const std::size_t mask = kept_.size() - 1;
  std::size_t slot = hash & mask;
  while (kept_[slot].at != 0) slot = (slot + 1) & mask;
  kept_[slot] = {static_cast<std::uint32_t>(hash >> 32), at + 1};
}

void LineShaper::keepRun(std::uint64_t hash, int font, std::uint32_t script, bool rtl,
                         std::u32string_view chars, const ShownRun& run) {
  // The kept runs stay within a bound: when half of kKeptSlots are taken,
  // they are let go and kept anew.
  if (kept_.empty() || keptCount_ >= kKeptSlots / 2) {
    kept_.assign(kFirstKeptSlots, KeptSlot{});
    keptRecords_.clear();
    keptRecords_.reserve(kFirstKeptSlots * 16);
    keptGlyphs_.clear();
    keptGlyphs_.reserve(kFirstKeptSlots * 8);
    keptCount_ = 0;
  } else if (2 * (keptCount_ + 1) > kept_.size()) {
    // Twice the slots, the records placed anew.
    kept_.assign(2 * kept_.size(), KeptSlot{});
    for (std::size_t at = 0; at < keptRecords_.size();) {
      const std::uint32_t* r = keptRecords_.data() + at;
      placeKept((static_cast<std::uint64_t>(r[1]) << 32) | r[0], static_cast<std::uint32_t>(at));
      at += kKeptHeader + r[2];
    }
  }
  const std::size_t at = keptRecords_.size();
  keptRecords_.resize(at + kKeptHeader + chars.size());
  std::uint32_t* r = keptRecords_.data() + at;
  r[0] = static_cast<std::uint32_t>(hash);
  r[1] = static_cast<std::uint32_t>(hash >> 32);
  r[2] = static_cast<std::uint32_t>(chars.size());
  r[3] = static_cast<std::uint32_t>(run.glyphs.size());
  r[4] = static_cast<std::uint32_t>(run.after);
  r[5] = static_cast<std::uint32_t>(font);
  r[6] = script | (rtl ? kKeptRtl : 0u);
  r[7] = static_cast<std::uint32_t>(keptGlyphs_.size());
  std::copy(chars.begin(), chars.end(), r + kKeptHeader);
  keptGlyphs_.insert(keptGlyphs_.end(), run.glyphs.begin(), run.glyphs.end());
  placeKept(hash, static_cast<std::uint32_t>(at));
  ++keptCount_;
}

bool LineShaper::joinCharacters(std::u32string_view text, std::size_t lo, std::size_t hi,
                                std::uint32_t script, ShownRun& run) {
  // A run whose glyphs no lookup of the font looks at or makes is shaped the
  // same as its characters one by one: each becomes its own glyph, placed by
  // its own advance. Each character is shaped alone once and remembered.
  const int fontIndex = run.font;
  if (fontIndex >= kMostJoinedFonts) return false;
  EmbeddedFont& font = fonts_.font(fontIndex);
  const std::uint64_t fontAndScript = (static_cast<std::uint64_t>(fontIndex) << 32) | script;
  if (fontAndScript != lastFontAndScript_) {
    auto known = lookupGlyphs_.find(fontAndScript);
    if (known == lookupGlyphs_.end()) {
      // The properties of a run's buffer, as HarfBuzz gets them in shapeRun.
      hb_buffer_clear_contents(buffer_);
      hb_buffer_set_direction(buffer_, HB_DIRECTION_LTR);
      hb_buffer_set_script(buffer_, static_cast<hb_script_t>(script));
      hb_buffer_guess_segment_properties(buffer_);
      hb_segment_properties_t props;
      hb_buffer_get_segment_properties(buffer_, &props);
      known = lookupGlyphs_.emplace(fontAndScript, GlyphsInLookups(font.hbFont(), props)).first;
    }
    lastFontAndScript_ = fontAndScript;
    lastLookupGlyphs_ = known->second;
  }
  const hb_set_t* inLookups = lastLookupGlyphs_;
  if (inLookups == nullptr) return false;
  hb_unicode_funcs_t* u = hb_unicode_funcs_get_default();

  // First whether every character may stand as it is; only then are codes
  // given out, in the order of the glyphs, as shaping the run would give them.
  auto keyOf = [&](char32_t c) {
    return (static_cast<std::uint64_t>(fontIndex) << 53) ^ (static_cast<std::uint64_t>(script) << 21) ^ c;
  };
  shown_.resize(hi - lo);
  bool added = false;
  for (std::size_t i = lo; i < hi; ++i) {
    const char32_t c = text[i];
    Alone* found = alone_.find(keyOf(c));
    if (found == nullptr) {
      added = true;
      Alone shaped;
      hb_codepoint_t nominal = 0;
      if (StandsAlone(u, c) && hb_font_get_nominal_glyph(font.hbFont(), c, &nominal) != 0 &&
          nominal != 0 && hb_set_has(inLookups, nominal) == 0) {
        hb_buffer_clear_contents(buffer_);
        const auto unit = static_cast<std::uint32_t>(c);
        hb_buffer_add_utf32(buffer_, &unit, 1, 0, 1);
        hb_buffer_set_direction(buffer_, HB_DIRECTION_LTR);
        hb_buffer_set_script(buffer_, static_cast<hb_script_t>(script));
        hb_buffer_guess_segment_properties(buffer_);
        hb_shape(font.hbFont(), buffer_, nullptr, 0);
        unsigned count = 0;
        const hb_glyph_info_t* info = hb_buffer_get_glyph_infos(buffer_, &count);
        const hb_glyph_position_t* pos = hb_buffer_get_glyph_positions(buffer_, nullptr);
        if (count == 1 && info[0].codepoint == nominal) {
          shaped.clear = true;
          shaped.glyph = {nominal, 0, pos[0].x_advance, pos[0].x_offset, pos[0].y_offset};
        }
      }
      found = alone_.insert(keyOf(c), shaped).first;
    }
    if (!found->clear) return false;
    shown_[i - lo] = found;
  }
  // An insert may have moved the characters found before it.
  if (added) {
    for (std::size_t i = lo; i < hi; ++i) shown_[i - lo] = alone_.find(keyOf(text[i]));
  }

  // Positions as shapeRun gives them for glyphs from shaping.
  const double scale = 1000.0 / font.unitsPerEm();
  double wanted = 0;
  std::int64_t at = 0;
  run.glyphs.resize(hi - lo);
  ShownRun::Glyph* glyph = run.glyphs.data();
  for (std::size_t i = lo; i < hi; ++i, ++glyph) {
    Alone& a = *shown_[i - lo];
    if (!a.coded) {
      a.code = font.codeFor(a.glyph.gid, text.substr(i, 1));
      a.width = font.shownWidth(a.glyph.gid);
      a.coded = true;
    }
    const double target = wanted + a.glyph.xOffset * scale;
    glyph->code = a.code;
    glyph->before = Rounded(static_cast<double>(at) - target);
    at -= glyph->before;
    at += a.width;
    glyph->rise = Rounded(a.glyph.yOffset * scale);
    wanted += a.glyph.xAdvance * scale;
  }
  run.after = Rounded(static_cast<double>(at) - wanted);
  return true;
}

}  // namespace scrivane
