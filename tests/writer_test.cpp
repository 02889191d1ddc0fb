#include "writer/writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <new>
#include <numeric>
#include <string>
#include <vector>

#include "platform/std_files.h"
#include "tests/support/fakes.h"
#include "tests/support/pdf_tools.h"
#include "tests/support/temp_dir.h"

namespace scrivane {
namespace {

using testing::FakeMessageBox;
using testing::FixedClock;
using testing::ReadFile;
using testing::TempDir;

std::string Join(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) out += l + "\r";
  return out;
}

// The lines of a document up to the first page, with the fixed clock and the given Info values.
std::vector<std::string> PreambleLines(const std::string& font = "Times-Roman",
                                       const std::string& creator = "") {
  return {"%PDF-1.2",
          "%\xE2\xE3\xCF\xD3",
          "1 0 obj",
          "<<",
          "/Author ()",
          "/CreationDate (D:20261207090503)",
          "/Creator (" + creator + ")",
          "/Producer (Scrivane v1.1)",
          "/Title ()",
          "/Subject ()",
          "/Keywords ()",
          ">>",
          "endobj",
          "4 0 obj",
          "<<",
          "/Type /Font",
          "/Subtype /Type1",
          "/Name /F1",
          "/Encoding 5 0 R",
          "/BaseFont /" + font,
          ">>",
          "endobj",
          "5 0 obj",
          "<<",
          "/Type /Encoding",
          "/BaseEncoding /WinAnsiEncoding",
          ">>",
          "endobj",
          "6 0 obj",
          "<<",
          "  /Font << /F1 4 0 R >>",
          "  /ProcSet [ /PDF /Text ]",
          ">>",
          "endobj"};
}

class WriterTest : public ::testing::Test {
 protected:
  // Converts `text` at the given settings; returns whether the writer reported success.
  bool Convert(const std::string& text, const std::string& font = "Times-Roman",
               std::int16_t size = 10, std::int16_t rotation = 0, float w = 8.5f, float h = 11.f) {
    input = dir.write("in.txt", text);
    return writer.ConvertToPDF(input, output, "", "", "", "", "", font, size, rotation, w, h);
  }

  // Runs the stages by hand with the layout numbers overridden, as a narrow page would give.
  std::string LayOut(const std::string& text, std::int32_t charsperline, std::int32_t linesperpage) {
    input = dir.write("in.txt", text);
    std::remove(output.c_str());
    writer.initpdf("Times-Roman", 10, 0, 8.5f, 11.f);
    writer.state().infile = input;
    writer.state().outfile = output;
    writer.state().charsperline = charsperline;
    writer.state().linesperpage = linesperpage;
    writer.startpdf();
    writer.writepreamble();
    writer.writetext();
    writer.endpdf();
    EXPECT_TRUE(writer.closepdf());
    return ReadFile(output);
  }

  static std::vector<std::vector<std::string>> Pages(const std::string& pdf) {
    return testing::ShownStrings(pdf);
  }

