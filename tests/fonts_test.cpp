// Text that Windows-1252 lacks, shown in embedded fonts: what readers get back,
// how the fonts are embedded, and that nothing changes for the text it has.

#include <gtest/gtest.h>
#include <hb.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/std_files.h"
#include "tests/support/fakes.h"
#include "tests/support/pdf_tools.h"
#include "tests/support/temp_dir.h"
#include "writer/font_engine.h"
#include "writer/shaping.h"
#include "writer/text.h"
#include "writer/writer.h"

namespace scrivane {
namespace {

using testing::FakeMessageBox;
using testing::FixedClock;
using testing::PdfToText;
using testing::QpdfFindings;
using testing::ReadFile;
using testing::RunCommand;
using testing::ShellQuote;
using testing::TempDir;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// The corpus: every left-to-right line must come back exactly.
const std::vector<std::string> kLeftToRight = {
    "English with accents: café, naïve, Zürich, façade",
    "Greek: Καλημέρα κόσμε, ο Ήλιος λάμπει",
    "Russian: Съешь же ещё этих мягких французских булок",
    "Chinese: 我能吞下玻璃而不伤身体。",
    "Japanese: いろはにほへと ちりぬるを カタカナ 漢字",
    "Korean: 다람쥐 헌 쳇바퀴에 타고파",
    // Vietnamese with its marks as combining characters, not precomposed.
    "Vietnamese: Tie\xCC\x82\xCC\x81ng Vie\xCC\xA3\xCC\x82t co\xCC\x81 da\xCC\x82\xCC\x81u",
    "Hindi: नमस्ते दुनिया, हिन्दी",
    "Math: ∀x ∈ ℝ: x² ≥ 0, ∑ ∫ √2 ≠ ∞",
    "Mixed: Hello Мир 世界 Ελλάδα",
    "Emoji: 😀 ☺",
};
const std::vector<std::string> kRightToLeft = {
    "السلام عليكم مرحبا بالعالم",
    "שלום עולם מה שלומך",
};

class FontsTest : public ::testing::Test {
 protected:
  bool Convert(const std::string& text, bool embed, const std::string& font = "Times-Roman",
               const std::string& title = "") {
    input = dir.write("in.txt", text);
    std::remove(output.c_str());
    writer.setFontSettings(Embedding(embed));
    return writer.ConvertToPDF(input, output, "", "", "", "", title, font, 10, 0, 8.5f, 11.f);
  }

  // Option mode's font settings, with the font code linked into the test.
  FontSettings Embedding(bool embed, std::optional<std::string> fontFile = std::nullopt) {
    return {embed, std::move(fontFile), true, [this](std::string&) { return fonts.get(); }, nullptr};
  }

  // pdffonts' rows other than the classic font's: name, then emb, sub and uni.
  std::vector<std::vector<std::string>> EmbeddedFonts() {
    const auto r = RunCommand("pdffonts " + ShellQuote(output));
    std::vector<std::vector<std::string>> rows;
    const auto lines = Lines(r.output);
    for (std::size_t k = 2; k < lines.size(); ++k) {
      std::istringstream in(lines[k]);
      std::vector<std::string> t;
      std::string w;
      while (in >> w) t.push_back(w);
      if (t.size() < 6 || t[0] == "Times-Roman" || t[0] == "Courier" || t[0] == "Arial") continue;
      rows.push_back({t[0], t[t.size() - 5], t[t.size() - 4], t[t.size() - 3]});
    }
    return rows;
  }

