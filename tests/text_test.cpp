#include "writer/text.h"

#include <gtest/gtest.h>

#include "platform/failure.h"

namespace scrivane {
namespace {

TEST(ReplaceTextTest, ReplacesLeftToRightWithoutRescanning) {
  EXPECT_EQ(ReplaceText("aaa", "aa", "b"), "ba");
  EXPECT_EQ(ReplaceText("((", "(", "\\("), "\\(\\(");
  EXPECT_EQ(ReplaceText("abcabc", "b", "bb"), "abbcabbc");
  EXPECT_EQ(ReplaceText("", "(", "\\("), "");
  EXPECT_EQ(ReplaceText("a-b-c", "-", ""), "abc");
  EXPECT_EQ(ReplaceText("Case case", "case", "X"), "Case X");
  EXPECT_EQ(ReplaceText("unchanged", "", "x"), "unchanged");
}

TEST(ReplaceTextTest, EscapingIsBackslashesThenParenthesesReplaced) {
  EXPECT_EQ(EscapeLiteral("f(x)"), "f\\(x\\)");
  EXPECT_EQ(EscapeLiteral("C:\\dir\\(a)"), "C:\\\\dir\\\\\\(a\\)");
  EXPECT_EQ(EscapeLiteral("plain"), "plain");
  // The one-pass escape gives what the three replacements in turn give, for any
  // text, and tells whether it is plain (ASCII without NULs, tabs or form feeds); the
  // scan foretells its length and whether the text is ASCII.
  const std::string alphabet("\\()a (\x80\xE9\f\0\t", 11);
  std::uint32_t seed = 12345;
  for (int n = 0; n < 3000; ++n) {
    std::string text;
    for (int k = 0; k < n % 41; ++k) {
      seed = seed * 1103515245u + 12345u;
      text += alphabet[(seed >> 16) % (n % 3 == 0 ? alphabet.size() : 6)];
    }
    const std::string chained =
        ReplaceText(ReplaceText(ReplaceText(text, "\\", "\\\\"), "(", "\\("), ")", "\\)");
    ASSERT_EQ(EscapeLiteral(text), chained) << text;
    std::string out(2 * text.size() + kEscapeSlack, '-');
    bool plain = false;
    const char* end = EscapeInto(out.data(), text, plain);
    ASSERT_EQ(std::string_view(out.data(), static_cast<std::size_t>(end - out.data())), chained) << text;
    ASSERT_EQ(plain, text.find_first_of(std::string_view("\x80\xE9\f\0\t", 5)) == std::string::npos) << text;
    const EscapeScan scan = ScanForEscapes(text);
    ASSERT_EQ(scan.added, chained.size() - text.size()) << text;
    ASSERT_EQ(scan.ascii, text.find_first_of("\x80\xE9") == std::string::npos) << text;
  }
  // A byte that is not plain is seen wherever it stands.
  for (std::size_t size = 1; size <= 40; ++size) {
    for (std::size_t at = 0; at < size; ++at) {
      for (const char odd : {'\0', '\t', '\f', '\xE9'}) {
        std::string text(size, '(');
        text[at] = odd;
        std::string out(2 * size + kEscapeSlack, '-');
        bool plain = true;
        EscapeInto(out.data(), text, plain);
        ASSERT_FALSE(plain) << size << " " << at << " " << int{odd};
      }
    }
  }
}

TEST(Windows1252Test, TranscodesValidUtf8AndKeepsEverythingElse) {
  EXPECT_EQ(ToWindows1252("plain ASCII"), "plain ASCII");
  EXPECT_EQ(ToWindows1252("\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xE2\x80\x9Cq\xE2\x80\x9D"),
            "\xE9t\xE9 \x80 \x93q\x94");
  EXPECT_EQ(ToWindows1252("\xC5\xB8 \xC2\xA0 \xC3\xBF"), "\x9F \xA0 \xFF");
  // Characters without a code become one "?" each, whatever their length.
  EXPECT_EQ(ToWindows1252("\xE4\xB8\xAD\xF0\x9F\x98\x80!"), "?" "?!");
  // Not UTF-8: taken as 8-bit text unchanged.
  for (const std::string bad : {"caf\xE9", "\xC0\xAF", "\xED\xA0\x80", "\xE2\x82", "\xF4\x90\x80\x80",
                                "\xF8\x88\x80\x80\x80", "ok \xC3\xA9 then \xFF"}) {
    EXPECT_EQ(ToWindows1252(bad), bad);
  }
}

TEST(ByteKindsTest, EveryByteIsSeenAtEveryPlaceOfAWord) {
  // Each byte alone, at each place of texts of blanks of every length up to
  // beyond two blocks; and beside the bytes that a borrow could make look like one.
  for (int b = 0; b < 256; ++b) {
    for (std::size_t size = 1; size <= 40; ++size) {
      for (std::size_t at = 0; at < size; ++at) {
        std::string text(size, ' ');
        text[at] = static_cast<char>(b);
        const ByteKinds kinds = KindsOfBytes(text);
        ASSERT_EQ(kinds.high, b >= 0x80) << b << " at " << at << " of " << size;
        ASSERT_EQ(kinds.control, b < 0x20) << b << " at " << at << " of " << size;
        if (at + 1 < text.size()) text[at + 1] = '\x21';
        ASSERT_EQ(KindsOfBytes(text).control, b < 0x20) << b << " before 0x21 at " << at << " of " << size;
      }
    }
  }
  EXPECT_FALSE(KindsOfBytes("").high);
  EXPECT_FALSE(KindsOfBytes("").control);
}

TEST(InfoStringTest, AsciiIsALiteralAndEverythingElseUtf16Hex) {
  EXPECT_EQ(InfoString(""), "()");
  EXPECT_EQ(InfoString("a)b \\ (c"), "(a\\)b \\\\ \\(c)");
  // Typographic quotes, the euro sign, Greek; upper-case digits after the mark.
  EXPECT_EQ(InfoString("\xE2\x80\x9CQ\xE2\x80\x9D \xE2\x82\xAC \xCE\xB1"),
            "<FEFF201C0051201D002020AC002003B1>");
  // Outside the basic plane: a surrogate pair.
  EXPECT_EQ(InfoString("\xF0\x9F\x98\x80"), "<FEFFD83DDE00>");
  // Bytes that start no valid sequence are Windows-1252, next to valid UTF-8.
  EXPECT_EQ(InfoString("caf\xE9 \x80 \x81 \xC3\xA9"), "<FEFF00630061006600E9002020AC00200081002000E9>");
}

TEST(NumberTextTest, ShortestPlainDecimals) {
  EXPECT_EQ(FixedText(120000), "12");
  EXPECT_EQ(FixedText(132000), "13.2");
  EXPECT_EQ(FixedText(144000), "14.4");
  EXPECT_EQ(FixedText(1), "0.0001");
  EXPECT_EQ(FixedText(0), "0");
  EXPECT_EQ(FixedText(-5000), "-0.5");
  EXPECT_EQ(FixedText(-120000), "-12");
  EXPECT_EQ(DoubleText(306), "306");
  EXPECT_EQ(DoubleText(297.5), "297.5");
  EXPECT_EQ(DoubleText(-0.5), "-0.5");
  EXPECT_EQ(DoubleText(1e9), "1000000000");
  EXPECT_EQ(DoubleText(1073741823.5), "1073741823.5");
}

TEST(NumberTextTest, RoundsHalvesToEvenAndTrapsOverflow) {
  EXPECT_EQ(RoundToInt32(76.5), 76);
  EXPECT_EQ(RoundToInt32(37.5), 38);
  EXPECT_EQ(RoundToInt32(-2.5), -2);
  EXPECT_EQ(RoundToInt32(134.64), 135);
  EXPECT_EQ(RoundToInt32(2147483647.0), 2147483647);
  EXPECT_THROW(RoundToInt32(2147483648.0), platform::Failure);
  EXPECT_THROW(RoundToInt32(-2147483649.0), platform::Failure);
  EXPECT_THROW(RoundToInt32(std::numeric_limits<double>::quiet_NaN()), platform::Failure);
  EXPECT_THROW(RoundToInt32(std::numeric_limits<double>::infinity()), platform::Failure);
}

}  // namespace
}  // namespace scrivane
