// The real program from a shell, as scripts use it: the choice between option
// mode and the conversion without options, pipes, exit statuses, and no need
// for a display in option mode.

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "tests/support/pdf_tools.h"
#include "tests/support/temp_dir.h"

namespace scrivane {
namespace {

using testing::CommandResult;
using testing::ReadFile;
using testing::RunCommand;
using testing::ShellQuote;
using testing::TempDir;

class ProgramRun : public ::testing::Test {
 protected:
  // Runs the program in the scratch folder, without a display and with no
  // terminal on standard input; `args` are already shell words.
  CommandResult Run(const std::string& args, const std::string& env = "") {
    return RunCommand("cd " + ShellQuote(dir_.path()) +
                      " && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + env + " " +
                      ShellQuote(SCRIVANE_BINARY) + " </dev/null " + args);
  }
  TempDir dir_;
};

// The creation date is the only part of two runs that may differ.
std::string WithoutDate(const std::string& pdf) {
  return std::regex_replace(pdf, std::regex("/CreationDate \\(D:[0-9]{14}\\)"),
                            "/CreationDate (D:00000000000000)");
}

TEST_F(ProgramRun, AnExistingFileNamedLikeAnOptionConvertsAsBefore) {
  dir_.write("-notes.txt", "dash\n");
  const CommandResult r = Run("-notes.txt");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(testing::PdfToText(dir_.file("-notes.pdf")).find("dash"), std::string::npos);
}

TEST_F(ProgramRun, ANameWithBlanksWorksUnquotedOrAsOneQuotedArgument) {
  dir_.write("my notes.txt", "blanks\n");
  CommandResult r = Run("my notes.txt");
  EXPECT_EQ(r.status, 0) << r.output;
  ASSERT_TRUE(testing::Exists(dir_.file("my notes.pdf")));
  std::filesystem::remove(dir_.file("my notes.pdf"));
  r = Run("'\"my notes.txt\"'");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(testing::Exists(dir_.file("my notes.pdf")));
}

TEST_F(ProgramRun, OptionModeNeverTouchesTheDisplay) {
  // A display that cannot be reached would end any Qt start-up with an error.
  const std::string noDisplay = "DISPLAY=:987 QT_QPA_PLATFORM=xcb";
  CommandResult r = Run("--version", noDisplay);
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output, "scrivane 1.1\n");
  dir_.write("a.txt", "text\n");
  r = Run("-q --page a5 a.txt", noDisplay);
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output, "");
  EXPECT_NE(ReadFile(dir_.file("a.pdf")).find("/MediaBox [ 0 0 420 595 ]"), std::string::npos);
}

TEST_F(ProgramRun, APipedPdfIsTheFilesPdfApartFromTheDate) {
  dir_.write("log.txt", "make: *** [all] Error 1\n(exit) 2\n");
  CommandResult r = Run("-q --font Courier --size 8 log.txt -o file.pdf");
  ASSERT_EQ(r.status, 0) << r.output;
  r = Run("--font=Courier --size=8 - -o - <log.txt >piped.pdf 2>err.txt");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(ReadFile(dir_.file("err.txt")), "");
  const std::string piped = ReadFile(dir_.file("piped.pdf"));
  EXPECT_TRUE(piped.starts_with("%PDF-1.2"));
  EXPECT_EQ(WithoutDate(piped), WithoutDate(ReadFile(dir_.file("file.pdf"))));
  EXPECT_TRUE(testing::QpdfFindings(dir_.file("piped.pdf")).empty());
}

TEST_F(ProgramRun, ExitStatusTellsUsageErrorsFromFailedConversions) {
  dir_.write("a.txt", "a\n");
  dir_.write("b.txt", "b\n");
  CommandResult r = Run("--rotate 45 a.txt");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.output.find("--rotate"), std::string::npos);
  EXPECT_FALSE(testing::Exists(dir_.file("a.pdf")));

  r = Run("-q a.txt missing.txt b.txt");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("missing.txt"), std::string::npos);
  EXPECT_TRUE(testing::Exists(dir_.file("a.pdf")));
  EXPECT_TRUE(testing::Exists(dir_.file("b.pdf")));

  r = Run("-qf a.txt b.txt");
  EXPECT_EQ(r.status, 0) << r.output;
}

}  // namespace
}  // namespace scrivane