  std::unique_ptr<FontModule> fonts = NewFontModule();
  TempDir dir;
  std::string input;
  std::string output = dir.file("out.pdf");
  platform::StdFiles files;
  FakeMessageBox messages;
  FixedClock clock;
  PdfWriter writer{files, messages, clock};
};

TEST_F(FontsTest, EveryScriptOfTheCorpusReadsBackAndIsEmbeddedAsASubsetWithAUnicodeMap) {
  std::string text;
  for (const auto& l : kLeftToRight) text += l + "\n";
  for (const auto& l : kRightToLeft) text += l + "\n";
  ASSERT_TRUE(Convert(text, true)) << ::testing::PrintToString(messages.texts());
  EXPECT_TRUE(messages.texts().empty()) << ::testing::PrintToString(messages.texts());

  const std::string pdf = ReadFile(output);
  EXPECT_EQ(pdf.substr(0, 9), "%PDF-1.3\r");
  EXPECT_TRUE(QpdfFindings(output).empty()) << ::testing::PrintToString(QpdfFindings(output));

  const auto back = Lines(PdfToText(output));
  ASSERT_GE(back.size(), kLeftToRight.size() + kRightToLeft.size());
  for (std::size_t k = 0; k < kLeftToRight.size(); ++k) EXPECT_EQ(back[k], kLeftToRight[k]);
  for (std::size_t k = 0; k < kRightToLeft.size(); ++k) {
    const std::string& shown = back[kLeftToRight.size() + k];
    std::istringstream words(kRightToLeft[k]);
    std::string word;
    while (words >> word) EXPECT_NE(shown.find(word), std::string::npos) << word << " in " << shown;
  }

  const auto fonts = EmbeddedFonts();
  EXPECT_GE(fonts.size(), 3u);
  for (const auto& f : fonts) {
    EXPECT_EQ(f[1] + f[2] + f[3], "yesyesyes") << f[0];
    EXPECT_EQ(f[0][6], '+') << f[0];  // a subset's tag
  }
}

// Rows of a page rendered at 36 dots per inch (half a point a dot), as grey levels.
std::vector<std::string> RenderRows(const std::string& pdf, const TempDir& dir) {
  const std::string base = dir.file("page");
  RunCommand("pdftoppm -gray -r 36 -f 1 -l 1 -singlefile " + ShellQuote(pdf) + " " +
             ShellQuote(base));
  const std::string pgm = ReadFile(base + ".pgm");
  std::istringstream in(pgm);
  std::string magic;
  int width = 0, height = 0, max = 0;
  in >> magic >> width >> height >> max;
  in.get();
  std::vector<std::string> rows;
  for (int y = 0; y < height; ++y) {
    std::string row(static_cast<std::size_t>(width), '\0');
    in.read(row.data(), width);
    rows.push_back(row);
  }
  return rows;
}

TEST_F(FontsTest, EveryLineLeavesInkWhereItStands) {
  std::string text;
  for (const auto& l : kLeftToRight) text += l.substr(l.find(':') + 2) + "\n";
  for (const auto& l : kRightToLeft) text += l + "\n";
  ASSERT_TRUE(Convert(text, true));
  const auto rows = RenderRows(output, dir);
  ASSERT_EQ(rows.size(), 396u);  // 792 points
  const std::size_t lines = kLeftToRight.size() + kRightToLeft.size();
  for (std::size_t n = 1; n <= lines; ++n) {
    // Baseline n is 40 + 12n points below the top; look from 9 points above it to 2 below.
    const std::size_t base = (40 + 12 * n) / 2;
    bool ink = false;
    for (std::size_t y = base - 4; y <= base + 1; ++y) {
      for (std::size_t x = 25; x < rows[y].size(); ++x) {
        // Thin strokes come out grey at this resolution; paper is 255.
        if (static_cast<unsigned char>(rows[y][x]) < 192) ink = true;
      }
    }
    EXPECT_TRUE(ink) << "line " << n;
  }
}

TEST_F(FontsTest, TextThatWindows1252HasGivesTheSameBytesAsBefore) {
  const std::vector<std::string> inputs = {
      "Hello\nWorld (1)\n",
      "caf\xC3\xA9 na\xC3\xAFve \xE2\x82\xAC 5 \xE2\x80\x94 \xE2\x80\x9Cquoted\xE2\x80\x9D\n",
      "8-bit text: caf\xE9 \xFF\xFE\n\tTabbed\n",
      std::string(400, 'x') + " (wrapped) " + std::string(300, 'y') + "\n\fnext page\n",
  };
  for (const std::string& in : inputs) {
    ASSERT_TRUE(Convert(in, false));
    const std::string classic = ReadFile(output);
    ASSERT_TRUE(Convert(in, true));
    EXPECT_EQ(ReadFile(output), classic) << in;
    EXPECT_EQ(classic.substr(0, 9), "%PDF-1.2\r");
  }
}

TEST_F(FontsTest, TheWindowsPathShowsQuestionMarksAsSpecified) {
  ASSERT_TRUE(Convert("Ελλάδα\n", false));
  EXPECT_EQ(ReadFile(output).substr(0, 9), "%PDF-1.2\r");
  EXPECT_EQ(Lines(PdfToText(output)).front(), "??????");
}

TEST_F(FontsTest, TheFontModuleIsAskedForOnlyByTextThatNeedsItAndItsLackIsTold) {
  int asked = 0;
  const FontSettings unavailable{true, std::nullopt, true, [&](std::string& error) -> FontModule* {
                                   ++asked;
                                   error = "no module here";
                                   return nullptr;
                                 },
                                 nullptr};
  const auto convert = [&](const std::string& text) {
    input = dir.write("in.txt", text);
    writer.setFontSettings(unavailable);
    return writer.ConvertToPDF(input, output, "", "", "", "", "", "Times-Roman", 10, 0, 8.5f, 11.f);
  };
  ASSERT_TRUE(convert("plain caf\xC3\xA9\n"));
  EXPECT_EQ(asked, 0);
  EXPECT_TRUE(messages.texts().empty());

  // Without it the document is the classic one, and the warning says why.
  const std::string text = "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xAC\xCE\xB4\xCE\xB1\nplain\n";
  ASSERT_TRUE(Convert(text, false));
  const std::string classic = ReadFile(output);
  ASSERT_TRUE(convert(text));
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(ReadFile(output), classic);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text,
            "In '" + input + "', 1 line holds characters that Windows-1252 lacks, shown as \"?\", "
            "since the fonts cannot be loaded (no module here)");
  EXPECT_EQ(messages.shown[0].icon, platform::Icon::Warning);
}

TEST_F(FontsTest, ACharacterNoFontHasIsABoxAndOneNoticeButNoFailure) {
  // U+E000, a private-use character that no installed font draws, three times.
  ASSERT_TRUE(Convert("a \xEE\x80\x80 b \xEE\x80\x80\n\xEE\x80\x80 and \xCE\xB1\n", true));
  ASSERT_EQ(messages.texts().size(), 1u);
  EXPECT_NE(messages.texts()[0].find("3 characters have no glyph"), std::string::npos)
      << messages.texts()[0];
  EXPECT_NE(messages.texts()[0].find("U+E000"), std::string::npos);
  EXPECT_TRUE(QpdfFindings(output).empty());
  // The text layer still has the character itself (pdftotext drops the blanks
  // beside a box that has no width to speak of).
  std::string first = Lines(PdfToText(output))[0];
  first.erase(std::remove(first.begin(), first.end(), ' '), first.end());
  EXPECT_EQ(first, "a\xEE\x80\x80" "b\xEE\x80\x80");
}

TEST_F(FontsTest, ALongLineIsNeverCutInsideACluster) {
  // 134 letters fill all but one of the line's 135 places; the cut would fall
  // between the e and its accent.
  const std::string line = std::string(134, 'a') + "e\xCC\x81" + "bc";
  ASSERT_TRUE(Convert(line + "\n", true));
  const auto back = Lines(PdfToText(output));
  ASSERT_GE(back.size(), 2u);
  EXPECT_EQ(back[0], std::string(134, 'a'));
  EXPECT_EQ(back[1], "e\xCC\x81" "bc");
}

TEST_F(FontsTest, TheShapeSettingsLayOutEmbeddedTextByItsShapedWidths) {
  // Chinese is a whole em a character: far fewer fit a line than the classic
  // count lets through, so only a cut by the shaped widths keeps it on the page.
  std::string chinese;
  for (int i = 0; i < 30; ++i) chinese += "\xE4\xB8\x96\xE7\x95\x8C";  // 世界
  const std::string greek = "\xCE\x9A\xCE\xB1\xCE\xBB\xCE\xB7\xCE\xBC\xCE\xAD\xCF\x81\xCE\xB1 ";  // Καλημέρα
  std::string prose;
  for (int i = 0; i < 25; ++i) prose += greek;
  writer.setLayout({.fit = true});
  ASSERT_TRUE(Convert(chinese + "\n" + prose + "\n", true));
  EXPECT_TRUE(messages.texts().empty());
  EXPECT_TRUE(QpdfFindings(output).empty());
  const std::vector<testing::Page> pages = testing::Words(output);
  ASSERT_EQ(pages.size(), 1u);
  std::string back;
  double widest = 0;
  for (const testing::Word& w : pages[0].words) {
    if (w.yMin > 792 - 60) continue;  // the page number
    EXPECT_LE(w.xMax, 612 - 50 + 0.5) << w.text;
    widest = std::max(widest, w.xMax);
    back += w.text;
  }
  // Nothing lost, and the lines are filled, not merely short.
  std::string all = chinese + prose;
  all.erase(std::remove(all.begin(), all.end(), ' '), all.end());
  EXPECT_EQ(back, all);
  EXPECT_GT(widest, 612 - 50 - 12);
  // The Greek is cut after a blank, so every line ends with a whole word.
  for (const std::string& line : Lines(PdfToText(output))) {
    if (line.rfind("\xCE\x9A", 0) == 0) {
      EXPECT_EQ(line.size() % greek.size(), greek.size() - 1) << line;
    }
  }

  // Courier's columns: a tab goes to the next fourth column, a blank kept takes one.
  writer.setLayout({.keepSpaces = true, .tabSize = 4});
  ASSERT_TRUE(Convert("\t\xCE\xB1\xCE\xB2\n  \xCE\xB3\n\xCE\xB4\t\xCE\xB5\n", true, "Courier"));
  const std::vector<testing::Page> columns = testing::Words(output);
  ASSERT_EQ(columns.size(), 1u);
  ASSERT_EQ(columns[0].words.size(), 5u);  // with the page number last
  const double cell = 0.6 * 10;
  EXPECT_NEAR(columns[0].words[0].xMin, 50 + 4 * cell, 0.5);  // αβ
  EXPECT_NEAR(columns[0].words[1].xMin, 50 + 2 * cell, 0.5);  // γ
  EXPECT_NEAR(columns[0].words[2].xMin, 50, 0.5);             // δ
  EXPECT_NEAR(columns[0].words[3].xMin, 50 + 4 * cell, 0.5);  // ε
}

const char* const kNotoSerif = "/usr/share/fonts/truetype/noto/NotoSerif-Regular.ttf";
const char* const kDejaVuSans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// Every stretch of a line as text: font, F1's bytes, then each glyph's code,
// adjustment and rise, and the adjustment after the last.
std::vector<std::string> Described(std::span<const ShownRun> runs) {
  std::vector<std::string> out;
  for (const ShownRun& run : runs) {
    std::string d = std::to_string(run.font) + " (" + run.classic + ")";
    for (const ShownRun::Glyph& g : run.glyphs) {
      d += " " + std::to_string(g.code) + "/" + std::to_string(g.before) + "/" + std::to_string(g.rise);
    }
    out.push_back(d + " after " + std::to_string(run.after));
  }
  return out;
}

TEST_F(FontsTest, ReusedShapesGiveWhatShapingAnewGives) {
  // Lines whose shaping depends on neighbours: Arabic joined across runs and
  // words, kerned Greek, marks, CJK punctuation that some fonts substitute,
  // fraction slashes, flags, jamo, halfwidth and combining sound marks, emoji
  // sequences; each line comes three times, so that runs are kept and reused.
  std::vector<std::u32string> lines;
  for (const auto& group : {kLeftToRight, kRightToLeft}) {
    for (const auto& l : group) {
      if (auto text = TextNeedingFonts(l)) lines.push_back(std::move(*text));
    }
  }
  for (const char32_t* l :
       {U"مرحبا بالعالم hello مرحبا", U"ب\u200dب ـبـ لا ﻻ ٤٥٦ بب", U"AVA Ελληνικά ΑΥΤΟ AV λη",
        U"中文，文本。日本語、です「東京」", U"１⁄２ ３\u2215４ 🇫🇷🇩🇪 \u1100\u1161\u11a8 한글",
        U"ｶﾞｷﾞ か\u3099 👨\u200d👩\u200d👧 👍🏽 e\u0301 q\u0323\u0307", U"Мир мир МИР", U"עולם שלום",
        // Numbers between words, in fonts that kern by GPOS and by an old 'kern' table.
        U"Αθήνα 1974, 17.4 ΑΥΤΟ 7 λ", U"서울 2024 (11) 한글 1/7", U"中文 1968 文本 。 42"}) {
    lines.emplace_back(l);
  }
  // Arabic letters whose neighbour comes from another font: the font file
  // lacks the second one. The line with the same letter alone comes first.
  lines.emplace_back(U"ب");
  lines.emplace_back(U"ب\u08A1ب ب");
  // Direction set by explicit embeddings, overrides and isolates alone.
  lines.emplace_back(U"abc \u202Bαβγ δε\u202C ζη");
  lines.emplace_back(U"\u202Eαβγ Мир\u202C 中文");
  lines.emplace_back(U"x \u2067αβ γ\u2069 y \u2068ab\u2069");
  // More distinct words than the table of kept runs starts with room for,
  // each twice, so that it grows while runs are kept and found.
  for (char32_t k = 0; k < 1500; ++k) {
    std::u32string word = {U'α' + k % 24, U'β' + k / 24 % 24, U'Ж' + k / 576, U' ', U'中' + k};
    lines.push_back(word);
    lines.push_back(word + U" " + word);
  }
  // The installed fonts, then fonts first that kern by GPOS (with no old
  // 'kern' table) and that lack some Arabic letters.
  for (const std::optional<std::string>& fontFile :
       {std::optional<std::string>(), std::optional<std::string>(kNotoSerif),
        std::optional<std::string>(kDejaVuSans)}) {
    FontSet reusing("Times-Roman", fontFile);
    FontSet fresh("Times-Roman", fontFile);
    LineShaper withReuse(reusing, true);
    LineShaper anew(fresh, false);
    for (int round = 0; round < 3; ++round) {
      for (const auto& line : lines) {
        EXPECT_EQ(Described(withReuse.shape(line)), Described(anew.shape(line)))
            << fontFile.value_or("installed fonts") << ", round " << round << ": "
            << ::testing::PrintToString(line);
      }
    }
  }
}

TEST_F(FontsTest, EachSubsetHoldsTheGlyphsItsCodesShow) {
  // Greek shows each character's own glyph; joined Arabic shows forms that
  // no character maps to, and a ligature stands for two characters.
  FontSet fonts("Times-Roman", std::nullopt);
  LineShaper shaper(fonts);
  std::vector<int> used;
  for (const char32_t* line : {U"Καλημέρα κόσμε", U"مرحبا بالعالم لا"}) {
    for (const ShownRun& run : shaper.shape(line)) {
      if (run.font >= 0 && std::find(used.begin(), used.end(), run.font) == used.end()) used.push_back(run.font);
    }
  }
  ASSERT_GE(used.size(), 2u);
  for (const int index : used) {
    EmbeddedFont& font = fonts.font(index);
    const FontObjects objects = font.finish();
    ASSERT_FALSE(objects.cff);
    hb_blob_t* blob = hb_blob_create(objects.program.data(), static_cast<unsigned>(objects.program.size()),
                                     HB_MEMORY_MODE_READONLY, nullptr, nullptr);
    hb_face_t* face = hb_face_create(blob, 0);
    hb_font_t* subset = hb_font_create(face);
    hb_font_t* original = hb_font_create(hb_font_get_face(font.hbFont()));
    const auto& codes = font.codes();
    ASSERT_EQ(objects.cidToGidMap.size(), 2 * (codes.size() + 1));
    for (std::size_t k = 0; k < codes.size(); ++k) {
      const auto* map = reinterpret_cast<const unsigned char*>(objects.cidToGidMap.data());
      const unsigned gid = (map[2 * (k + 1)] << 8) | map[2 * (k + 1) + 1];
      const unsigned before = codes[k].first;
      ASSERT_NE(gid, 0u) << "glyph " << before;
      hb_glyph_extents_t want{}, got{};
      EXPECT_TRUE(hb_font_get_glyph_extents(original, before, &want));
      EXPECT_TRUE(hb_font_get_glyph_extents(subset, gid, &got));
      EXPECT_EQ(hb_font_get_glyph_h_advance(subset, gid), hb_font_get_glyph_h_advance(original, before));
      EXPECT_EQ(std::tie(got.x_bearing, got.y_bearing, got.width, got.height),
                std::tie(want.x_bearing, want.y_bearing, want.width, want.height))
          << "glyph " << before;
    }
    hb_font_destroy(original);
    hb_font_destroy(subset);
    hb_face_destroy(face);
    hb_blob_destroy(blob);
  }
}

TEST_F(FontsTest, GlyphsThatAnOldKernTableKernsAreShapedTogether) {
  // NanumGothic kerns by an old 'kern' table alone, which HarfBuzz applies;
  // its copy here also kerns 가 before 나 by a tenth of an em.
  const std::string nanum = "/usr/share/fonts/truetype/nanum/NanumGothic.ttf";
  if (!testing::Exists(nanum)) GTEST_SKIP() << "fonts-nanum is not installed";
  hb_blob_t* blob = hb_blob_create_from_file(nanum.c_str());
  hb_face_t* face = hb_face_create(blob, 0);
  hb_font_t* font = hb_font_create(face);
  hb_codepoint_t ga = 0, na = 0;
  ASSERT_TRUE(hb_font_get_nominal_glyph(font, U'가', &ga) && hb_font_get_nominal_glyph(font, U'나', &na));
  const unsigned char kern[] = {0, 0, 0, 1,           // version 0, one subtable
                                0, 0, 0, 20, 0, 1,    // version, length, horizontal pairs
                                0, 1, 0, 6, 0, 0, 0, 0,  // one pair, then the search words
                                static_cast<unsigned char>(ga >> 8), static_cast<unsigned char>(ga),
                                static_cast<unsigned char>(na >> 8), static_cast<unsigned char>(na),
                                0xFF, 0x38};  // -200 of 2048 units
  hb_face_t* builder = hb_face_builder_create();
  hb_tag_t tags[64];
  unsigned count = 64;
  hb_face_get_table_tags(face, 0, &count, tags);
  for (unsigned k = 0; k < count; ++k) {
    if (tags[k] == HB_TAG('k', 'e', 'r', 'n')) continue;
    hb_blob_t* table = hb_face_reference_table(face, tags[k]);
    hb_face_builder_add_table(builder, tags[k], table);
    hb_blob_destroy(table);
  }
  hb_blob_t* kernBlob = hb_blob_create(reinterpret_cast<const char*>(kern), sizeof kern,
                                       HB_MEMORY_MODE_READONLY, nullptr, nullptr);
  hb_face_builder_add_table(builder, HB_TAG('k', 'e', 'r', 'n'), kernBlob);
  hb_blob_t* built = hb_face_reference_blob(builder);
  unsigned size = 0;
  const char* data = hb_blob_get_data(built, &size);
  const std::string kerned = dir.write("kerned.ttf", std::string(data, size));
  for (hb_blob_t* b : {kernBlob, built, blob}) hb_blob_destroy(b);
  hb_face_destroy(builder);
  hb_font_destroy(font);
  hb_face_destroy(face);

  FontSet reusing("Times-Roman", kerned);
  FontSet fresh("Times-Roman", kerned);
  LineShaper withReuse(reusing, true);
  LineShaper anew(fresh, false);
  const std::u32string line = U"가나 나가 가나";
  bool kernedSomewhere = false;
  for (const ShownRun& run : anew.shape(line)) {
    for (const ShownRun::Glyph& g : run.glyphs) kernedSomewhere |= g.before != 0;
  }
  EXPECT_TRUE(kernedSomewhere);  // the table is applied at all
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(Described(withReuse.shape(line)), Described(anew.shape(line))) << "round " << round;
  }
}

