#include "tests/support/pdf_structure.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/std_files.h"
#include "tests/support/fakes.h"
#include "tests/support/pdf_tools.h"
#include "tests/support/temp_dir.h"
#include "writer/writer.h"

namespace scrivane {
namespace {

using testing::ReadFile;
using testing::StructureFindings;

std::string Joined(const std::vector<std::string>& findings) {
  std::string out;
  for (const auto& f : findings) out += f + "\n";
  return out;
}

class StructureTest : public ::testing::Test {
 protected:
  // Converts `text` and gives the bytes of the PDF.
  std::string Convert(const std::string& text, const std::string& font = "Times-Roman",
                      std::int16_t size = 10, std::int16_t rotation = 0, float w = 8.5f,
                      float h = 11.f, const std::string& title = "") {
    const std::string input = dir.write("in.txt", text);
    converted = writer.ConvertToPDF(input, output, "", "", "", "", title, font, size, rotation, w, h);
    return ReadFile(output);
  }

  // Expects the checker to find fault with `pdf`, one finding containing `mentions`.
  static void ExpectFinding(const std::string& pdf, const std::string& mentions) {
    const auto findings = StructureFindings(pdf);
    bool found = false;
    for (const auto& f : findings) found = found || f.find(mentions) != std::string::npos;
    EXPECT_TRUE(found) << "wanted a finding about \"" << mentions << "\", got:\n" << Joined(findings);
  }

  // `pdf` with the first `from` (which must occur) replaced by `to`.
  static std::string Replaced(std::string pdf, const std::string& from, const std::string& to) {
    const std::size_t at = pdf.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) pdf.replace(at, from.size(), to);
    return pdf;
  }

