// The layout settings of option mode, each on its own and together, on the
// writer: kept blanks, tabs made columns, lines cut by the fonts' widths, and
// object tables without a page limit.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/std_files.h"
#include "tests/support/fakes.h"
#include "tests/support/pdf_tools.h"
#include "tests/support/temp_dir.h"
#include "writer/font_widths.h"
#include "writer/writer.h"

namespace scrivane {
namespace {

using testing::FakeMessageBox;
using testing::FixedClock;
using testing::ReadFile;
using testing::TempDir;

class ShapedTextTest : public ::testing::Test {
 protected:
  // The shown strings of every page (still escaped) after converting `text`.
  std::vector<std::vector<std::string>> Pages(const std::string& text, LayoutSettings layout,
                                              const std::string& font = "Times-Roman",
                                              std::int16_t size = 10) {
    writer.setLayout(layout);
    const std::string input = dir.write("in.txt", text);
    EXPECT_TRUE(writer.ConvertToPDF(input, output, "", "", "", "", "", font, size, 0, 8.5f, 11.f));
    EXPECT_TRUE(testing::QpdfFindings(output).empty());
    return testing::ShownStrings(ReadFile(output));
  }
  std::vector<std::string> Lines(const std::string& text, LayoutSettings layout,
                                 const std::string& font = "Times-Roman", std::int16_t size = 10) {
    std::vector<std::string> all;
    for (const auto& page : Pages(text, layout, font, size)) all.insert(all.end(), page.begin(), page.end());
    return all;
  }
  // The text lines of the stream as written, TJ arrays included.
  std::vector<std::string> StreamLines() {
    const std::string pdf = ReadFile(output);
    std::vector<std::string> lines;
    for (std::size_t at = pdf.find("\rT* "); at != std::string::npos; at = pdf.find("\rT* ", at + 1)) {
      const std::size_t end = pdf.find(" Tj\r", at) < pdf.find(" TJ\r", at) ? pdf.find(" Tj\r", at) + 3
                                                                           : pdf.find(" TJ\r", at) + 3;
      lines.push_back(pdf.substr(at + 1, end - at - 1));
    }
    return lines;
  }