  TempDir dir;
  std::string input;
  std::string output = dir.file("out.pdf");
  platform::StdFiles files;
  FakeMessageBox messages;
  FixedClock clock;
  PdfWriter writer{files, messages, clock};
};

TEST_F(WriterTest, OnePageDocumentIsExactlyTheKnownBytes) {
  ASSERT_TRUE(Convert("Hello\r\nWorld (1)\r\n"));
  std::vector<std::string> lines = PreambleLines();
  const std::vector<std::string> rest = {
      "7 0 obj", "<<", "/Type /Page", "/Parent 3 0 R", "/Resources 6 0 R", "/Contents 8 0 R",
      "/Rotate 0", ">>", "endobj", "8 0 obj", "<<", "/Length 9 0 R", ">>", "stream", "BT",
      "/F1 10 Tf", "1 0 0 1 50 752 Tm", "12 TL", "T* (Hello\r\n) Tj", "T* (World \\(1\\)\r\n) Tj",
      "1 0 0 1 306 25 Tm", "(1) Tj", "/F1 10 Tf", "ET", "endstream", "endobj", "9 0 obj", "113",
      "endobj", "2 0 obj", "<<", "/Type /Catalog", "/Pages 3 0 R", ">>", "endobj", "3 0 obj", "<<",
      "/Type /Pages", "/Count 1", "/MediaBox [ 0 0 612 792 ]", "/Kids [ 7 0 R ]", ">>", "endobj",
      "xref", "0 10", "0000000000 65535 f ", "0000000015 00000 n ", "0000000664 00000 n ",
      "0000000713 00000 n ", "0000000153 00000 n ", "0000000251 00000 n ", "0000000319 00000 n ",
      "0000000390 00000 n ", "0000000480 00000 n ", "0000000645 00000 n ", "trailer", "<<",
      "/Size 10", "/Root 2 0 R", "/Info 1 0 R", ">>", "startxref", "798", "%%EOF"};
  lines.insert(lines.end(), rest.begin(), rest.end());
  const std::string pdf = ReadFile(output);
  EXPECT_EQ(pdf.size(), 1075u);
  EXPECT_EQ(pdf, Join(lines));
  EXPECT_TRUE(messages.shown.empty());

  const WriterState& s = writer.state();
  const std::vector<std::int32_t> xrefs(s.xrefs.begin() + 1, s.xrefs.begin() + 10);
  EXPECT_EQ(xrefs, (std::vector<std::int32_t>{15, 664, 713, 153, 251, 319, 390, 480, 645}));
  EXPECT_EQ(s.location, 1075);
  EXPECT_EQ(s.objcount, 9);
  EXPECT_EQ(s.lineno, 0);
}

TEST_F(WriterTest, PreambleOffsetsAndFirstPageAt390) {
  writer.initpdf("Times-Roman", 10, 0, 8.5f, 11.f);
  writer.state().outfile = output;
  writer.startpdf();
  EXPECT_EQ(writer.state().location, 15);
  writer.writepreamble();
  const WriterState& s = writer.state();
  EXPECT_EQ(s.location, 390);
  EXPECT_EQ(s.xrefs[1], 15);
  EXPECT_EQ(s.xrefs[4], 153);
  EXPECT_EQ(s.xrefs[5], 251);
  EXPECT_EQ(s.xrefs[6], 319);
  EXPECT_EQ(s.objcount, 6);
  EXPECT_EQ(s.catalogobj, 2);
  EXPECT_EQ(s.pagesobj, 3);
  EXPECT_EQ(s.encodingobj, 5);
  EXPECT_EQ(s.resourcesobj, 6);
  EXPECT_EQ(s.buffer.view(), Join(PreambleLines()));
  // Nothing reaches the disk before the buffer passes 32000 characters.
  EXPECT_FALSE(testing::Exists(output));
}

struct MetricsRow {
  float w, h;
  std::int16_t size;
  const char* font;
  std::int32_t pagewidth, pageheight;
  std::int64_t leading;
  std::int32_t linesperpage, charsperline;
  double footerx;
};

TEST_F(WriterTest, PageMetricsTable) {
  const MetricsRow rows[] = {
      {8.5f, 11, 10, "Times-Roman", 612, 792, 120000, 60, 135, 306},
      {8.5f, 11, 10, "Courier", 612, 792, 120000, 60, 92, 306},
      {8.5f, 11, 10, "Arial", 612, 792, 120000, 60, 122, 306},
      {8.5f, 11, 12, "Courier", 612, 792, 144000, 50, 76, 306},       // 76.5 to even
      {8.5f, 11, 16, "Times-Roman", 612, 792, 192000, 38, 84, 306},   // 37.5 to even
      {8.5f, 14, 10, "Times-Roman", 612, 1008, 120000, 78, 135, 306},
      {14, 11, 10, "Times-Roman", 1008, 792, 120000, 60, 222, 504},
      {8.5f, 11, 10, "COURIER", 612, 792, 120000, 60, 92, 306},       // the test ignores case
      {8.5f, 11, 10, "Courier-Bold", 612, 792, 120000, 60, 135, 306}, // but not a longer name
      {8.5f, 11, 11, "Arialish", 612, 792, 132000, 55, 122, 306},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string(r.font) + " " + std::to_string(r.size));
    writer.initpdf(r.font, r.size, 0, r.w, r.h);
    const WriterState& s = writer.state();
    EXPECT_EQ(s.pagewidth, r.pagewidth);
    EXPECT_EQ(s.pageheight, r.pageheight);
    EXPECT_EQ(s.leading, r.leading);
    EXPECT_EQ(s.linesperpage, r.linesperpage);
    EXPECT_EQ(s.charsperline, r.charsperline);
    EXPECT_EQ(s.footerx, r.footerx);
    EXPECT_EQ(s.fontname, r.font);
    EXPECT_EQ(s.footery, 25);
  }
}

