#include "writer/fonts.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_CID_H
#include FT_TRUETYPE_TABLES_H
#include <hb-ot.h>
#include <hb-subset.h>
#include <hb.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "platform/failure.h"
#include "writer/text.h"

namespace scrivane {

using platform::Failure;

bool HasTable(hb_face_t* face, std::uint32_t tag) {
  hb_blob_t* blob = hb_face_reference_table(face, tag);
  const bool has = hb_blob_get_length(blob) > 0;
  hb_blob_destroy(blob);
  return has;
}

namespace {

std::string BlobBytes(hb_blob_t* blob) {
  unsigned int length = 0;
  const char* data = hb_blob_get_data(blob, &length);
  return std::string(data == nullptr ? "" : data, length);
}

// UTF-16BE in hexadecimal, surrogate pairs for characters past the BMP.
std::string Utf16Hex(std::u32string_view text) {
  std::string out;
  char unit[8];
  auto put = [&](unsigned value) {
    std::snprintf(unit, sizeof unit, "%04X", value);
    out += unit;
  };
  for (char32_t c : text) {
    if (c >= 0x10000) {
      const char32_t v = c - 0x10000;
      put(0xD800 + static_cast<unsigned>(v >> 10));
      put(0xDC00 + static_cast<unsigned>(v & 0x3FF));
    } else {
      put(static_cast<unsigned>(c));
    }
  }
  return out;
}

// A PostScript name holds no blanks, delimiters or controls.
std::string CleanName(std::string name) {
  std::string out;
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u > 0x20 && u < 0x7F && std::string_view("()<>[]{}/%#").find(c) == std::string_view::npos) {
      out += c;
    }
  }
  return out.empty() ? "Font" : out;
}

// Six capitals that differ between subsets of one font, the same for the same glyphs.
std::string SubsetTag(const std::string& name, const std::vector<std::uint32_t>& glyphs) {
  std::uint64_t hash = 1469598103934665603ull;
  auto mix = [&](std::uint64_t v) {
    hash ^= v;
    hash *= 1099511628211ull;
  };
  for (char c : name) mix(static_cast<unsigned char>(c));
  for (std::uint32_t g : glyphs) mix(g);
  std::string tag;
  for (int k = 0; k < 6; ++k) {
    tag += static_cast<char>('A' + hash % 26);
    hash /= 26;
  }
  return tag;
}

std::int32_t Thousandths(double value, std::uint32_t upem) {
  return static_cast<std::int32_t>(std::lround(value * 1000.0 / upem));
}

// The /W array in lines of at most sixteen widths: "first [ w w ... ]" for each
// run of consecutive codes.
std::vector<std::string> WidthLines(const std::vector<std::pair<std::uint32_t, std::int32_t>>& widths) {
  std::vector<std::string> lines;
  std::size_t k = 0;
  while (k < widths.size()) {
    std::string line = std::to_string(widths[k].first) + " [";
    std::size_t n = 0;
    std::uint32_t next = widths[k].first;
    while (k < widths.size() && widths[k].first == next && n < 16) {
      line += ' ';
      line += std::to_string(widths[k].second);
      ++k, ++n, ++next;
    }
    line += " ]";
    lines.push_back(std::move(line));
  }
  return lines;
}

class FreeTypeFace {
 public:
  FreeTypeFace(const std::string& path, int index) {
    if (FT_Init_FreeType(&library_) != 0) throw Failure("cannot start FreeType");
    if (FT_New_Face(library_, path.c_str(), index, &face_) != 0) {
      FT_Done_FreeType(library_);
      throw Failure("cannot read font file '" + path + "'");
    }
  }
  ~FreeTypeFace() {
    FT_Done_Face(face_);
    FT_Done_FreeType(library_);
  }
  FreeTypeFace(const FreeTypeFace&) = delete;
  FreeTypeFace& operator=(const FreeTypeFace&) = delete;
  FT_Face get() const { return face_; }

 private:
  FT_Library library_ = nullptr;
  FT_Face face_ = nullptr;
};

}  // namespace