  TempDir dir;
  std::string output = dir.file("out.pdf");
  platform::StdFiles files;
  FakeMessageBox messages;
  FixedClock clock;
  PdfWriter writer{files, messages, clock};
};

TEST(FontWidths, AreTheStandardMetrics) {
  // A few widths known from the fonts' metrics, and the three names.
  EXPECT_EQ(kCourierWidths['W'], 600);
  EXPECT_EQ(kCourierWidths[0xE9], 600);
  EXPECT_EQ(kTimesRomanWidths[' '], 250);
  EXPECT_EQ(kTimesRomanWidths['W'], 944);
  EXPECT_EQ(kTimesRomanWidths['i'], 278);
  EXPECT_EQ(kTimesRomanWidths[0x80], 500);  // the euro sign
  EXPECT_EQ(kHelveticaWidths['W'], 944);
  EXPECT_EQ(kHelveticaWidths['m'], 833);
  EXPECT_EQ(kHelveticaWidths[0x97], 1000);  // the em dash
  EXPECT_EQ(kTimesRomanWidths['\t'], 0);
  EXPECT_EQ(&WidthsForFont("COURIER"), &kCourierWidths);
  EXPECT_EQ(&WidthsForFont("Arial"), &kHelveticaWidths);
  EXPECT_EQ(&WidthsForFont("Times-Roman"), &kTimesRomanWidths);
  for (int c = 32; c < 256; ++c) {
    EXPECT_EQ(kCourierWidths[c], 600) << c;
    EXPECT_GT(kTimesRomanWidths[c], 0) << c;
    EXPECT_GT(kHelveticaWidths[c], 0) << c;
  }
}

TEST_F(ShapedTextTest, KeepSpacesKeepsBlanksAndCutsByTheClassicCount) {
  LayoutSettings keep{.keepSpaces = true};
  // Times-Roman at 10 points on letter: 135 characters a line.
  const std::string word = std::string(130, 'a');
  EXPECT_EQ(Lines("    indented  \n\t tab stays\n \t \n" + std::string(8, ' ') + word + "\n", keep),
            (std::vector<std::string>{"    indented  ", "\t tab stays", " \t ",
                                      std::string(8, ' ') + word.substr(0, 127),
                                      word.substr(127)}));
  // A continued line starts at the left margin, with what follows the cut.
  EXPECT_EQ(Lines("  one, " + std::string(140, 'b') + "\n", keep),
            (std::vector<std::string>{"  one, " + std::string(128, 'b'), std::string(12, 'b')}));
  // Without blanks at the ends, the lines are the classic ones.
  const std::string prose = "Printing is easy, isn't it? Yes, it is. (Said twice.) " + std::string(100, 'x') +
                            " " + std::string(50, '(') + "\n";
  const std::vector<std::string> shaped = Lines(prose, keep);
  EXPECT_EQ(shaped, Lines(prose, LayoutSettings{}));
  EXPECT_EQ(shaped.size(), 2u);
}

TEST_F(ShapedTextTest, TabSizeMakesColumnsFromTheStartOfTheLine) {
  LayoutSettings tabs{.tabSize = 4};
  // In Courier every column is a blank; without kept blanks the ends are trimmed,
  // tabs with them, and the stops count from where the text starts.
  EXPECT_EQ(Lines("a\tbc\td\n\t\tx\ty\t\n \t \t \nabcd\te\n", tabs, "Courier"),
            (std::vector<std::string>{"a   bc  d", "x   y", "", "abcd    e"}));
  // A proportional font gets the part of the stop that whole blanks cannot give
  // as an adjustment: "ab" is 944 thousandths in Times-Roman, a stop 1000.
  Lines("ab\tc\n\t\t\n", tabs, "Times-Roman");
  EXPECT_EQ(StreamLines(), (std::vector<std::string>{"T* [(ab) -56 (c\r\n)] TJ", "T* (\r\n) Tj"}));
  // With kept blanks, leading tabs are the indentation: 2 tabs of 4 are 8 columns.
  LayoutSettings both{.keepSpaces = true, .tabSize = 4};
  EXPECT_EQ(Lines("\t\tx\n  \ty\n", both, "Courier"),
            (std::vector<std::string>{"        x", "    y"}));
  // A tab at a cut: Courier 10 points on letter holds 92 characters; the eight
  // blanks of the tab are break characters, so the cut falls among them.
  EXPECT_EQ(Lines(std::string(88, 'x') + "\ttail\n", LayoutSettings{.keepSpaces = true, .tabSize = 8},
                  "Courier"),
            (std::vector<std::string>{std::string(88, 'x') + "    ", "    tail"}));
  // Without a tab size the tab stays in the text as it is.
  EXPECT_EQ(Lines("a\tb\n", LayoutSettings{.keepSpaces = true}, "Courier"),
            std::vector<std::string>{"a\tb"});
}

TEST_F(ShapedTextTest, FitCutsByTheFontsWidthsWithinTheMargins) {
  LayoutSettings fit{.fit = true};
  // 512 points usable; a W is 9.44 points in Times-Roman at 10, so 54 fit.
  const std::string ws = std::string(110, 'W');
  EXPECT_EQ(Lines("   " + ws + " end   \n", fit),
            (std::vector<std::string>{std::string(54, 'W'), std::string(54, 'W'), "WW end"}));
  // In Courier at 10 points, 85 characters of 6 points fit in 512.
  EXPECT_EQ(Lines(std::string(200, 'm') + "\n", fit, "Courier"),
            (std::vector<std::string>{std::string(85, 'm'), std::string(85, 'm'), std::string(30, 'm')}));
  // Arial has Helvetica's widths: an m is 8.33 points, 61 fit.
  EXPECT_EQ(Lines(std::string(70, 'm') + "\n", fit, "Arial"),
            (std::vector<std::string>{std::string(61, 'm'), std::string(9, 'm')}));
  // The classic preference: after the last break character that fits, when it is
  // in the second half of the line.
  const std::string words = std::string(30, 'W') + " " + std::string(30, 'W') + "\n";
  EXPECT_EQ(Lines(words, fit),
            (std::vector<std::string>{std::string(30, 'W') + " ", std::string(30, 'W')}));
  const std::string early = std::string(10, 'W') + " " + std::string(60, 'W') + "\n";
  EXPECT_EQ(Lines(early, fit),
            (std::vector<std::string>{std::string(10, 'W') + " " + std::string(43, 'W'),
                                      std::string(17, 'W')}));
  // An escape pair is never parted: a parenthesis is 3.33 points, 153 fit.
  const std::vector<std::string> parens = Lines(std::string(160, '(') + "\n", fit);
  ASSERT_EQ(parens.size(), 2u);
  std::string escaped153;
  for (int i = 0; i < 153; ++i) escaped153 += "\\(";
  EXPECT_EQ(parens[0], escaped153);
  EXPECT_EQ(parens[1], std::string("\\(\\(\\(\\(\\(\\(\\(") );
  // Nor in the count: Times-Roman's 135 characters hold 67 escaped backslashes.
  const std::vector<std::string> slashes = Lines(std::string(70, '\\') + "\n", LayoutSettings{.keepSpaces = true});
  ASSERT_EQ(slashes.size(), 2u);
  EXPECT_EQ(slashes[0], std::string(134, '\\'));
  EXPECT_EQ(slashes[1], std::string(6, '\\'));
}

TEST_F(ShapedTextTest, PagesHoldTheirLinesAndFormFeedsStartPages) {
  LayoutSettings preserve{.keepSpaces = true, .tabSize = 8, .fit = true};
  // 60 lines a page; every piece of a cut line counts one.
  std::string text;
  for (int i = 0; i < 59; ++i) text += "line\n";
  text += std::string(100, 'W') + "\n";  // two pieces: the 60th line and the first of page 2
  text += "\fnext\n\f\nafter\n";
  const auto pages = Pages(text, preserve);
  ASSERT_EQ(pages.size(), 4u);
  EXPECT_EQ(pages[0].size(), 60u);
  EXPECT_EQ(pages[1], std::vector<std::string>{std::string(46, 'W')});
  EXPECT_EQ(pages[2], std::vector<std::string>{"next"});
  EXPECT_EQ(pages[3], std::vector<std::string>{"after"});
  // A form feed on the first line leaves no empty first page.
  EXPECT_EQ(Pages("\ffirst\n", preserve).size(), 1u);
}

TEST_F(ShapedTextTest, UnlimitedPagesPassTheClassicLimit) {
  std::string text = "page\n";
  for (int i = 1; i < 1700; ++i) text += "\fpage\n";
  writer.setLayout({.unlimitedPages = true});
  const std::string input = dir.write("in.txt", text);
  ASSERT_TRUE(writer.ConvertToPDF(input, output, "", "", "", "", "", "Times-Roman", 10, 0, 8.5f, 11.f));
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_EQ(writer.state().pageno, 1700);
  EXPECT_EQ(writer.state().objcount, 6 + 3 * 1700);
  EXPECT_TRUE(testing::QpdfFindings(output).empty());
  const std::string info = testing::RunCommand("pdfinfo " + testing::ShellQuote(output)).output;
  const std::size_t pages = info.find("Pages:");
  ASSERT_NE(pages, std::string::npos) << info;
  EXPECT_EQ(std::stoi(info.substr(pages + 6)), 1700);
}

// Files that take the bytes of one output without keeping them, as if it had
// begun far into a large file; only the last bytes are kept.
class FarFiles : public platform::StdFiles {
 public:
  std::unique_ptr<platform::Output> createOutput(const std::string& path, const std::string& input) override {
    if (path != kPath) return StdFiles::createOutput(path, input);
    return std::make_unique<Tail>(tail);
  }
  static constexpr const char* kPath = "/nonexistent/far.pdf";
  std::string tail;

