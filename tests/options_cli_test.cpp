// The real program from a shell, as scripts use it: the choice between option
// mode and the conversion without options, pipes, exit statuses, and no need
// for a display in option mode.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

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

TEST_F(ProgramRun, OptionsMayFollowTheFileNames) {
  dir_.write("notes.txt", "after\n");
  dir_.write("x.pdf", "old");
  CommandResult r = Run("notes.txt -o x.pdf -f");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(testing::PdfToText(dir_.file("x.pdf")).find("after"), std::string::npos);
  EXPECT_FALSE(testing::Exists(dir_.file("notes.pdf")));
  // A name whose second word begins with "-" still names its file.
  dir_.write("my -notes.txt", "dash inside\n");
  r = Run("my -notes.txt");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(testing::PdfToText(dir_.file("my -notes.pdf")).find("dash inside"), std::string::npos);
}

TEST_F(ProgramRun, ANameThatNamesNothingIsNamedBeforeTheUsage) {
  CommandResult r = Run("notes.txt");
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(r.output.starts_with("scrivane: 'notes.txt' does not exist or is empty\nusage: scrivane FILE\n"))
      << r.output;
  r = Run("");
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(r.output.starts_with("usage: scrivane FILE\n")) << r.output;
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

TEST_F(ProgramRun, Utf16InputGivesThePdfOfItsUtf8Twin) {
  // Non-ASCII text, a wrapped line, a form feed and CR LF line ends.
  std::string text = "Caf\xC3\xA9 \xE2\x80\x9Cmenu\xE2\x80\x9D \xE2\x82\xAC 5 (\xCE\xB1)\r\n";
  for (int i = 0; i < 40; ++i) text += "word" + std::to_string(i) + ", ";
  text += "\r\n\fsecond page\r\n";
  dir_.write("utf8.txt", text);
  dir_.write("le.txt", testing::Utf16Of(text, false));
  dir_.write("be.txt", testing::Utf16Of(text, true));
  for (const std::string name : {"utf8", "le", "be"}) {
    // The plain run, option mode with a file, and option mode reading a pipe.
    CommandResult r = Run(name + ".txt");
    ASSERT_EQ(r.status, 0) << r.output;
    r = Run("-q --font courier " + name + ".txt -o " + name + "-opt.pdf");
    ASSERT_EQ(r.status, 0) << r.output;
    r = Run("-q - -o - <" + name + ".txt >" + name + "-pipe.pdf");
    ASSERT_EQ(r.status, 0) << r.output;
  }
  const std::string plain = WithoutDate(ReadFile(dir_.file("utf8.pdf")));
  EXPECT_NE(plain.find("T* (Caf\xE9 \x93menu\x94 \x80 5 \\(?\\)\r\n) Tj"), std::string::npos);
  for (const std::string name : {"le", "be"}) {
    EXPECT_EQ(WithoutDate(ReadFile(dir_.file(name + ".pdf"))), plain) << name;
    EXPECT_EQ(WithoutDate(ReadFile(dir_.file(name + "-opt.pdf"))),
              WithoutDate(ReadFile(dir_.file("utf8-opt.pdf"))))
        << name;
    EXPECT_EQ(WithoutDate(ReadFile(dir_.file(name + "-pipe.pdf"))),
              WithoutDate(ReadFile(dir_.file("utf8-pipe.pdf"))))
        << name;
  }
}

TEST_F(ProgramRun, TextBeyondWindows1252IsEmbeddedFromAFileAndFromAPipe) {
  const std::string greek = "Kal\xCE\xB7m\xCE\xAD\xCF\x81\xCE\xB1 \xCE\xBA\xCF\x8C\xCF\x83\xCE\xBC\xCE\xB5\n";
  dir_.write("greek.txt", greek);
  // Far more than the PDF that is held before its first write.
  std::string plain;
  for (int i = 0; i < 3000; ++i) plain += "a line of text that Windows-1252 has, " + std::to_string(i) + "\n";
  dir_.write("late.txt", plain + greek);
  auto embedded = [&](const std::string& pdf, const std::string& text) {
    EXPECT_TRUE(ReadFile(dir_.file(pdf)).starts_with("%PDF-1.3")) << pdf;
    EXPECT_NE(testing::PdfToText(dir_.file(pdf)).find(text), std::string::npos) << pdf;
    EXPECT_TRUE(testing::QpdfFindings(dir_.file(pdf)).empty()) << pdf;
  };
  // A file, a pipe to a file and a pipe to a pipe; a pipe's late text into a
  // file, whose header can still be changed.
  for (const std::string command : {"-q greek.txt", "-q - -o piped.pdf <greek.txt",
                                    "-q - -o - <greek.txt 2>&1 | cat >streamed.pdf",
                                    "-q - -o late.pdf <late.txt"}) {
    const CommandResult r = Run(command);
    ASSERT_EQ(r.status, 0) << command << ": " << r.output;
    EXPECT_EQ(r.output, "") << command;
  }
  embedded("greek.pdf", greek);
  embedded("piped.pdf", greek);
  embedded("streamed.pdf", greek);
  embedded("late.pdf", greek);

  // Late text in a PDF that has gone to a stream keeps "?", and says so.
  const CommandResult r = Run("-q - -o - <late.txt 2>err.txt | cat >late-streamed.pdf");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(ReadFile(dir_.file("err.txt")),
            "scrivane: standard input: 1 line holds characters that Windows-1252 lacks, shown as \"?\", "
            "since the first such line came after the start of the PDF had gone to a stream, too late "
            "to embed fonts\n");
  EXPECT_TRUE(ReadFile(dir_.file("late-streamed.pdf")).starts_with("%PDF-1.2"));
  EXPECT_TRUE(testing::QpdfFindings(dir_.file("late-streamed.pdf")).empty());

  // The module's failures reach the program, whose C++ library is its own copy.
  const CommandResult refused = Run("-q --font-file greek.txt greek.txt -o refused.pdf 2>&1");
  EXPECT_EQ(refused.status, 2);
  EXPECT_EQ(refused.output, "scrivane: --font-file: 'greek.txt' is not a TrueType or OpenType font\n"
                            "Try 'scrivane --help' for more information.\n");
  EXPECT_FALSE(testing::Exists(dir_.file("refused.pdf")));
}

// A line from a pipe longer than what is held of it is laid out as it is
// read; for text that is UTF-8 or Windows-1252 alone the PDF is the file's.
TEST_F(ProgramRun, LinesTooLongToHoldFromAPipeGiveTheFilesPdf) {
  std::string words;
  for (int i = 0; words.size() < (std::size_t{17} << 20); ++i) {
    words += "word" + std::to_string(i) + (i % 1000 ? " " : "\t");
  }
  std::string tail;  // blanks and tabs to end a line, longer than a piece
  while (tail.size() < 200000) tail += " \t  ";
  const std::string text = words + std::string(70000, ' ') + "\n" +
                           words + "caf\xC3\xA9 \xE2\x82\xAC" + std::string(300000, ' ') + "end" + tail +
                           "\n" + "short\n";
  dir_.write("long.txt", text);
  auto dateless = [&](const std::string& name) {
    std::string pdf = ReadFile(dir_.file(name));
    const std::size_t at = pdf.find("/CreationDate (D:");
    if (at != std::string::npos) pdf.replace(at, 31, 31, '0');
    return pdf;
  };
  for (const std::string layout : {"", "--preserve", "--keep-spaces"}) {
    SCOPED_TRACE(layout);
    const CommandResult file = Run("-qf " + layout + " long.txt -o file.pdf");
    ASSERT_EQ(file.status, 0) << file.output;
    const CommandResult piped = RunCommand("cd " + ShellQuote(dir_.path()) + " && cat long.txt | " +
                                           ShellQuote(SCRIVANE_BINARY) + " -qf " + layout + " - -o piped.pdf");
    ASSERT_EQ(piped.status, 0) << piped.output;
    EXPECT_EQ(piped.output, "");
    EXPECT_TRUE(dateless("piped.pdf") == dateless("file.pdf"));
    EXPECT_TRUE(testing::QpdfFindings(dir_.file("piped.pdf")).empty());
  }
}

TEST_F(ProgramRun, WithoutTheFontModuleSuchTextKeepsQuestionMarksAndTheReasonIsToldOnce) {
  // A copy of the program in a folder of its own finds no module beside it.
  std::filesystem::create_directory(dir_.file("bin"));
  std::filesystem::copy_file(SCRIVANE_BINARY, dir_.file("bin/scrivane"));
  const std::string greek = "Kal\xCE\xB7m\xCE\xAD\xCF\x81\xCE\xB1\n";
  dir_.write("a.txt", greek);
  dir_.write("b.txt", greek);
  dir_.write("plain.txt", "plain\n");
  // The font file cannot be looked at without the module, and is not refused.
  const CommandResult r = RunCommand("cd " + ShellQuote(dir_.path()) +
                                     " && bin/scrivane -q --font-file none.ttf a.txt plain.txt b.txt"
                                     " </dev/null 2>&1");
  ASSERT_EQ(r.status, 0) << r.output;
  const std::string lacks = "1 line holds characters that Windows-1252 lacks, shown as \"?\", "
                            "since the fonts cannot be loaded";
  EXPECT_TRUE(r.output.starts_with("scrivane: a.txt: " + lacks + " (")) << r.output;
  EXPECT_NE(r.output.find("scrivane-fonts.so: cannot open shared object file"), std::string::npos)
      << r.output;
  EXPECT_TRUE(r.output.ends_with(")\nscrivane: b.txt: " + lacks + "\n")) << r.output;
  for (const std::string name : {"a", "b"}) {
    EXPECT_TRUE(ReadFile(dir_.file(name + ".pdf")).starts_with("%PDF-1.2")) << name;
    EXPECT_EQ(testing::PdfToText(dir_.file(name + ".pdf")).substr(0, 9), "Kal?m???\n") << name;
  }
  EXPECT_TRUE(testing::QpdfFindings(dir_.file("plain.pdf")).empty());
}

// Every message of option mode about a file names that file first, as
// command-line tools do; what follows is the system's own words where it has any.
TEST_F(ProgramRun, EveryMessageAboutAFileNamesIt) {
  struct Case {
    std::string args;    // shell words after the program's name
    std::string stderr;  // the whole of standard error
    int status;
  };
  const Case cases[] = {
      {"-q missing.txt", "scrivane: missing.txt: No such file or directory\n", 1},
      {"-q folder.txt", "scrivane: folder.txt: Is a directory\n", 1},
      {"-q empty.txt", "scrivane: empty.txt: the file is empty; nothing to convert\n", 1},
      {"-q - -o x.pdf </dev/null", "scrivane: standard input: empty; nothing to convert\n", 1},
      {"-q secret.txt", "scrivane: secret.txt: Permission denied\n", 1},
      {"-q -n a.txt", "scrivane: a.pdf: already exists; not replaced (--no-clobber)\n", 1},
      {"-qf a.txt -o a.txt", "scrivane: a.txt: cannot also be the output file; choose another output name\n", 1},
      {"-q a.txt -o nowhere/a.pdf", "scrivane: nowhere/a.pdf: No such file or directory\n", 1},
      {"-q a.txt -o folder.txt", "scrivane: folder.txt: Is a directory\n", 1},
      {"-q a.txt -o /dev/full", "scrivane: /dev/full: No space left on device\n", 1},
      {"-q - -o - <a.txt >/dev/full", "scrivane: standard output: No space left on device\n", 1},
      {"-q c.txt missing.txt", "scrivane: missing.txt: No such file or directory\n", 1},
      {"-q bin.txt",
       "scrivane: bin.txt: warning: this looks like a binary file (it holds NUL bytes); converted as text\n", 0},
      {"-qf private.txt",
       "scrivane: private.txt: 1 character has no glyph in any installed font and is drawn as an empty box: "
       "U+E000\n",
       0},
  };
  dir_.write("a.txt", "text\n");
  dir_.write("a.pdf", "old");
  dir_.write("c.txt", "text\n");
  dir_.write("empty.txt", "");
  dir_.write("bin.txt", std::string("text\0more\n", 10));
  dir_.write("greek.txt", "Kal\xCE\xB7m\xCE\xAD\xCF\x81\xCE\xB1\n");
  dir_.write("private.txt", "a \xEE\x80\x80 b\n");
  dir_.write("secret.txt", "hidden\n");
  std::filesystem::create_directory(dir_.file("folder.txt"));
  namespace fs = std::filesystem;
  fs::permissions(dir_.file("secret.txt"), fs::perms::none);
  // Root reads any file: the unreadable one is tried as an ordinary user, who
  // may work in the scratch folder.
  std::string unreadableAs;
  if (::geteuid() == 0) {
    unreadableAs = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    fs::permissions(dir_.path(), fs::perms::all);
  }
  for (const Case& c : cases) {
    const bool asUser = c.args.find("secret") != std::string::npos;
    // Standard error alone, apart from what the run prints on standard output.
    const CommandResult r = Run(c.args + " 2>err.txt; exit $?", asUser ? unreadableAs : "");
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.output;
    EXPECT_EQ(ReadFile(dir_.file("err.txt")), c.stderr) << c.args;
  }
  // Nothing failed left a PDF behind, and the old one stays.
  EXPECT_FALSE(testing::Exists(dir_.file("missing.pdf")));
  EXPECT_FALSE(testing::Exists(dir_.file("secret.pdf")));
  EXPECT_EQ(ReadFile(dir_.file("a.pdf")), "old");
  EXPECT_TRUE(testing::QpdfFindings(dir_.file("bin.pdf")).empty());
  EXPECT_TRUE(testing::QpdfFindings(dir_.file("c.pdf")).empty());
}

// Standard input goes through the writer as it comes: nothing of it is put in
// the temporary folder, so nothing stays there when a reader stops reading
// (head) or the run is ended by a signal before its input is over.
TEST_F(ProgramRun, StandardInputLeavesNothingInTheTemporaryFolder) {
  const std::string tmp = dir_.file("tmp");
  std::filesystem::create_directory(tmp);
  std::string big;
  for (int i = 0; big.size() < 2000000; ++i) big += "line " + std::to_string(i) + " of a long log\n";
  dir_.write("big.txt", big);
  const std::string in = "cd " + ShellQuote(dir_.path()) + " && ";
  const std::string program = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM TMPDIR=" +
                              ShellQuote(tmp) + " " + ShellQuote(SCRIVANE_BINARY);
  CommandResult r = RunCommand(in + program + " -q - <big.txt 2>err.txt | head -c 1000 | wc -c");
  EXPECT_EQ(r.output, "1000\n");
  // Ended by SIGTERM while standard input is still open, with a new PDF begun.
  ASSERT_EQ(::mkfifo(dir_.file("fifo").c_str(), 0600), 0);
  r = RunCommand(in + "{ " + program + " -q - -o out.pdf <fifo 2>err.txt & exec 3>fifo; " +
                 "head -c 100000 big.txt >&3; sleep 0.5; kill -TERM $!; wait $!; echo $?; }");
  // The shell may say "Terminated" before the status.
  EXPECT_TRUE(r.output.ends_with("143\n")) << r.output;
  EXPECT_EQ(testing::Names(tmp), std::vector<std::string>{});
  EXPECT_EQ(testing::Names(dir_.path()), (std::vector<std::string>{"big.txt", "err.txt", "fifo", "tmp"}));
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