EmbeddedFont::EmbeddedFont(const std::string& path, int index) : path_(path), index_(index) {
  hb_blob_t* blob = hb_blob_create_from_file_or_fail(path.c_str());
  if (blob == nullptr) throw Failure("cannot read font file '" + path + "'");
  face_ = hb_face_create(blob, static_cast<unsigned>(index));
  hb_blob_destroy(blob);
  glyphCount_ = hb_face_get_glyph_count(face_);
  upem_ = hb_face_get_upem(face_);
  const bool glyf = HasTable(face_, HB_TAG('g', 'l', 'y', 'f'));
  cff_ = !glyf && HasTable(face_, HB_TAG('C', 'F', 'F', ' '));
  if (glyphCount_ == 0 || upem_ == 0 || (!glyf && !cff_)) {
    hb_face_destroy(face_);
    throw Failure("'" + path + "' is not a TrueType or OpenType font");
  }
  if (cff_) {
    // Codes are glyph numbers in a CFF font, which a CID-keyed one does not allow.
    FreeTypeFace ft(path, index);
    FT_Bool cid = 0;
    if (FT_Get_CID_Is_Internally_CID_Keyed(ft.get(), &cid) == 0 && cid) {
      hb_face_destroy(face_);
      throw Failure("'" + path + "' is a CID-keyed OpenType font, which cannot be embedded");
    }
  }
  font_ = hb_font_create(face_);
  hb_font_set_scale(font_, static_cast<int>(upem_), static_cast<int>(upem_));
}

EmbeddedFont::~EmbeddedFont() {
  hb_font_destroy(font_);
  hb_face_destroy(face_);
}

bool EmbeddedFont::hasChar(char32_t c) const {
  hb_codepoint_t gid = 0;
  return hb_font_get_nominal_glyph(font_, c, &gid) != 0 && gid != 0;
}

std::int32_t EmbeddedFont::width(std::uint32_t gid) const {
  return Thousandths(hb_font_get_glyph_h_advance(font_, gid), upem_);
}

namespace {

constexpr std::uint32_t kNoCharacter = 0xFFFFFFFF;
constexpr std::int16_t kUnchosen = -2;
constexpr std::int32_t kUnknownWidth = std::numeric_limits<std::int32_t>::min();

}  // namespace

std::int32_t EmbeddedFont::shownWidth(std::uint32_t gid) {
  if (gid >= glyphCount_) return width(gid);
  if (shownWidths_.empty()) shownWidths_.assign(glyphCount_, kUnknownWidth);
  std::int32_t& w = shownWidths_[gid];
  if (w == kUnknownWidth) w = width(gid);
  return w;
}

std::uint16_t EmbeddedFont::codeFor(std::uint32_t gid, std::u32string_view text) {
  if (cff_) {
    // A CFF program is shown by glyph numbers; the first text seen for a glyph is its text.
    if (cffGlyphSeen_.size() <= gid) cffGlyphSeen_.resize(std::max<std::size_t>(gid + 1, glyphCount_));
    if (!cffGlyphSeen_[gid]) {
      cffGlyphSeen_[gid] = true;
      codes_.emplace_back(gid, std::u32string(text));
    }
    return static_cast<std::uint16_t>(gid);
  }
  std::uint16_t* code = nullptr;
  if (text.size() <= 1) {
    const std::uint64_t key = (static_cast<std::uint64_t>(gid) << 32) |
                              (text.empty() ? kNoCharacter : static_cast<std::uint32_t>(text[0]));
    const auto [at, added] = shortCodeOf_.try_emplace(key, 0);
    if (!added) return at->second;
    code = &at->second;
  } else {
    key_.assign(1, static_cast<char32_t>(gid));
    key_.append(text);
    if (const auto found = longCodeOf_.find(std::u32string_view(key_)); found != longCodeOf_.end()) {
      return found->second;
    }
    code = &longCodeOf_.emplace(key_, 0).first->second;
  }
  if (codes_.size() >= 0xFFFE) {
    if (text.size() <= 1) {
      shortCodeOf_.erase((static_cast<std::uint64_t>(gid) << 32) |
                         (text.empty() ? kNoCharacter : static_cast<std::uint32_t>(text[0])));
    } else {
      longCodeOf_.erase(key_);
    }
    throw Failure("a font needs more than 65534 distinct glyphs");
  }
  codes_.emplace_back(gid, std::u32string(text));
  *code = static_cast<std::uint16_t>(codes_.size());
  return *code;
}