TEST_F(FontsTest, CutPointsKeepMarksJoinersAndConjunctsTogether) {
  const std::u32string text = U"ae\u0301\u0915\u094D\u0937x\u200Dy";
  // Before each of the nine characters, and at the end.
  const std::vector<bool> expected = {true, true, false, true, false, false, true, false, false,
                                      true};
  EXPECT_EQ(CutPoints(text), expected);
}

TEST_F(FontsTest, OnlyValidUtf8WithACharacterWindows1252LacksNeedsFonts) {
  EXPECT_FALSE(TextNeedingFonts("plain"));
  EXPECT_FALSE(TextNeedingFonts("caf\xC3\xA9 \xE2\x82\xAC"));  // é and the euro sign are in it
  EXPECT_FALSE(TextNeedingFonts("\xCE\xB1\xFF"));              // not UTF-8: 8-bit text
  EXPECT_EQ(TextNeedingFonts("x\xCE\xB1"), std::u32string(U"x\u03B1"));
}

TEST_F(FontsTest, BlanksAndPunctuationBetweenWordsOfOneFontStayInThatFont) {
  // One font switch and one TJ for the Greek, however many words; the Latin
  // word after it keeps F1, and so do the full stop and blank before it.
  ASSERT_TRUE(Convert("Καλημέρα κόσμε, ο Ήλιος 2024 λάμπει. plain\n", true));
  const std::string pdf = ReadFile(output);
  std::size_t switches = 0;
  for (std::size_t at = pdf.find("/F2 10 Tf"); at != std::string::npos; at = pdf.find("/F2 10 Tf", at + 1)) {
    ++switches;
  }
  EXPECT_EQ(switches, 1u);
  EXPECT_NE(pdf.find("] TJ\r/F1 10 Tf (. plain) Tj"), std::string::npos);
  EXPECT_EQ(Lines(RunCommand("pdftotext " + ShellQuote(output) + " -").output)[0],
            "Καλημέρα κόσμε, ο Ήλιος 2024 λάμπει. plain");
}