TEST_F(WriterTest, PageHeadAndFooterNumbers) {
  ASSERT_TRUE(Convert("x", "Courier", 11, 270, 8.26f, 0.444f));  // 595 x 32 points
  const std::string pdf = ReadFile(output);
  for (const char* expected : {"/F1 11 Tf\r", "13.2 TL\r", "1 0 0 1 50 -8 Tm\r", "/Rotate 270\r",
                               "1 0 0 1 297.5 25 Tm\r", "/BaseFont /Courier\r",
                               "/MediaBox [ 0 0 595 32 ]\r"}) {
    EXPECT_NE(pdf.find(expected), std::string::npos) << expected;
  }
}

TEST_F(WriterTest, WrapsAtBreakCharactersAndCutsHardOtherwise) {
  const std::string pdf =
      LayOut("Printing is easy, isn't it? Yes, it is.\none two three-four-five-six\n", 20, 60);
  const auto pages = Pages(pdf);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0], (std::vector<std::string>{"Printing is easy, ", "isn't it? Yes, it ", "is.",
                                                 "one two three-four-f", "ive-six"}));
  EXPECT_TRUE(testing::QpdfFindings(output).empty());
}

TEST_F(WriterTest, PageCapacityCountsAWrappedLineOnceMore) {
  const std::string pdf =
      LayOut("one\nPrinting is easy, isn't it? Yes, it is.\ntwo\nthree\nfour\n", 20, 3);
  EXPECT_EQ(Pages(pdf), (std::vector<std::vector<std::string>>{
                            {"one", "Printing is easy, ", "isn't it? Yes, it "},
                            {"is.", "two"},
                            {"three", "four"}}));
  EXPECT_NE(pdf.find("/Kids [ 7 0 R 10 0 R 13 0 R ]\r"), std::string::npos);
  EXPECT_NE(pdf.find("/Length 12 0 R\r"), std::string::npos);
  EXPECT_NE(pdf.find("/Size 16\r"), std::string::npos);
  EXPECT_NE(pdf.find("(3) Tj\r"), std::string::npos);
}

TEST_F(WriterTest, SixtyOneShortLinesMakeTwoPages) {
  std::string text;
  for (int i = 1; i <= 61; ++i) text += "line " + std::to_string(i) + "\n";
  ASSERT_TRUE(Convert(text));
  const auto pages = Pages(ReadFile(output));
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0].size(), 60u);
  EXPECT_EQ(pages[1], std::vector<std::string>{"line 61"});
  EXPECT_TRUE(testing::QpdfFindings(output).empty());
}

TEST_F(WriterTest, FormFeedsStartPagesAndStayInTheText) {
  const std::string pdf = LayOut("\fA\nB\fx\nC\n", 135, 60);
  EXPECT_EQ(Pages(pdf), (std::vector<std::vector<std::string>>{
                            {}, {"\fA"}, {"B\fx", "C"}}));
  // A wrapped line with a form feed in its rest gives each piece a page of its own
  // until the piece holding the form feed.
  const std::string wrapped = LayOut("aaaa bbbb cccc\fdddd eeee\n", 5, 60);
  EXPECT_EQ(Pages(wrapped), (std::vector<std::vector<std::string>>{
                                {}, {"aaaa "}, {"bbbb "}, {"cccc\f", "dddd ", "eeee"}}));
  EXPECT_TRUE(testing::QpdfFindings(output).empty());
}

TEST_F(WriterTest, EscapesTrimsAndKeepsTabs) {
  const std::string pdf = LayOut("   f(x)  \n    \n\tC:\\dir\\\n\n", 135, 60);
  EXPECT_EQ(Pages(pdf)[0], (std::vector<std::string>{"f\\(x\\)", "", "\tC:\\\\dir\\\\", ""}));
}