FontObjects EmbeddedFont::finish() const {
  FontObjects o;
  o.cff = cff_;

  std::vector<std::uint32_t> glyphs;
  hb_subset_input_t* input = hb_subset_input_create_or_fail();
  if (input == nullptr) throw Failure("out of memory while subsetting '" + path_ + "'");
  // The subset is asked for by characters when every glyph shown is the one
  // that the font's cmap gives its single character: the same glyphs (the
  // missing-glyph box comes with every subset), but HarfBuzz, asked for
  // glyphs, first reads the font's whole cmap to find their characters,
  // several milliseconds for a CJK font. Ligatures, contextual forms and the
  // missing-glyph box shown for a character are asked for by glyph.
  bool byCharacter = true;
  for (const auto& [gid, text] : codes_) {
    hb_codepoint_t nominal = 0;
    if (text.size() != 1 || hb_font_get_nominal_glyph(font_, text[0], &nominal) == 0 || nominal != gid) {
      byCharacter = false;
      break;
    }
  }
  hb_set_t* glyphSet = hb_subset_input_glyph_set(input);
  hb_set_t* characters = hb_subset_input_unicode_set(input);
  if (!byCharacter) hb_set_add(glyphSet, 0);
  for (const auto& [gid, text] : codes_) {
    if (byCharacter) {
      hb_set_add(characters, text[0]);
    } else {
      hb_set_add(glyphSet, gid);
    }
    glyphs.push_back(gid);
  }
  // The PDF shows glyphs by number and never shapes again, so the layout
  // tables go; leaving GSUB in would also pull in every glyph a used one can
  // become.
  hb_set_t* drop = hb_subset_input_set(input, HB_SUBSET_SETS_DROP_TABLE_TAG);
  for (const char* tag : {"GSUB", "GPOS", "GDEF", "BASE", "JSTF", "MATH", "morx", "mort", "kerx",
                          "kern", "feat", "trak", "DSIG", "hdmx", "LTSH", "VDMX", "vhea", "vmtx",
                          "VORG", "COLR", "CPAL", "SVG ", "sbix", "CBDT", "CBLC", "EBDT", "EBLC"}) {
    hb_set_add(drop, hb_tag_from_string(tag, 4));
  }
  unsigned flags = HB_SUBSET_FLAGS_NO_HINTING | HB_SUBSET_FLAGS_NOTDEF_OUTLINE;
  if (cff_) flags |= HB_SUBSET_FLAGS_RETAIN_GIDS | HB_SUBSET_FLAGS_DESUBROUTINIZE;
  hb_subset_input_set_flags(input, flags);
  hb_subset_plan_t* plan = hb_subset_plan_create_or_fail(face_, input);
  hb_subset_input_destroy(input);
  if (plan == nullptr) throw Failure("cannot subset the font '" + path_ + "'");
  hb_face_t* subset = hb_subset_plan_execute_or_fail(plan);
  if (subset == nullptr) {
    hb_subset_plan_destroy(plan);
    throw Failure("cannot subset the font '" + path_ + "'");
  }
  if (cff_) {
    hb_blob_t* table = hb_face_reference_table(subset, HB_TAG('C', 'F', 'F', ' '));
    o.program = BlobBytes(table);
    hb_blob_destroy(table);
  } else {
    hb_blob_t* blob = hb_face_reference_blob(subset);
    o.program = BlobBytes(blob);
    hb_blob_destroy(blob);
    const hb_map_t* newGlyph = hb_subset_plan_old_to_new_glyph_mapping(plan);
    o.cidToGidMap.assign(2 * (codes_.size() + 1), '\0');
    for (std::size_t k = 0; k < codes_.size(); ++k) {
      const hb_codepoint_t g = hb_map_get(newGlyph, codes_[k].first);
      const std::uint32_t gid = g == HB_MAP_VALUE_INVALID ? 0 : g;
      o.cidToGidMap[2 * (k + 1)] = static_cast<char>(gid >> 8);
      o.cidToGidMap[2 * (k + 1) + 1] = static_cast<char>(gid & 0xFF);
    }
  }
  hb_face_destroy(subset);
  hb_subset_plan_destroy(plan);
  if (o.program.empty()) throw Failure("cannot subset the font '" + path_ + "'");

  // Widths and the text of every code.
  std::vector<std::pair<std::uint32_t, std::int32_t>> widths;
  std::vector<std::pair<std::uint32_t, const std::u32string*>> texts;
  if (cff_) {
    std::map<std::uint32_t, const std::u32string*> byGlyph;
    for (const auto& [gid, text] : codes_) byGlyph.emplace(gid, &text);
    for (const auto& [gid, text] : byGlyph) {
      widths.emplace_back(gid, width(gid));
      texts.emplace_back(gid, text);
    }
  } else {
    for (std::size_t k = 0; k < codes_.size(); ++k) {
      const auto code = static_cast<std::uint32_t>(k + 1);
      widths.emplace_back(code, width(codes_[k].first));
      texts.emplace_back(code, &codes_[k].second);
    }
  }
  o.widths = WidthLines(widths);
  o.defaultWidth = width(0);

  std::vector<std::string> entries;
  for (const auto& [code, text] : texts) {
    if (text->empty()) continue;
    char hex[8];
    std::snprintf(hex, sizeof hex, "%04X", static_cast<unsigned>(code));
    entries.push_back(std::string("<") + hex + "> <" + Utf16Hex(*text) + ">");
  }
  std::string& cmap = o.toUnicode;
  cmap =
      "/CIDInit /ProcSet findresource begin\r12 dict begin\rbegincmap\r"
      "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\r"
      "/CMapName /Adobe-Identity-UCS def\r/CMapType 2 def\r"
      "1 begincodespacerange\r<0000> <FFFF>\rendcodespacerange";
  for (std::size_t k = 0; k < entries.size(); k += 100) {
    const std::size_t n = std::min<std::size_t>(100, entries.size() - k);
    cmap += "\r" + std::to_string(n) + " beginbfchar";
    for (std::size_t j = k; j < k + n; ++j) cmap += "\r" + entries[j];
    cmap += "\rendbfchar";
  }
  cmap += "\rendcmap\rCMapName currentdict /CMap defineresource pop\rend\rend";

  // The descriptor's numbers, in thousandths of an em.
  FreeTypeFace ft(path_, index_);
  const FT_Face f = ft.get();
  const char* psName = FT_Get_Postscript_Name(f);
  const std::string name = CleanName(psName != nullptr ? psName : "");
  o.baseFont = SubsetTag(name, glyphs) + "+" + name;
  const std::uint32_t upem = f->units_per_EM != 0 ? f->units_per_EM : upem_;
  o.bbox[0] = Thousandths(static_cast<double>(f->bbox.xMin), upem);
  o.bbox[1] = Thousandths(static_cast<double>(f->bbox.yMin), upem);
  o.bbox[2] = Thousandths(static_cast<double>(f->bbox.xMax), upem);
  o.bbox[3] = Thousandths(static_cast<double>(f->bbox.yMax), upem);
  o.ascent = Thousandths(f->ascender, upem);
  o.descent = Thousandths(f->descender, upem);
  o.capHeight = o.ascent;
  if (const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(f, FT_SFNT_OS2));
      os2 != nullptr && os2->version >= 2 && os2->sCapHeight > 0) {
    o.capHeight = Thousandths(os2->sCapHeight, upem);
  }
  double italic = 0;
  if (const auto* post = static_cast<const TT_Postscript*>(FT_Get_Sfnt_Table(f, FT_SFNT_POST))) {
    italic = static_cast<double>(post->italicAngle) / 65536.0;
  }
  o.italicAngle = DoubleText(std::round(italic * 100) / 100);
  // Symbolic: the glyphs are not in the standard Latin set; fixed pitch and italic as the font says.
  o.flags = 4;
  if (FT_IS_FIXED_WIDTH(f)) o.flags |= 1;
  if (italic != 0) o.flags |= 64;
  return o;
}