TEST_F(FontsTest, SizesStaySmall) {
  ASSERT_TRUE(Convert("Καλημέρα κόσμε, αυτή είναι μια γραμμή.\n", true));
  EXPECT_LT(ReadFile(output).size(), 40u * 1024);

  // A megabyte of Chinese from 3500 different characters.
  std::string text;
  std::size_t k = 0;
  while (text.size() < 1000000) {
    for (int c = 0; c < 40; ++c, ++k) {
      const char32_t ch = 0x4E00 + static_cast<char32_t>((k * 7919) % 3500);
      text += static_cast<char>(0xE0 | (ch >> 12));
      text += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
      text += static_cast<char>(0x80 | (ch & 0x3F));
    }
    text += "\n";
  }
  ASSERT_TRUE(Convert(text, true));
  EXPECT_LT(ReadFile(output).size(), 3u * 1000 * 1000);
  EXPECT_TRUE(QpdfFindings(output).empty());
}

TEST_F(FontsTest, TitlesInAnyScriptReachTheInfoDictionary) {
  ASSERT_TRUE(Convert("Καλημέρα\n", true, "Times-Roman", "Καλημέρα 世界"));
  const auto r = RunCommand("pdfinfo -enc UTF-8 " + ShellQuote(output));
  EXPECT_TRUE(std::regex_search(r.output, std::regex("Title: +Καλημέρα 世界\n"))) << r.output;
}