TEST_F(WriterTest, HardCutNeverPartsAnEscapePair) {
  // "aaaaaaaaa(" escapes to 11 characters; a cut after 10 would end on the backslash.
  std::string pdf = LayOut("aaaaaaaaa(bbbbbbbbb\n", 10, 60);
  EXPECT_EQ(Pages(pdf)[0], (std::vector<std::string>{"aaaaaaaaa", "\\(bbbbbbbb", "b"}));
  pdf = LayOut(std::string(30, '\\') + "(" + std::string(7, ')'), 9, 60);
  const auto pages = Pages(pdf);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].size(), 10u);
  for (const auto& piece : pages[0]) {
    std::size_t run = 0;
    while (run < piece.size() && piece[piece.size() - 1 - run] == '\\') ++run;
    EXPECT_EQ(run % 2, 0u) << piece;
  }
  EXPECT_TRUE(testing::QpdfFindings(output).empty());
}

TEST_F(WriterTest, ReadsEveryKindOfLineEnd) {
  const std::string pdf = LayOut("\xEF\xBB\xBF" "a\r\nb\rc\nd\n\re", 135, 60);
  EXPECT_EQ(Pages(pdf)[0], (std::vector<std::string>{"a", "b", "c", "d", "", "e"}));
  EXPECT_EQ(Pages(LayOut("one\n", 135, 60))[0], std::vector<std::string>{"one"});
  EXPECT_EQ(Pages(LayOut("\n", 135, 60))[0], std::vector<std::string>{""});
}

TEST_F(WriterTest, TextAndInfoReachThePdfAsWindows1252) {
  input = dir.write("in.txt", "caf\xC3\xA9 \xE2\x82\xAC 5 \xE4\xB8\xAD\nlatin1 \xE9t\xE9\n");
  ASSERT_TRUE(writer.ConvertToPDF(input, output, "\xC3\x89mile", "c\\d", "k(1", "s)", "a)b",
                                  "Times-Roman", 10, 0, 8.5f, 11.f));
  const std::string pdf = ReadFile(output);
  EXPECT_NE(pdf.find("T* (caf\xE9 \x80 5 ?\r\n) Tj"), std::string::npos);
  EXPECT_NE(pdf.find("T* (latin1 \xE9t\xE9\r\n) Tj"), std::string::npos);
  EXPECT_NE(pdf.find("/Author <FEFF00C9006D0069006C0065>\r"), std::string::npos);
  EXPECT_NE(pdf.find("/Creator (c\\\\d)\r"), std::string::npos);
  EXPECT_NE(pdf.find("/Keywords (k\\(1)\r"), std::string::npos);
  EXPECT_NE(pdf.find("/Title (a\\)b)\r"), std::string::npos);
  EXPECT_TRUE(testing::QpdfFindings(output).empty());
  const std::string text = testing::PdfToText(output);
  EXPECT_NE(text.find("caf\xC3\xA9 \xE2\x82\xAC 5 ?"), std::string::npos) << text;
  EXPECT_NE(testing::RunCommand("pdfinfo " + testing::ShellQuote(output)).output.find("a)b"),
            std::string::npos);
}

TEST_F(WriterTest, InfoValuesReadBackAsTheCharactersGiven) {
  input = dir.write("in.txt", "text\n");
  const std::string title = "\xE2\x80\x9CQuoted\xE2\x80\x9D \xE2\x80\x93 5 \xE2\x82\xAC \xE2\x84\xA2";
  const std::string greek = "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC";
  const std::string chinese = "\xE4\xB8\xAD\xE6\x96\x87";
  // Windows-1252 bytes that are not UTF-8: read as the characters they stand for.
  const std::string latin1 = "Caf\xE9 \x93x\x94";
  ASSERT_TRUE(writer.ConvertToPDF(input, output, greek, latin1, "plain (ascii)", chinese, title,
                                  "Times-Roman", 10, 0, 8.5f, 11.f));
  EXPECT_TRUE(testing::QpdfFindings(output).empty());
  const std::string info = testing::RunCommand("pdfinfo " + testing::ShellQuote(output)).output;
  EXPECT_NE(info.find("Title:           " + title + "\n"), std::string::npos) << info;
  EXPECT_NE(info.find("Author:          " + greek + "\n"), std::string::npos) << info;
  EXPECT_NE(info.find("Subject:         " + chinese + "\n"), std::string::npos) << info;
  EXPECT_NE(info.find("Creator:         Caf\xC3\xA9 \xE2\x80\x9Cx\xE2\x80\x9D\n"), std::string::npos)
      << info;
  EXPECT_NE(info.find("Keywords:        plain (ascii)\n"), std::string::npos) << info;
  // An ASCII value keeps its literal form byte for byte.
  EXPECT_NE(ReadFile(output).find("\r/Keywords (plain \\(ascii\\))\r"), std::string::npos);
}