struct FontSet::Candidate {
  std::string path;
  int index = 0;
  FcCharSet* charset = nullptr;  // owned; null for the user's font file
  std::unique_ptr<EmbeddedFont> font;
  bool failed = false;
  int resource = 0;
  // Whether the font has a character of the Basic Multilingual Plane, once
  // asked of it as the preferred font: 0 not yet known, 1 yes, 2 no.
  std::vector<std::uint8_t> hasInPlane0;
  ~Candidate() {
    if (charset != nullptr) FcCharSetDestroy(charset);
  }
};

namespace {

// The system's font configuration and its fonts. FcInitLoadConfigAndFonts
// also parses every available configuration that is not enabled, only to
// describe it (a third of its time, for nothing used here); this loads what
// it loads otherwise, and leaves the unusual cases to it: no configuration
// file, or one without a cache directory.
FcConfig* LoadFontConfig() {
  FcConfig* config = FcConfigCreate();
  if (config != nullptr && FcConfigParseAndLoad(config, nullptr, FcFalse) != FcFalse) {
    FcStrList* cacheDirs = FcConfigGetCacheDirs(config);
    const bool cached = cacheDirs != nullptr && FcStrListNext(cacheDirs) != nullptr;
    if (cacheDirs != nullptr) FcStrListDone(cacheDirs);
    if (cached && FcConfigBuildFonts(config) != FcFalse) return config;
  }
  if (config != nullptr) FcConfigDestroy(config);
  return FcInitLoadConfigAndFonts();
}

}  // namespace