TEST_F(FontsTest, EachStandardFontStartsWithItsLiberationFont) {
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"Courier", "LiberationMono"}, {"Times-Roman", "LiberationSerif"}, {"Arial", "LiberationSans"}};
  for (const auto& [font, family] : expected) {
    ASSERT_TRUE(Convert("Ελλάδα\n", true, font));
    const auto fonts = EmbeddedFonts();
    ASSERT_EQ(fonts.size(), 1u) << font;
    EXPECT_NE(fonts[0][0].find(family), std::string::npos) << fonts[0][0];
  }
}

// Fonts are still found where no configuration file is, by fontconfig's own
// built-in configuration.
TEST_F(FontsTest, WithoutAFontConfigurationFileTheBuiltInOneFindsTheFonts) {
  ::setenv("FONTCONFIG_FILE", dir.file("missing-fonts.conf").c_str(), 1);
  const bool converted = Convert("Ελλάδα\n", true);
  ::unsetenv("FONTCONFIG_FILE");
  ASSERT_TRUE(converted);
  const auto fonts = EmbeddedFonts();
  ASSERT_EQ(fonts.size(), 1u);
  EXPECT_EQ(fonts[0][3], "yes");
  EXPECT_EQ(Lines(PdfToText(output))[0], "Ελλάδα");
}

