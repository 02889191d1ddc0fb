// The scrivane program run as a user runs it from a terminal or a script, without a display.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/pdf_tools.h"
#include "tests/support/temp_dir.h"

namespace scrivane {
namespace {

using testing::ReadFile;
using testing::RunCommand;
using testing::ShellQuote;

class CommandLineRunTest : public ::testing::Test {
 protected:
  // Runs scrivane with the given argument text, no display and no terminal on stdin.
  testing::CommandResult Run(const std::string& args) {
    return RunCommand("cd " + ShellQuote(dir.path()) +
                      " && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " +
                      ShellQuote(SCRIVANE_BINARY) + " " + args + " </dev/null");
  }
  testing::TempDir dir;
};

TEST_F(CommandLineRunTest, ConvertsAFileIntoItsDerivedName) {
  dir.write("My Notes.TXT", "First line\nSecond (line)\n");
  const auto r = Run(ShellQuote("My Notes.TXT"));
  EXPECT_EQ(r.status, 0) << r.output;
  const std::string pdf = dir.file("My Notes.pdf");
  EXPECT_TRUE(testing::QpdfFindings(pdf).empty());
  const std::string text = testing::PdfToText(pdf);
  EXPECT_NE(text.find("First line\nSecond (line)"), std::string::npos) << text;
}

TEST_F(CommandLineRunTest, QuotedNamesAndNamesWithBlanksAsSeveralArguments) {
  dir.write("a b.txt", "x\n");
  auto r = Run("'\"a b.txt\"'");  // one argument with its own quotes
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(testing::Exists(dir.file("a b.pdf")));
  std::remove(dir.file("a b.pdf").c_str());
  r = Run("a b.txt");  // two arguments joined by a blank name the same file
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(testing::Exists(dir.file("a b.pdf")));
}

TEST_F(CommandLineRunTest, AnExistingOutputIsReplacedOnlyAfterTheQuestion) {
  dir.write("n.txt", "new\n");
  dir.write("n.pdf", "old");
  const auto r = Run("n.txt");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.output.find("scrivane: Output File Already Exist. Do you want To OVERWRITE It? [Y/n] Yes"),
            std::string::npos)
      << r.output;
  EXPECT_EQ(ReadFile(dir.file("n.pdf")).substr(0, 8), "%PDF-1.2");
}

TEST_F(CommandLineRunTest, ADisplayThatCannotBeReachedLeavesTheRunOnTheTerminal) {
  dir.write("n.txt", "text\n");
  const std::string run = "cd " + ShellQuote(dir.path()) + " && env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " +
                          "DISPLAY=:4242 " + ShellQuote(SCRIVANE_BINARY) + " ";
  auto r = RunCommand(run + "n.txt </dev/null");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(testing::QpdfFindings(dir.file("n.pdf")).empty());
  r = RunCommand(run + "</dev/null");
  EXPECT_EQ(r.status, 2) << r.output;
  EXPECT_NE(r.output.find("usage"), std::string::npos) << r.output;
}

TEST_F(CommandLineRunTest, NothingUsableToConvertSaysHowToUseIt) {
  dir.write("empty.txt", "");
  for (const std::string args : {"", "missing.txt", "empty.txt"}) {
    const auto r = Run(args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_NE(r.output.find("usage"), std::string::npos) << r.output;
  }
  EXPECT_FALSE(testing::Exists(dir.file("empty.pdf")));
}

TEST_F(CommandLineRunTest, APdfNamedAsInputIsNotDestroyed) {
  dir.write("self.pdf", "text that happens to be named .pdf\n");
  const auto r = Run("self.pdf");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find("cannot also be the output"), std::string::npos) << r.output;
  EXPECT_EQ(ReadFile(dir.file("self.pdf")), "text that happens to be named .pdf\n");
}

TEST_F(CommandLineRunTest, BinaryInputAndAHugeLineConvertWithoutLoss) {
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary += static_cast<char>(i * 7 % 256);
  dir.write("bin.txt", binary);
  auto r = Run("bin.txt");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(testing::QpdfFindings(dir.file("bin.pdf")).empty());

  std::string line;
  for (int i = 0; line.size() < (1u << 20); ++i) line += "word" + std::to_string(i) + (i % 9 ? " " : "-");
  dir.write("long.txt", line);
  r = Run("long.txt");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(testing::QpdfFindings(dir.file("long.pdf")).empty());
  // The pieces put together give the line back, character for character.
  std::string joined;
  for (const auto& page : testing::ShownStrings(ReadFile(dir.file("long.pdf")))) {
    for (const auto& piece : page) joined += piece;
  }
  EXPECT_EQ(joined, line.substr(0, line.find_last_not_of(' ') + 1));  // trailing blanks trimmed
}

TEST_F(CommandLineRunTest, ThePlainRunLoadsNoQt) {
  // Not linked ...
  const auto ldd = RunCommand("ldd " + ShellQuote(SCRIVANE_BINARY));
  ASSERT_EQ(ldd.status, 0) << ldd.output;
  EXPECT_EQ(ldd.output.find("libQt"), std::string::npos) << ldd.output;

  // ... nor loaded: the dynamic loader lists every library a run opens, with
  // no display, with a display that cannot be reached, and with the question
  // asked on the terminal.
  dir.write("n.txt", "text\n");
  const std::string run = "cd " + ShellQuote(dir.path()) + " && env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM LD_DEBUG=files ";
  for (const std::string display : {"-u DISPLAY ", "DISPLAY=:4242 "}) {
    std::remove(dir.file("n.pdf").c_str());
    const auto r = RunCommand(run + "env " + display + ShellQuote(SCRIVANE_BINARY) + " n.txt </dev/null");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(std::string("needed by ") + SCRIVANE_BINARY), std::string::npos)
        << "no list of libraries: " << r.output;
    EXPECT_EQ(r.output.find("libQt"), std::string::npos) << display << r.output;
    EXPECT_EQ(r.output.find("scrivane-window"), std::string::npos) << display << r.output;
    EXPECT_TRUE(testing::QpdfFindings(dir.file("n.pdf")).empty());
  }
  auto r = RunCommand(run + "env -u DISPLAY " + ShellQuote(SCRIVANE_BINARY) + " n.txt </dev/null");
  EXPECT_NE(r.output.find("OVERWRITE"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("libQt"), std::string::npos) << r.output;

  // A failure to be shown on a display opens the module, which finds no
  // display there and leaves the message on the terminal.
  std::remove(dir.file("n.pdf").c_str());
  ASSERT_EQ(::mkdir(dir.file("n.pdf").c_str(), 0700), 0);
  r = RunCommand(run + "DISPLAY=:4242 " + ShellQuote(SCRIVANE_BINARY) + " n.txt </dev/null");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("scrivane: "), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("calling init: ") != std::string::npos &&
                r.output.find("scrivane-window.so\n", r.output.find("calling init: ")) != std::string::npos,
            SCRIVANE_WINDOW_BUILT != 0)
      << r.output;
}