FontSet::FontSet(const std::string& standardFont, const std::optional<std::string>& fontFile) {
  if (fontFile) {
    auto c = std::make_unique<Candidate>();
    c->path = *fontFile;
    c->font = std::make_unique<EmbeddedFont>(*fontFile, 0);
    candidates_.push_back(std::move(c));
  }
  FcConfig* config = LoadFontConfig();
  if (config == nullptr) return;
  FcPattern* pattern = FcPatternCreate();
  const char* first = "Liberation Serif";
  const char* generic = "serif";
  if (standardFont == "Courier") {
    first = "Liberation Mono";
    generic = "monospace";
  } else if (standardFont == "Arial") {
    first = "Liberation Sans";
    generic = "sans-serif";
  }
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(first));
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(generic));
  FcConfigSubstitute(config, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  // Trimmed: a font that covers nothing the fonts before it lack is left out.
  FcFontSet* sorted = FcFontSort(config, pattern, FcTrue, nullptr, &result);
  if (sorted != nullptr) {
    for (int k = 0; k < sorted->nfont; ++k) {
      FcPattern* p = sorted->fonts[k];
      FcChar8* file = nullptr;
      FcChar8* format = nullptr;
      FcCharSet* charset = nullptr;
      int index = 0;
      if (FcPatternGetString(p, FC_FILE, 0, &file) != FcResultMatch ||
          FcPatternGetCharSet(p, FC_CHARSET, 0, &charset) != FcResultMatch) {
        continue;
      }
      FcPatternGetInteger(p, FC_INDEX, 0, &index);
      // Only outlines that HarfBuzz can subset: TrueType and OpenType CFF.
      if (FcPatternGetString(p, FC_FONTFORMAT, 0, &format) == FcResultMatch) {
        const std::string_view f(reinterpret_cast<const char*>(format));
        if (f != "TrueType" && f != "CFF") continue;
      }
      auto c = std::make_unique<Candidate>();
      c->path = reinterpret_cast<const char*>(file);
      c->index = index;
      c->charset = FcCharSetCopy(charset);
      candidates_.push_back(std::move(c));
    }
    FcFontSetDestroy(sorted);
  }
  FcPatternDestroy(pattern);
  FcConfigDestroy(config);
}

FontSet::FontSet(const FontSet& same, Alike) {
  for (const auto& from : same.candidates_) {
    auto c = std::make_unique<Candidate>();
    c->path = from->path;
    c->index = from->index;
    c->failed = from->failed;
    if (from->charset != nullptr) {
      c->charset = FcCharSetCopy(from->charset);
    } else if (from->font) {
      c->font = std::make_unique<EmbeddedFont>(c->path, c->index);
    }
    candidates_.push_back(std::move(c));
  }
}

FontSet::~FontSet() = default;

EmbeddedFont* FontSet::load(std::size_t k) {
  Candidate& c = *candidates_[k];
  if (!c.font && !c.failed) {
    try {
      c.font = std::make_unique<EmbeddedFont>(c.path, c.index);
    } catch (const Failure&) {
      // An installed font that cannot be used is passed over for the next.
      c.failed = true;
    }
  }
  return c.font.get();
}