  testing::TempDir dir;
  std::string output = dir.file("out.pdf");
  platform::StdFiles files;
  testing::FakeMessageBox messages;
  testing::FixedClock clock;
  PdfWriter writer{files, messages, clock};
  bool converted = false;
};

TEST_F(StructureTest, AcceptsWhatTheWriterProduces) {
  std::string many;
  for (int i = 0; i < 400; ++i) many += "Line " + std::to_string(i) + " (with a parenthesis) and C:\\path\\\n";
  struct Case {
    const char* name;
    std::string pdf;
  } cases[] = {
      {"one page", Convert("Hello\r\nWorld (1)\r\n")},
      {"one empty line", Convert("\n")},
      {"many pages, Courier 8, rotated", Convert(many, "Courier", 8, 90, 14.f, 11.f)},
      {"form feeds and wraps", Convert("\fA\n" + std::string(700, 'x') + "\f" + std::string(300, ')') + "\n", "Arial", 20)},
      {"awkward title", Convert("x\n", "Times-Roman", 10, 0, 8.5f, 11.f, "a)b(c\\d\x01\r\n(")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.pdf.empty());
    EXPECT_EQ(Joined(StructureFindings(c.pdf)), "");
  }
  // qpdf agrees about the last one, so the checker is not merely lenient.
  EXPECT_TRUE(testing::QpdfFindings(output).empty());
}

TEST_F(StructureTest, AcceptsTheShorterDocumentOfThePageLimit) {
  // Beyond 1664 pages the writer stops and still closes the document.
  std::string pages;
  for (int i = 0; i < 1700; ++i) pages += "\fpage\n";
  const std::string pdf = Convert(pages);
  EXPECT_FALSE(converted);
  EXPECT_EQ(Joined(StructureFindings(pdf)), "");
  // A line that cannot be wrapped fails the conversion, which leaves no
  // document of its own: the one before stays.
  EXPECT_EQ(Convert("one\n" + std::string(500, 'x') + "\n", "Times-Roman", -10), pdf);
  EXPECT_FALSE(converted);
}

TEST_F(StructureTest, FlagsBrokenCrossReferences) {
  const std::string pdf = Convert("Hello\r\nWorld (1)\r\n");
  ASSERT_EQ(pdf.size(), 1075u);
  ASSERT_EQ(Joined(StructureFindings(pdf)), "");

  // An offset one byte off.
  ExpectFinding(Replaced(pdf, "0000000480 00000 n ", "0000000481 00000 n "),
                "object 8: its entry gives offset 481");
  // Two entries swapped: each object is where the other's entry points.
  const std::string swapped =
      Replaced(pdf, "0000000153 00000 n \r0000000251", "0000000251 00000 n \r0000000153");
  ExpectFinding(swapped, "object 4: its entry gives offset 251");
  ExpectFinding(swapped, "object 5: its entry gives offset 153");
  // An entry of 19 bytes.
  ExpectFinding(Replaced(pdf, "0000000390 00000 n \r", "0000000390 00000 n\r"), "20-byte");
  // A damaged free entry.
  ExpectFinding(Replaced(pdf, "0000000000 65535 f ", "0000000000 65535 n "), "free entry");
  // startxref beside the xref line.
  ExpectFinding(Replaced(pdf, "startxref\r798\r", "startxref\r797\r"), "does not point at the xref");
  // /Size not one more than the objects.
  ExpectFinding(Replaced(pdf, "/Size 10\r", "/Size 11\r"), "/Size 11");
  // An object that does not end where the next begins.
  ExpectFinding(Replaced(pdf, "endobj\r4 0 obj", "endobX\r4 0 obj"), "right before the next object");
}

TEST_F(StructureTest, FlagsWrongStreamLengths) {
  const std::string pdf = Convert("Hello\r\nWorld (1)\r\n");
  ExpectFinding(Replaced(pdf, "9 0 obj\r113\r", "9 0 obj\r112\r"),
                "stream 8: its length object 9 says 112, the stream holds 113 bytes");
  ExpectFinding(Replaced(pdf, "9 0 obj\r113\r", "9 0 obj\r-13\r"), "neither a dictionary nor an integer");
  ExpectFinding(Replaced(pdf, "/Length 9 0 R", "/Length 1 0 R"), "/Length names no integer object");
  // The stream has to begin with BT and end with ET.
  ExpectFinding(Replaced(pdf, "stream\rBT\r", "stream\rBX\r"), "does not begin with BT");
  ExpectFinding(Replaced(pdf, "\rET\rendstream", "\rEX\rendstream"), "does not end with ET");
}

TEST_F(StructureTest, FlagsBadlyEscapedStrings) {
  const std::string pdf = Convert("Hello\r\nWorld (1)\r\n", "Times-Roman", 10, 0, 8.5f, 11.f, "a)b");
  ASSERT_EQ(Joined(StructureFindings(pdf)), "");
  // Each edit keeps the size, so only the string itself is at fault.
  ExpectFinding(Replaced(pdf, "World \\(1", "World  (1"), "unescaped '('");
  ExpectFinding(Replaced(pdf, "World \\(1\\)", "World \\(1 )"), "unbalanced ')'");
  ExpectFinding(Replaced(pdf, "T* (Hello", "T* (Hel\\o"), "backslash before 'o'");
  // A backslash that swallows the line end inside the string.
  ExpectFinding(Replaced(pdf, "Hello\r\n)", "Hell\\\r\n)"), "backslash before '\\r'");
  // A carriage return that is not the CR LF before the closing parenthesis.
  ExpectFinding(Replaced(pdf, "T* (Hello", "T* (He\rlo"), "not closed on its line");
  ExpectFinding(Replaced(pdf, "(1) Tj\r", "(1  Tj\r"), "not closed on its line");
  ExpectFinding(Replaced(pdf, "/Title (a\\)b)", "/Title (a )b)"), "unbalanced ')'");
  ExpectFinding(Replaced(pdf, "/Title (a\\)b)", "/Title (a\\(b("), "never closed");
}

TEST_F(StructureTest, FlagsPageTreesThatDisagreeWithThePages) {
  std::string text;
  for (int i = 0; i < 70; ++i) text += "line\n";
  const std::string pdf = Convert(text);
  ASSERT_NE(pdf.find("/Kids [ 7 0 R 10 0 R ]"), std::string::npos);
  ExpectFinding(Replaced(pdf, "/Count 2\r", "/Count 3\r"), "/Count 3 but /Kids names 2 pages");
  ExpectFinding(Replaced(pdf, "/Kids [ 7 0 R 10 0 R ]", "/Kids [ 10 0 R 7 0 R ]"), "in file order");
  ExpectFinding(Replaced(pdf, "/Kids [ 7 0 R 10 0 R ]", "/Kids [ 7 0 R 10 0 X ]"), "/Kids is not a list");
  ExpectFinding(Replaced(pdf, "/Parent 3 0 R\r/Resources 6 0 R\r/Contents 11",
                         "/Parent 2 0 R\r/Resources 6 0 R\r/Contents 11"),
                "page object 10: /Parent");
  ExpectFinding(Replaced(pdf, "/Contents 11 0 R", "/Contents 12 0 R"), "page object 10: /Contents");
  ExpectFinding(Replaced(pdf, "/Contents 11 0 R", "/Contents 12 0 R"), "stream 11 belongs to no page");
  ExpectFinding(Replaced(pdf, "/Root 2 0 R", "/Root 3 0 R"), "/Root does not name the catalog");
}

TEST_F(StructureTest, FlagsAMissingEnd) {
  const std::string pdf = Convert("Hello\n");
  ExpectFinding(pdf.substr(0, pdf.size() - 1), "does not end with %%EOF and its carriage return");
  ExpectFinding(pdf + "\r", "does not end with %%EOF");
  ExpectFinding(pdf.substr(0, pdf.size() / 2), "no startxref");
  ExpectFinding("", "no startxref");
  ExpectFinding(Replaced(pdf, "%PDF-1.2\r", "%PDF-1.3\r"), "header");
}

// Any one byte removed or added anywhere moves an object, the xref table or
// the end, and any byte changed in the table or the trailer breaks its format:
// the checker notices every one of them.
TEST_F(StructureTest, NoticesEverySingleByteDeletionOrInsertion) {
  const std::string pdf = Convert("Hello\r\nWorld (1)\r\n");
  ASSERT_EQ(Joined(StructureFindings(pdf)), "");
  const std::size_t xref = pdf.rfind("\rxref\r") + 1;
  for (std::size_t i = 0; i < pdf.size(); ++i) {
    std::string shorter = pdf;
    shorter.erase(i, 1);
    EXPECT_FALSE(StructureFindings(shorter).empty()) << "byte " << i << " removed";
    std::string longer = pdf;
    longer.insert(i, 1, pdf[i] == ' ' ? 'x' : ' ');
    EXPECT_FALSE(StructureFindings(longer).empty()) << "byte inserted at " << i;
    if (i >= xref) {
      for (const char other : {'0', '9', ' ', '\r', 'x'}) {
        if (other == pdf[i]) continue;
        std::string changed = pdf;
        changed[i] = other;
        EXPECT_FALSE(StructureFindings(changed).empty()) << "byte " << i << " changed to " << int(other);
      }
    }
  }
}

}  // namespace
}  // namespace scrivane