TEST_F(CommandLineRunTest, TheFontLibrariesAreLoadedOnlyForTextThatNeedsThem) {
  const std::vector<std::string> libraries = {"libharfbuzz", "libfreetype", "libfontconfig",
                                              "libfribidi", "scrivane-fonts"};
  const auto ldd = RunCommand("ldd " + ShellQuote(SCRIVANE_BINARY));
  ASSERT_EQ(ldd.status, 0) << ldd.output;
  for (const std::string& library : libraries) {
    EXPECT_EQ(ldd.output.find(library), std::string::npos) << ldd.output;
  }

  // The dynamic loader lists every library that a run opens.
  dir.write("plain.txt", "caf\xC3\xA9\n");
  dir.write("greek.txt", "\xCE\xB1\xCE\xB2\n");
  const auto run = [&](const std::string& args) {
    return RunCommand("cd " + ShellQuote(dir.path()) +
                      " && env -u DISPLAY -u WAYLAND_DISPLAY LD_DEBUG=files " +
                      ShellQuote(SCRIVANE_BINARY) + " " + args + " </dev/null 2>&1");
  };
  for (const std::string args : {"--version", "plain.txt", "-q -f plain.txt"}) {
    const auto r = run(args);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(std::string("needed by ") + SCRIVANE_BINARY), std::string::npos)
        << "no list of libraries: " << r.output;
    for (const std::string& library : libraries) {
      EXPECT_EQ(r.output.find("file=" + library), std::string::npos) << args << r.output;
      EXPECT_EQ(r.output.find("/" + library), std::string::npos) << args << r.output;
    }
  }
  // Text that Windows-1252 lacks opens the module, and the module its libraries.
  const auto r = run("-q greek.txt");
  EXPECT_EQ(r.status, 0) << r.output;
  for (const std::string& library : libraries) {
    EXPECT_NE(r.output.find(library), std::string::npos) << library << r.output;
  }
  EXPECT_TRUE(ReadFile(dir.file("greek.pdf")).starts_with("%PDF-1.3"));
}

}  // namespace
}  // namespace scrivane
