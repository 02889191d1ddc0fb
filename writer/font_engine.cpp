#include "writer/font_engine.h"

#include "writer/fonts.h"
#include "writer/shaping.h"

namespace scrivane {
namespace {

class LibraryFontEngine final : public FontEngine {
 public:
  LibraryFontEngine(const std::string& standardFont, const std::optional<std::string>& fontFile)
      : fonts_(standardFont, fontFile), shaper_(fonts_), measurer_(fonts_) {}
  explicit LibraryFontEngine(const FontSet& same)
      : fonts_(same, FontSet::Alike{}), shaper_(fonts_), measurer_(fonts_) {}

  std::span<const ShownRun> shape(std::u32string_view text) override {
    return shaper_.shape(text);
  }
  std::vector<bool> cutPoints(std::u32string_view text) override { return CutPoints(text); }
  std::int64_t width(std::u32string_view text, const FontWidths& classic) override {
    std::int64_t w = 0;
    for (const ShownRun& run : measurer_.shape(text)) {
      if (run.font < 0) {
        for (const char c : run.classic) w += classic[static_cast<unsigned char>(c)];
        continue;
      }
      // Each adjustment moves the pen back by its amount, as in a TJ array.
      EmbeddedFont& font = fonts_.font(run.font);
      for (const ShownRun::Glyph& glyph : run.glyphs) w += font.codeWidth(glyph.code) - glyph.before;
      w -= run.after;
    }
    return w;
  }
  const MissingGlyphs& missing() const override { return shaper_.missing(); }
  const std::vector<int>& usedOrder() const override { return fonts_.usedOrder(); }
  int resourceNumber(int font) override { return fonts_.resourceNumber(font); }
  FontObjects finish(int font) override { return fonts_.font(font).finish(); }

  std::unique_ptr<FontEngine> alike() override {
    try {
      return std::make_unique<LibraryFontEngine>(fonts_);
    } catch (const std::exception&) {
      return nullptr;
    }
  }
  std::size_t codesGiven(int font, std::size_t from, std::vector<GivenCode>& out) override {
    const EmbeddedFont& f = fonts_.font(font);
    const auto& codes = f.codes();
    for (std::size_t k = from; k < codes.size(); ++k) {
      const auto code = static_cast<std::uint16_t>(f.codesAreGlyphs() ? codes[k].first : k + 1);
      out.push_back({code, codes[k].first, codes[k].second});
    }
    return codes.size();
  }
  std::uint16_t codeFor(int font, std::uint32_t gid, std::u32string_view text) override {
    return fonts_.font(font).codeFor(gid, text);
  }
  void noteMissing(std::size_t count, std::u32string_view first) override {
    shaper_.noteMissing(count, first);
  }

 private:
  FontSet fonts_;
  LineShaper shaper_;
  // Its own shaper, so that lines tried for a fit count no missing glyphs twice.
  LineShaper measurer_;
};

class LibraryFontModule final : public FontModule {
 public:
  void checkFontFile(const std::string& path) override { const EmbeddedFont font(path, 0); }

  std::unique_ptr<FontEngine> open(const std::string& standardFont,
                                   const std::optional<std::string>& fontFile) override {
    return std::make_unique<LibraryFontEngine>(standardFont, fontFile);
  }
};

}  // namespace

std::unique_ptr<FontModule> NewFontModule() { return std::make_unique<LibraryFontModule>(); }

}  // namespace scrivane