 private:
  class Tail : public platform::Output {
   public:
    explicit Tail(std::string& tail) : tail_(tail) {}
    void write(std::string_view bytes) override {
      tail_.append(bytes);
      if (tail_.size() > 100000) tail_.erase(0, tail_.size() - 100000);
    }
    void complete() override {}
    void discard() override {}

   private:
    std::string& tail_;
  };
};

TEST_F(ShapedTextTest, OffsetsUseTheTenDigitsOfTheTable) {
  const std::string input = dir.write("in.txt", "far away\n");
  auto runFrom = [&](std::int64_t start, bool unlimited, FarFiles& far) {
    PdfWriter w(far, messages, clock);
    w.setLayout({.unlimitedPages = unlimited});
    w.initpdf("Courier", 10, 0, 8.5f, 11.f);
    w.state().infile = input;
    w.state().outfile = FarFiles::kPath;
    w.state().location = start;
    w.startpdf();
    w.writepreamble();
    w.writetext();
    w.endpdf();
    return w.failed();
  };
  // Past 32 bits: every entry has its ten digits, and startxref points at "xref".
  const std::int64_t start = 4'294'967'296;
  FarFiles far;
  ASSERT_FALSE(runFrom(start, true, far));
  EXPECT_NE(far.tail.find("\r4294967311 00000 n \r"), std::string::npos);
  const std::size_t xref = far.tail.find("\rxref\r") + 1;
  const std::size_t startxref = far.tail.find("startxref\r") + 10;
  EXPECT_EQ(far.tail.substr(startxref, far.tail.find('\r', startxref) - startxref),
            std::to_string(start + static_cast<std::int64_t>(xref)));

  // The classic tables stop before 2 GiB, and option mode before ten digits overflow.
  FarFiles classic;
  EXPECT_TRUE(runFrom(2'147'483'000, false, classic));
  EXPECT_EQ(messages.shown.back().text, std::string("Cannot write '") + FarFiles::kPath +
                                            "': the PDF would reach 2 GiB");
  FarFiles full;
  EXPECT_TRUE(runFrom(kMaxTenDigitOffset - 500, true, full));
  EXPECT_EQ(messages.shown.back().text, std::string("Cannot write '") + FarFiles::kPath +
                                            "': the PDF would reach 10 GB");
}

}  // namespace
}  // namespace scrivane