TEST_F(WriterTest, PutlineFlushesOnlyPastThirtyTwoThousand) {
  writer.initpdf("Times-Roman", 10, 0, 8.5f, 11.f);
  writer.state().outfile = output;
  writer.putline(std::string(31999, 'a'), false);  // exactly 32000 with its terminator
  EXPECT_TRUE(testing::Names(dir.path()).empty());
  writer.putline("", false);  // 32001: the first flush starts the new file beside the output
  const std::vector<std::string> names = testing::Names(dir.path());
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(ReadFile(dir.file(names[0])).size(), 32001u);
  EXPECT_FALSE(testing::Exists(output));
  EXPECT_TRUE(writer.state().buffer.empty());
  writer.putline("a\r\nb", false);
  EXPECT_EQ(writer.state().location, 32006);
  EXPECT_EQ(writer.state().location,
            static_cast<std::int64_t>(ReadFile(dir.file(names[0])).size() + writer.state().buffer.size()));
  writer.putline("end", true);
  EXPECT_TRUE(writer.closepdf());
  EXPECT_EQ(testing::Names(dir.path()), std::vector<std::string>{"out.pdf"});
  EXPECT_EQ(ReadFile(output), std::string(31999, 'a') + "\r\ra\r\nb\rend\r");
}

TEST_F(WriterTest, TwoConversionsInARowStartAfresh) {
  std::string big;
  for (int i = 0; i < 200; ++i) big += "A line of some length that fills the page, number " + std::to_string(i) + "\n";
  ASSERT_TRUE(Convert(big, "Courier", 8, 90, 14, 11));
  ASSERT_TRUE(Convert("Hello\nWorld (1)\n"));
  EXPECT_EQ(ReadFile(output).size(), 1075u);
  EXPECT_EQ(writer.state().objcount, 9);
}

TEST_F(WriterTest, MissingEmptyOrUnnamedInputIsReportedAndTouchesNothing) {
  dir.write("out.pdf", "old");
  dir.write("empty.txt", "");
  for (const std::string& name : {dir.file("missing.txt"), dir.file("empty.txt"), std::string(),
                                  dir.path(), dir.file("no/such/folder.txt")}) {
    messages.shown.clear();
    EXPECT_FALSE(writer.ConvertToPDF(name, output, "", "", "", "", "", "Times-Roman", 10, 0, 8.5f, 11.f));
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"File '" + name + "' does not exist."});
    EXPECT_EQ(messages.shown[0].title, "Scrivane");
    EXPECT_EQ(messages.shown[0].icon, platform::Icon::None);
  }
  EXPECT_EQ(ReadFile(output), "old");
}

TEST_F(WriterTest, ZeroFontSizeKeepsTheOldOutputAndWritesNothing) {
  dir.write("out.pdf", "old");
  EXPECT_FALSE(Convert("text", "Times-Roman", 0));
  EXPECT_EQ(messages.texts(), std::vector<std::string>{"Division by zero"});
  EXPECT_EQ(ReadFile(output), "old");
  EXPECT_EQ(testing::Names(dir.path()), (std::vector<std::string>{"in.txt", "out.pdf"}));
  EXPECT_FALSE(Convert("text", "Times-Roman", 10, 0, 3e8f, 11));
  EXPECT_EQ(messages.texts().back(), "Overflow");
}

TEST_F(WriterTest, RefusesToWriteOverItsInput) {
  const std::string text = "precious\n";
  input = dir.write("notes.txt", text);
  const std::string link = dir.file("link.pdf");
  ASSERT_EQ(::symlink(input.c_str(), link.c_str()), 0);
  for (const std::string& out : {input, dir.path() + "/./notes.txt", link}) {
    messages.shown.clear();
    EXPECT_FALSE(writer.ConvertToPDF(input, out, "", "", "", "", "", "Times-Roman", 10, 0, 8.5f, 11.f));
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_NE(messages.shown[0].text.find("cannot also be the output"), std::string::npos);
  }
  EXPECT_EQ(ReadFile(input), text);
}