TEST_F(FontsTest, AFontFileComesFirstAndCffFontsAreEmbeddedToo) {
  const std::string otf = "/usr/share/fonts/opentype/urw-base35/NimbusSans-Regular.otf";
  if (!testing::Exists(otf)) GTEST_SKIP() << "fonts-urw-base35 is not installed";
  input = dir.write("in.txt", "Ελλάδα Привет\n");
  writer.setFontSettings(Embedding(true, otf));
  ASSERT_TRUE(writer.ConvertToPDF(input, output, "", "", "", "", "", "Times-Roman", 10, 0, 8.5f,
                                  11.f));
  const auto r = RunCommand("pdffonts " + ShellQuote(output));
  EXPECT_NE(r.output.find("NimbusSans-Regular"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("CID Type 0C"), std::string::npos) << r.output;
  EXPECT_TRUE(QpdfFindings(output).empty());
  EXPECT_EQ(Lines(PdfToText(output))[0], "Ελλάδα Привет");
}


// A stream: its lines cannot be looked at twice.
class StreamFiles : public platform::StdFiles {
 public:
  std::unique_ptr<platform::LineReader> openLines(const std::string& path) override {
    struct Reader : platform::LineReader {
      std::unique_ptr<platform::LineReader> file;
      bool next(std::string_view& line) override { return file->next(line); }
      bool nextPart(std::string_view& part, bool& ends) override { return file->nextPart(part, ends); }
    };
    auto reader = std::make_unique<Reader>();
    reader->file = platform::StdFiles::openLines(path);
    return reader;
  }
};

// A line that needs fonts and is longer than a piece is read, decoded and cut
// in bounded pieces; the document must be the one the whole line gives, in
// every layout, from a file and from a stream.
TEST_F(FontsTest, LongLinesInEmbeddedFontsGiveTheDocumentOfTheWholeLine) {
  const auto repeat = [](const std::string& s, std::size_t bytes) {
    std::string out;
    while (out.size() < bytes) out += s;
    return out;
  };
  const std::string greek = repeat("Καλημέρα κόσμε, ο Ήλιος; ", 150000);
  const std::string inputs[] = {
      greek + "\nshort Ελλάδα\n" + repeat("λέξη(\\) ", 70000) + "\n",
      // Combining marks across every boundary, a cluster longer than a line,
      // and a pile of marks that takes no width at all.
      repeat("Tie\xCC\x82\xCC\x81ng Vie\xCC\xA3\xCC\x82t ", 90000) + "a" + repeat("\xCC\x81", 600) + " end\n" +
          "b" + repeat("\xCC\x81", 140000) + "\n",
      // Blanks and tabs at both ends and inside, a long run of them within the text.
      std::string(70000, ' ') + repeat("\tαβ\t γ  δ", 100000) + std::string(80000, ' ') + "ε" +
          std::string(100000, '\t') + " \t\n\t \t" + greek + " \t\n",
      // Form feeds within the line, and a line that is blanks and form feeds around text.
      repeat("Ελλάδα\f κόσμε ", 80000) + "\n  \f  " + greek + "\f\n",
      repeat("السلام عليكم مرحبا بالعالم ", 80000) + "\n" + repeat("שלום עולם, ", 50000) + "\n",
      repeat("我能吞下玻璃而不伤身体。", 120000) + "\n",
  };
  const LayoutSettings layouts[] = {{}, {true, 8, false, false}, {false, 4, true, false}, {true, 0, true, false}};
  StreamFiles stream;
  FakeMessageBox streamMessages;
  PdfWriter fromStream{stream, streamMessages, clock};
  fromStream.setFontSettings(Embedding(true));
  for (const std::string& text : inputs) {
    input = dir.write("in.txt", text);
    for (const LayoutSettings& layout : layouts) {
      const std::string what = text.substr(0, 24) + " with keep " + std::to_string(layout.keepSpaces) +
                               ", tab " + std::to_string(layout.tabSize) + ", fit " + std::to_string(layout.fit);
      std::string whole;
      for (const std::size_t piece : {std::size_t{1} << 30, std::size_t{7}, std::size_t{4096}, std::size_t{0}}) {
        // The last run reads the file as a stream, its long lines held.
        PdfWriter& w = piece == 0 ? fromStream : writer;
        w.setLinePiece(piece == 0 ? 4096 : piece);
        w.setLayout(layout);
        w.setFontSettings(Embedding(true));
        messages.shown.clear();
        streamMessages.shown.clear();
        std::remove(output.c_str());
        const bool clean = w.ConvertToPDF(input, output, "", "", "", "", "", "Courier", 8, 0, 8.5f, 11.f);
        const std::string pdf = ReadFile(output);
        if (whole.empty()) {
          whole = pdf;
          EXPECT_TRUE(QpdfFindings(output).empty()) << what;
          EXPECT_NE(pdf.find("/ToUnicode"), std::string::npos) << what;
        } else {
          EXPECT_TRUE(pdf == whole) << "piece " << piece << " of " << what;
        }
        // Only the page limit may stop these documents.
        const auto& said = piece == 0 ? streamMessages.texts() : messages.texts();
        EXPECT_TRUE(clean || said == std::vector<std::string>{"Subscript out of range"}) << what;
      }
    }
  }
}

// Engines over the real ones whose copies for other threads fail once they
// have given out some codes, as when memory runs out.
class FailingEngine final : public FontEngine {
 public:
  FailingEngine(std::unique_ptr<FontEngine> real, bool fails) : real_(std::move(real)), fails_(fails) {}
  std::span<const ShownRun> shape(std::u32string_view text) override { return real_->shape(text); }
  std::vector<bool> cutPoints(std::u32string_view text) override { return real_->cutPoints(text); }
  std::int64_t width(std::u32string_view text, const FontWidths& classic) override {
    return real_->width(text, classic);
  }
  const MissingGlyphs& missing() const override { return real_->missing(); }
  const std::vector<int>& usedOrder() const override { return real_->usedOrder(); }
  int resourceNumber(int font) override { return real_->resourceNumber(font); }
  FontObjects finish(int font) override { return real_->finish(font); }
  std::unique_ptr<FontEngine> alike() override {
    return std::make_unique<FailingEngine>(real_->alike(), true);
  }
  std::size_t codesGiven(int font, std::size_t from, std::vector<GivenCode>& out) override {
    if (fails_ && ++calls_ > 3) throw std::bad_alloc();
    return real_->codesGiven(font, from, out);
  }
  std::uint16_t codeFor(int font, std::uint32_t gid, std::u32string_view text) override {
    return real_->codeFor(font, gid, text);
  }
  void noteMissing(std::size_t count, std::u32string_view first) override { real_->noteMissing(count, first); }

 private:
  std::unique_ptr<FontEngine> real_;
  bool fails_;
  int calls_ = 0;
};

class FailingModule final : public FontModule {
 public:
  explicit FailingModule(FontModule& real) : real_(real) {}
  void checkFontFile(const std::string& path) override { real_.checkFontFile(path); }
  std::unique_ptr<FontEngine> open(const std::string& standardFont,
                                   const std::optional<std::string>& fontFile) override {
    return std::make_unique<FailingEngine>(real_.open(standardFont, fontFile), false);
  }

 private:
  FontModule& real_;
};

// A large file's lines are shaped ahead on other threads in stretches that
// any thread may take, the writer's too while it waits; the document and what is said must be the ones that
// shaping every line on one thread gives: with one or several such threads,
// in the fonts found and in a CFF font of the user's (whose codes are its
// glyph numbers), with lines held in pieces, and when those threads fail.
TEST_F(FontsTest, LinesShapedOnOtherThreadsGiveTheDocumentOfOneThread) {
  std::string text;
  for (int k = 0; k < 300; ++k) {
    for (const auto& l : kLeftToRight) text += l + " " + std::to_string(k) + "\n";
    for (const auto& l : kRightToLeft) text += l + "\n";
    // Unassigned characters, which no font has, in an order the notice shows.
    const char* const unassigned[] = {"\xCD\xB8", "\xCD\xB9", "\xCE\x80", "\xCE\x81", "\xCE\x82",
                                      "\xCE\x83", "\xCE\x8B", "\xCE\x8D", "\xCE\xA2"};
    if (k % 7 == 3) text += std::string("missing ") + unassigned[(k / 7) % 9] + " here\n";
    // Lines cut into pieces, a line too long for the other threads, plain
    // lines, form feeds and blank lines.
    if (k % 5 == 0) {
      for (int j = 0; j < 30; ++j) text += "Καλημέρα κόσμε 世界 ";
      text += "\n";
    }
    if (k % 50 == 0) {
      for (int j = 0; j < 600; ++j) text += "λέξη ";
      text += "\n";
    }
    text += k % 11 == 0 ? "\f plain ASCII\n\n" : "plain ASCII line\n";
  }
  input = dir.write("in.txt", text);
  const std::string otf = "/usr/share/fonts/opentype/urw-base35/NimbusSans-Regular.otf";
  std::vector<std::optional<std::string>> fontFiles = {std::nullopt};
  if (testing::Exists(otf)) fontFiles.push_back(otf);
  FailingModule failing(*fonts);
  struct Run {
    std::size_t stretch, threads, piece;
    bool failing;
  };
  const Run runs[] = {{0, 0, std::size_t{1} << 20, false}, {1, 1, std::size_t{1} << 20, false},
                      {3, 3, std::size_t{1} << 20, false}, {64, 0, std::size_t{1} << 20, false},
                      {2, 2, 100, false},                  {1, 2, std::size_t{1} << 20, true}};
  for (const auto& fontFile : fontFiles) {
    std::string alone;
    std::vector<std::string> saidAlone;
    std::size_t taken = 0;
    for (const Run& run : runs) {
      FontSettings settings = Embedding(true, fontFile);
      if (run.failing) settings.module = [&](std::string&) { return &failing; };
      writer.setFontSettings(settings);
      // Stretch 0: no other thread.
      // Failing threads have the least room, so that one that lost a stretch
      // would keep the others and the writer waiting.
      writer.setShapingAhead(run.stretch == 0 ? UINT64_MAX : 0, run.stretch, run.threads,
                             run.failing ? 1 : kShapedAheadRoom);
      writer.setLinePiece(run.piece);
      messages.shown.clear();
      std::remove(output.c_str());
      writer.ConvertToPDF(input, output, "", "", "", "", "", "Courier", 8, 0, 8.5f, 11.f);
      const std::string pdf = ReadFile(output);
      if (run.stretch == 0) {
        alone = pdf;
        saidAlone = messages.texts();
        EXPECT_EQ(writer.linesShapedAhead(), 0u);
        EXPECT_TRUE(QpdfFindings(output).empty());
        ASSERT_EQ(saidAlone.size(), 1u);
        EXPECT_NE(saidAlone[0].find("U+0378 U+0379 U+0380 U+0381 U+0382 ..."), std::string::npos)
            << saidAlone[0];
        continue;
      }
      const std::string what = "stretches of " + std::to_string(run.stretch) + " on " +
                               std::to_string(run.threads) + " threads, pieces of " +
                               std::to_string(run.piece) + (run.failing ? ", failing" : "") +
                               (fontFile ? " with " + *fontFile : "");
      EXPECT_TRUE(pdf == alone) << what;
      EXPECT_EQ(messages.texts(), saidAlone) << what;
      if (run.piece > 100 && !run.failing) taken += writer.linesShapedAhead();
    }
    EXPECT_GT(taken, 0u) << "the other threads shaped nothing";
  }
}
}  // namespace
}  // namespace scrivane
