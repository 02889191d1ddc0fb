// The shape options on files as people have them (tests/corpus/shape: an
// indented Python file with tabs, a Makefile, a log of 300-character lines,
// minutes with long words in capitals), run through the real program and read
// back with poppler: nothing passes the right margin, Courier columns land
// where they belong, and without the options the bytes are those of before.

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/pdf_tools.h"
#include "tests/support/temp_dir.h"

namespace scrivane {
namespace {

using testing::CommandResult;
using testing::ReadFile;
using testing::RunCommand;
using testing::ShellQuote;
using testing::TempDir;
using testing::Page;
using testing::Word;
using testing::Words;

const char* const kCorpus[] = {"rotate_logs.py", "Makefile", "server.log", "minutes.txt"};
const char* const kFonts[] = {"Courier", "Times-Roman", "Arial"};

std::string CorpusFile(const std::string& name) {
  return std::string(SCRIVANE_SOURCE_DIR) + "/tests/corpus/shape/" + name;
}

CommandResult Scrivane(const std::string& args) {
  return RunCommand("env -u DISPLAY -u WAYLAND_DISPLAY " + ShellQuote(SCRIVANE_BINARY) +
                    " </dev/null " + args);
}

std::string WithoutDate(const std::string& pdf) {
  return std::regex_replace(pdf, std::regex("/CreationDate \\(D:[0-9]{14}\\)"),
                            "/CreationDate (D:00000000000000)");
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Unescape(const std::string& shown) {
  std::string text;
  for (std::size_t i = 0; i < shown.size(); ++i) {
    if (shown[i] == '\\' && i + 1 < shown.size()) ++i;
    text += shown[i];
  }
  return text;
}

// A line as --preserve lays it out in Courier: tabs to every eighth column,
// form feeds dropped.
std::string Expanded(const std::string& line) {
  std::string out;
  for (char c : line) {
    if (c == '\t') {
      out.append(8 - out.size() % 8, ' ');
    } else if (c != '\f') {
      out += c;
    }
  }
  return out;
}

std::size_t LeadingBlanks(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  return first == std::string::npos ? text.size() : first;
}

class ShapeCorpus : public ::testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(ShapeCorpus, WithoutTheNewOptionsTheBytesAreThoseOfBefore) {
  for (const char* name : kCorpus) {
    for (const char* font : kFonts) {
      SCOPED_TRACE(std::string(name) + " in " + font);
      const std::string out = dir_.file("out.pdf");
      const CommandResult r =
          Scrivane("-fq --font " + std::string(font) + " " + ShellQuote(CorpusFile(name)) + " -o " +
                   ShellQuote(out));
      ASSERT_EQ(r.status, 0) << r.output;
      EXPECT_EQ(WithoutDate(ReadFile(out)),
                ReadFile(CorpusFile("classic/" + std::string(name) + "." + font + ".pdf")));
    }
  }
}

TEST_F(ShapeCorpus, PreserveKeepsEveryLineWithinThePageAndCourierInItsColumns) {
  int conversions = 0;
  for (const char* name : kCorpus) {
    const std::vector<std::string> input = SplitLines(ReadFile(CorpusFile(name)));
    for (const char* font : kFonts) {
      const bool courier = std::string(font) == "Courier";
      for (int size : {8, 10, 20}) {
        for (const char* paper : {"letter", "a4"}) {
          const std::string what = std::string(name) + " in " + font + " " +
                                   std::to_string(size) + " on " + paper;
          SCOPED_TRACE(what);
          const std::string out = dir_.file("out.pdf");
          const CommandResult r = Scrivane("-fq --preserve --font " + std::string(font) +
                                           " --size " + std::to_string(size) + " --page " + paper +
                                           " " + ShellQuote(CorpusFile(name)) + " -o " + ShellQuote(out));
          ASSERT_EQ(r.status, 0) << r.output;
          ++conversions;
          EXPECT_TRUE(testing::QpdfFindings(out).empty());

          const std::vector<Page> pages = Words(out);
          ASSERT_FALSE(pages.empty());
          for (const Page& page : pages) {
            for (const Word& w : page.words) {
              EXPECT_LE(w.xMax, page.width - 50 + 0.5) << "'" << w.text << "'";
            }
          }
          if (!courier) continue;

          // The pieces of each input line, put together, give back the line with
          // its tabs expanded; a cut line may only lose blanks at its end.
          std::vector<std::string> pieces;
          std::vector<std::size_t> pieceOnPage;
          const auto shown = testing::ShownStrings(ReadFile(out));
          for (std::size_t p = 0; p < shown.size(); ++p) {
            for (const std::string& s : shown[p]) {
              pieces.push_back(Unescape(s));
              pieceOnPage.push_back(p);
            }
          }
          std::size_t next = 0;
          for (const std::string& line : input) {
            const std::string expected = Expanded(line);
            if (expected.empty() && line.find('\f') != std::string::npos) continue;
            std::string joined;
            do {
              ASSERT_LT(next, pieces.size()) << "'" << line << "'";
              joined += pieces[next++];
              ASSERT_TRUE(expected.starts_with(joined)) << "'" << joined << "' for '" << line << "'";
            } while (joined.size() < expected.size() &&
                     expected.find_first_not_of(' ', joined.size()) != std::string::npos);
          }
          EXPECT_EQ(next, pieces.size());

          // Each line's left edge is 50 points plus its leading blanks in columns
          // of 0.6 times the size: the first word of each shown line that has one.
          const double column = 0.6 * size;
          std::size_t piece = 0;
          for (std::size_t p = 0; p < pages.size(); ++p) {
            // Left edge by baseline, top to bottom; pdftotext may give a line's
            // words in another order than they were written.
            std::map<double, double> firsts;
            for (const Word& w : pages[p].words) {
              const bool footer = w.yMin > pages[p].height - 40 &&
                                  std::abs(w.xMin - pages[p].width / 2) < 0.01 &&
                                  w.text == std::to_string(p + 1);
              if (footer) continue;
              auto [at, added] = firsts.emplace(w.yMin, w.xMin);
              if (!added) at->second = std::min(at->second, w.xMin);
            }
            for (const auto& [y, left] : firsts) {
              while (piece < pieces.size() &&
                     pieces[piece].find_first_not_of(' ') == std::string::npos) {
                ++piece;
              }
              ASSERT_LT(piece, pieces.size());
              EXPECT_EQ(pieceOnPage[piece], p);
              EXPECT_NEAR(left, 50 + LeadingBlanks(pieces[piece]) * column, 0.5)
                  << "'" << pieces[piece] << "'";
              ++piece;
            }
          }

          // Read back as a layout, each line keeps its indentation, counted from
          // the left margin; the last line of each page is its number. (At 20
          // points the page number shares the height of the last text line, as in
          // the classic layout, and the layout puts the two on one line.)
          if (size == 20) continue;
          const std::string layout = RunCommand("pdftotext -layout -fixed " +
                                                std::to_string(column) + " " + ShellQuote(out) + " -")
                                         .output;
          std::vector<std::vector<std::string>> laidOut(1);
          std::string current;
          for (char c : layout + "\n") {
            if (c == '\f' || c == '\n') {
              if (current.find_first_not_of(' ') != std::string::npos) {
                laidOut.back().push_back(current);
              }
              current.clear();
              if (c == '\f') laidOut.emplace_back();
            } else {
              current += c;
            }
          }
          std::vector<std::pair<std::string, std::string>> compared;  // laid out, shown
          std::size_t margin = std::string::npos;
          std::size_t shownIndex = 0;
          ASSERT_GE(laidOut.size(), pages.size());
          for (std::size_t p = 0; p < pages.size(); ++p) {
            ASSERT_FALSE(laidOut[p].empty());
            laidOut[p].pop_back();
            for (const std::string& l : laidOut[p]) {
              while (shownIndex < pieces.size() &&
                     pieces[shownIndex].find_first_not_of(' ') == std::string::npos) {
                ++shownIndex;
              }
              ASSERT_LT(shownIndex, pieces.size());
              EXPECT_EQ(pieceOnPage[shownIndex], p);
              compared.emplace_back(l, pieces[shownIndex++]);
              margin = std::min(margin, LeadingBlanks(l));
            }
          }
          for (const auto& [l, piece] : compared) {
            EXPECT_EQ(LeadingBlanks(l) - margin, LeadingBlanks(piece)) << "'" << l << "'";
          }
        }
      }
    }
  }
  EXPECT_EQ(conversions, 72);
}

TEST_F(ShapeCorpus, OptionModeHasNoPageLimitAndThePlainRunKeepsIt) {
  std::string text = "page 1\n";
  for (int i = 2; i <= 3000; ++i) text += "\fpage " + std::to_string(i) + "\n";
  const std::string in = dir_.write("long.txt", text);
  const std::string out = dir_.file("options.pdf");
  CommandResult r = Scrivane("-fq " + ShellQuote(in) + " -o " + ShellQuote(out));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(testing::QpdfFindings(out).empty());
  auto pageCount = [](const std::string& pdf) {
    const std::string info = RunCommand("pdfinfo " + ShellQuote(pdf)).output;
    const std::size_t at = info.find("Pages:");
    return at == std::string::npos ? -1 : std::stoi(info.substr(at + 6));
  };
  EXPECT_EQ(pageCount(out), 3000);
  const std::string back = testing::PdfToText(out);
  EXPECT_NE(back.find("page 3000"), std::string::npos);

  r = RunCommand("cd " + ShellQuote(dir_.path()) + " && env -u DISPLAY -u WAYLAND_DISPLAY " +
                 ShellQuote(SCRIVANE_BINARY) + " long.txt </dev/null");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("Subscript out of range"), std::string::npos) << r.output;
  EXPECT_EQ(pageCount(dir_.file("long.pdf")), 1664);
}

}  // namespace
}  // namespace scrivane