TEST_F(WriterTest, WriteFailuresAreReportedOnceAndLeaveNoFile) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "Enough lines to need many flushes of the output buffer.\n";
  output = dir.file("no/such/dir/out.pdf");
  EXPECT_FALSE(Convert(text));
  EXPECT_EQ(messages.texts(), std::vector<std::string>{"Cannot write '" + output + "': No such file or directory"});

  if (::geteuid() != 0) {  // root may write anywhere
    messages.shown.clear();
    const std::string locked = dir.file("locked");
    ::mkdir(locked.c_str(), 0555);
    output = locked + "/out.pdf";
    EXPECT_FALSE(Convert(text));
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"Cannot write '" + output + "': Permission denied"});
  }
  if (testing::Exists("/dev/full")) {
    messages.shown.clear();
    output = "/dev/full";
    EXPECT_FALSE(Convert(text));
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"Cannot write '/dev/full': No space left on device"});
  }
}

// Files whose lines run out of memory after the first thousand, as a huge
// line would.
class MemoryStarvedFiles : public platform::StdFiles {
 public:
  std::unique_ptr<platform::LineReader> openLines(const std::string& path) override {
    struct Starved : platform::LineReader {
      std::unique_ptr<platform::LineReader> inner;
      int lines = 0;
      bool next(std::string_view& line) override {
        if (++lines > 1000) throw std::bad_alloc();
        return inner->next(line);
      }
    };
    auto reader = std::make_unique<Starved>();
    reader->inner = StdFiles::openLines(path);
    return reader;
  }
};

TEST_F(WriterTest, RunningOutOfMemoryIsSaidInWordsAndLeavesNoPdf) {
  MemoryStarvedFiles starved;
  PdfWriter hungry(starved, messages, clock);
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "a line of the text\n";
  input = dir.write("in.txt", text);
  dir.write("out.pdf", "old");
  EXPECT_FALSE(hungry.ConvertToPDF(input, output, "", "", "", "", "", "Times-Roman", 10, 0, 8.5f, 11.f));
  EXPECT_EQ(messages.texts(), std::vector<std::string>{"Out of memory while converting '" + input + "'"});
  EXPECT_EQ(ReadFile(output), "old");
  EXPECT_EQ(testing::Names(dir.path()), (std::vector<std::string>{"in.txt", "out.pdf"}));
}