bool FontSet::candidateHas(std::size_t k, char32_t c, bool remember) {
  Candidate& cand = *candidates_[k];
  if (cand.failed) return false;
  std::uint8_t* known = nullptr;
  if (remember && c < 0x10000) {
    if (cand.hasInPlane0.empty()) {
      cand.hasInPlane0.assign(0x10000, 0);
      if (hasInPlane0_.size() <= k) hasInPlane0_.resize(k + 1, nullptr);
      hasInPlane0_[k] = cand.hasInPlane0.data();
    }
    known = &cand.hasInPlane0[c];
    if (*known != 0) return *known == 1;
  }
  bool has = false;
  if (cand.charset == nullptr || FcCharSetHasChar(cand.charset, c)) {
    EmbeddedFont* font = load(k);
    has = font != nullptr && font->hasChar(c);
  }
  if (known != nullptr) *known = has ? 1 : 2;
  return has;
}

int FontSet::chooseFont(char32_t c, int preferred) {
  if (preferred >= 0 && static_cast<std::size_t>(preferred) < candidates_.size() &&
      candidateHas(static_cast<std::size_t>(preferred), c, /*remember=*/true)) {
    return preferred;
  }
  std::int16_t* remembered = nullptr;
  if (c < 0x10000 && candidates_.size() <= INT16_MAX) {
    if (chosenInPlane0_.empty()) chosenInPlane0_.assign(0x10000, kUnchosen);
    remembered = &chosenInPlane0_[c];
    if (*remembered != kUnchosen) return *remembered;
  } else if (const auto found = chosenBeyond_.find(c); found != chosenBeyond_.end()) {
    return found->second;
  }
  int chosen = -1;
  for (std::size_t k = 0; k < candidates_.size(); ++k) {
    if (candidateHas(k, c)) {
      chosen = static_cast<int>(k);
      break;
    }
  }
  if (chosen < 0) {
    // HarfBuzz draws a character that a font lacks from the parts it decomposes
    // into, when the font has them all (Hangul syllables from their letters).
    std::u32string parts;
    hb_unicode_funcs_t* u = hb_unicode_funcs_get_default();
    std::u32string pending(1, c);
    while (!pending.empty() && parts.size() < 8) {
      const char32_t p = pending.back();
      pending.pop_back();
      hb_codepoint_t a = 0, b = 0;
      if (hb_unicode_decompose(u, p, &a, &b) != 0) {
        if (b != 0) pending.push_back(b);
        pending.push_back(a);
      } else {
        parts.push_back(p);
      }
    }
    if (parts.size() > 1) {
      for (std::size_t k = 0; k < candidates_.size() && chosen < 0; ++k) {
        bool all = true;
        for (char32_t p : parts) all = all && candidateHas(k, p);
        if (all) chosen = static_cast<int>(k);
      }
    }
  }
  if (remembered != nullptr) {
    *remembered = static_cast<std::int16_t>(chosen);
  } else {
    chosenBeyond_.emplace(c, chosen);
  }
  return chosen;
}

int FontSet::fallbackFont() {
  if (fallback_) return *fallback_;
  // The first font whose missing-glyph glyph is a visible box; some draw nothing.
  int first = -1;
  for (std::size_t k = 0; k < candidates_.size(); ++k) {
    EmbeddedFont* font = load(k);
    if (font == nullptr) continue;
    if (first < 0) first = static_cast<int>(k);
    hb_glyph_extents_t extents{};
    if (hb_font_get_glyph_extents(font->hbFont(), 0, &extents) != 0 && extents.width != 0 &&
        extents.height != 0) {
      fallback_ = static_cast<int>(k);
      return *fallback_;
    }
  }
  fallback_ = first;
  return first;
}

EmbeddedFont& FontSet::font(int index) {
  // Opened here when text shaped by another engine alike to this one needs it.
  EmbeddedFont* font = load(static_cast<std::size_t>(index));
  if (font == nullptr) {
    throw Failure("the font '" + candidates_[static_cast<std::size_t>(index)]->path + "' cannot be opened");
  }
  return *font;
}

int FontSet::resourceNumber(int index) {
  Candidate& c = *candidates_[static_cast<std::size_t>(index)];
  if (c.resource == 0) {
    usedOrder_.push_back(index);
    c.resource = static_cast<int>(usedOrder_.size()) + 1;
  }
  return c.resource;
}

}  // namespace scrivane