TEST_F(WriterTest, ADeviceOutputIsWrittenAsAStream) {
  ASSERT_TRUE(Convert("to nowhere\n"));
  output = "/dev/null";
  ASSERT_TRUE(Convert("to nowhere\n"));
  EXPECT_TRUE(messages.shown.empty());
  struct stat st {};
  ASSERT_EQ(::stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST_F(WriterTest, StopsCleanlyAtThePageLimit) {
  std::string lines;
  for (int i = 0; i < 1700; ++i) lines += "\fpage\n";
  dir.write("out.pdf", "old");
  ASSERT_FALSE(Convert(lines));
  // The shorter document is sound, so it replaces the old one.
  EXPECT_EQ(testing::Names(dir.path()), (std::vector<std::string>{"in.txt", "out.pdf"}));
  EXPECT_EQ(messages.texts(), std::vector<std::string>{"Subscript out of range"});
  EXPECT_EQ(writer.state().pageno, 1664);
  EXPECT_EQ(writer.state().objcount, 4998);
  EXPECT_TRUE(testing::QpdfFindings(output).empty());
  const std::string info = testing::RunCommand("pdfinfo " + testing::ShellQuote(output)).output;
  const std::size_t pages = info.find("Pages:");
  ASSERT_NE(pages, std::string::npos) << info;
  EXPECT_EQ(std::stoi(info.substr(pages + 6)), 1664);
}

TEST_F(WriterTest, ImpossibleLineWidthsFailAndLeaveNoDocument) {
  struct Case {
    std::int16_t size;
    const char* message;
  } cases[] = {{-10, "Invalid procedure call or argument"},  // negative width
               {2000, "Invalid procedure call or argument"}, // width 1
               {4000, "Invalid procedure call or argument"}, // width 0
               {10, "Overflow"}};                            // width above 32767
  for (const auto& c : cases) {
    messages.shown.clear();
    const float width = c.size == 10 ? 3000.f : 8.5f;
    EXPECT_FALSE(Convert("one line\n" + std::string(60000, 'x') + "\n", "Times-Roman", c.size, 0, width, 11.f));
    EXPECT_EQ(messages.texts(), std::vector<std::string>{c.message}) << c.size;
    EXPECT_EQ(testing::Names(dir.path()), std::vector<std::string>{"in.txt"}) << c.size;
  }
}

// A line longer than a piece is laid out as it is read, in pieces; the document
// must be the one the whole line gives. The lines cross the reader's buffer
// (64 KiB) and the pieces with an escape, a UTF-8 sequence, a CR LF and a break
// character right at a boundary.
TEST_F(WriterTest, LongLinesLaidOutAsTheyAreReadGiveTheDocumentOfTheWholeLine) {
  constexpr std::size_t kBuffer = 1 << 16;
  // `at` bytes of `fill`, then `boundary` so that it straddles the buffer's end.
  const auto across = [&](const std::string& fill, const std::string& boundary, std::size_t at = (1 << 16) - 1) {
    std::string text;
    while (text.size() < at) text += fill;
    text.resize(at);
    return text + boundary;
  };
  std::string words;
  for (int i = 0; words.size() < 200000; ++i) words += "word" + std::to_string(i) + (i % 7 ? " " : ", ");
  const std::string inputs[] = {
      words + "\nshort\n" + words + "\n",
      across("abcdefghij", "\\(x)") + std::string(150000, '(') + "\\\\\\)" + std::string(90000, 'q') + "\n",
      across("caf\xC3\xA9 ", "\xC3\xA9\xE2\x82\xAC", kBuffer - 1) + words + "\xF0\x9F\x98\x80 end\r\nnext\n",
      across("caf\xC3\xA9 ", "\xE2\x82\xAC", kBuffer - 2) + words + " \xFF invalid at the end\n",
      across("x;", "\r\n") + across("y", "\r\r\n") + words + "\r",
      std::string(100000, ' ') + words + std::string(150000, ' ') + "\n" + std::string(300000, ' ') + "\n",
      across(std::string("nul\0 ", 5), "\f") + words + "\n" + words + "\f\n" + std::string(kBuffer + 5, '\f') + "\n",
      across("abc", ".") + std::string(200000, 'm') + across("]", "]") + "\n" + std::string(200000, '\\') + "\n",
      // Tabs, for the layouts that make them blanks, and a tail of them.
      across("\tab W", "\t") + words + std::string(100000, '\t') + "\n\t \t" + words + " \t\n",
  };
  // The classic layout and those of option mode's shape settings.
  const LayoutSettings layouts[] = {{}, {true, 8, true, false}, {false, 4, false, false},
                                    {true, 0, false, false}, {false, 0, true, false}};
  for (const std::string& text : inputs) {
   for (const LayoutSettings& layout : layouts) {
    writer.setLayout(layout);
    input = dir.write("in.txt", text);
    std::string whole;
    for (const std::size_t piece : {std::size_t{1} << 30, std::size_t{7}, std::size_t{4096}}) {
      writer.setLinePiece(piece);
      messages.shown.clear();
      const bool clean = writer.ConvertToPDF(input, output, "", "", "", "", "", "Courier", 8, 0, 8.5f, 11.f);
      const std::string pdf = ReadFile(output);
      if (whole.empty()) {
        whole = pdf;
        EXPECT_TRUE(testing::QpdfFindings(output).empty()) << text.substr(0, 40);
      } else {
        EXPECT_TRUE(pdf == whole) << "piece " << piece << " of " << text.substr(0, 40) << " with keep "
                                  << layout.keepSpaces << ", tab " << layout.tabSize << ", fit " << layout.fit;
      }
      // Only the page limit may stop these documents.
      EXPECT_TRUE(clean || messages.texts() == std::vector<std::string>{"Subscript out of range"});
    }
   }
  }
  writer.setLayout({});
}

}  // namespace
}  // namespace scrivane
