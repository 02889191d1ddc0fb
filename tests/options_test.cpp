// Option mode, run in-process: real files in a scratch folder, scripted
// message boxes, a fixed clock and temporary files for the three streams.

#include "app/options.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/std_files.h"
#include "tests/support/fakes.h"
#include "tests/support/pdf_structure.h"
#include "tests/support/pdf_tools.h"
#include "tests/support/temp_dir.h"
#include "writer/writer.h"

namespace scrivane {
namespace {

using testing::FakeMessageBox;
using testing::FixedClock;
using testing::ReadFile;
using testing::TempDir;

// Everything written to a stream so far; the stream is emptied for the next run.
std::string Drain(std::FILE* stream) {
  std::fflush(stream);
  std::rewind(stream);
  std::string text;
  char chunk[4096];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, stream)) > 0) text.append(chunk, n);
  EXPECT_EQ(::ftruncate(::fileno(stream), 0), 0);
  std::rewind(stream);
  return text;
}

// ---------------------------------------------------------------------------
// Reading the arguments.

ParsedOptions Parse(std::vector<std::string> args) { return ParseOptions(args); }

TEST(ParseOptions, DefaultsAreTheWindowsStartUpSettings) {
  const ParsedOptions p = Parse({"notes.txt"});
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(p.options.font, "Times-Roman");
  EXPECT_EQ(p.options.size, 10);
  EXPECT_EQ(p.options.rotation, 0);
  EXPECT_EQ(p.options.pwidth, 8.5f);
  EXPECT_EQ(p.options.pheight, 11.0f);
  EXPECT_EQ(p.options.creator, "Scrivane v1.1");
  EXPECT_EQ(p.options.title + p.options.author + p.options.subject + p.options.keywords, "");
  EXPECT_FALSE(p.options.output.has_value());
  EXPECT_EQ(p.options.overwrite, OverwritePolicy::Ask);
  EXPECT_EQ(p.options.inputs, std::vector<std::string>{"notes.txt"});
}

TEST(ParseOptions, EveryValueOptionInBothForms) {
  using Get = std::string (*)(const Options&);
  struct Row {
    std::string name, value, expected;
    Get get;
  };
  const Row rows[] = {
      {"font", "COURIER", "Courier", [](const Options& o) { return o.font; }},
      {"size", "8", "8", [](const Options& o) { return std::to_string(o.size); }},
      {"rotate", "270", "270", [](const Options& o) { return std::to_string(o.rotation); }},
      {"page", "legal", "8.5 14",
       [](const Options& o) {
         return std::to_string(o.pwidth).substr(0, 3) + " " + std::to_string(o.pheight).substr(0, 2);
       }},
      {"title", "T \xC3\xA9", "T \xC3\xA9", [](const Options& o) { return o.title; }},
      {"author", "A", "A", [](const Options& o) { return o.author; }},
      {"subject", "S", "S", [](const Options& o) { return o.subject; }},
      {"keywords", "k1 k2", "k1 k2", [](const Options& o) { return o.keywords; }},
      {"creator", "C", "C", [](const Options& o) { return o.creator; }},
      {"output", "out.pdf", "out.pdf", [](const Options& o) { return o.output.value_or(""); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const ParsedOptions spaced = Parse({"--" + row.name, row.value, "in.txt"});
    const ParsedOptions joined = Parse({"--" + row.name + "=" + row.value, "in.txt"});
    ASSERT_EQ(spaced.error, "");
    ASSERT_EQ(joined.error, "");
    EXPECT_EQ(row.get(spaced.options), row.expected);
    EXPECT_EQ(row.get(joined.options), row.expected);
    EXPECT_EQ(spaced.options.inputs, std::vector<std::string>{"in.txt"});
    EXPECT_EQ(joined.options.inputs, std::vector<std::string>{"in.txt"});
  }
  // A value may itself begin with "-" and may be empty.
  EXPECT_EQ(Parse({"--title", "-x-", "in.txt"}).options.title, "-x-");
  EXPECT_EQ(Parse({"--creator=", "in.txt"}).options.creator, "");
}

// Viewers know the standard fonts only by their own spelling.
TEST(ParseOptions, FontsInAnyCaseGetTheirStandardNames) {
  const std::pair<const char*, const char*> rows[] = {
      {"courier", "Courier"}, {"TIMES-roman", "Times-Roman"}, {"aRIAL", "Arial"}, {"Arial", "Arial"}};
  for (const auto& [given, standard] : rows) {
    EXPECT_EQ(Parse({"--font", given, "a"}).options.font, standard) << given;
  }
}

TEST(ParseOptions, ShortOptionsBundleAndTakeTheirValue) {
  const ParsedOptions a = Parse({"-qf", "-oout.pdf", "in.txt"});
  ASSERT_EQ(a.error, "");
  EXPECT_TRUE(a.options.quiet);
  EXPECT_EQ(a.options.overwrite, OverwritePolicy::Force);
  EXPECT_EQ(a.options.output.value_or(""), "out.pdf");

  const ParsedOptions b = Parse({"in.txt", "-nqo", "out.pdf"});
  ASSERT_EQ(b.error, "");
  EXPECT_EQ(b.options.overwrite, OverwritePolicy::Never);
  EXPECT_EQ(b.options.output.value_or(""), "out.pdf");
  EXPECT_EQ(b.options.inputs, std::vector<std::string>{"in.txt"});
}

TEST(ParseOptions, DoubleDashEndsOptionsAndDashIsStandardInput) {
  const ParsedOptions p = Parse({"-q", "--", "-notes.txt", "--size"});
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(p.options.inputs, (std::vector<std::string>{"-notes.txt", "--size"}));

  const ParsedOptions dash = Parse({"-", "-o", "-"});
  ASSERT_EQ(dash.error, "");
  EXPECT_EQ(dash.options.inputs, std::vector<std::string>{"-"});
  EXPECT_EQ(dash.options.output.value_or(""), "-");
}

TEST(ParseOptions, SizeRangeEndsAndWholeNumbersOnly) {
  EXPECT_EQ(Parse({"--size=1", "a"}).options.size, 1);
  EXPECT_EQ(Parse({"--size=72", "a"}).options.size, 72);
  for (const char* bad : {"0", "73", "-5", "10.5", "10pt", "", "99999999999"}) {
    SCOPED_TRACE(bad);
    const std::string error = Parse({"--size", bad, "a"}).error;
    EXPECT_NE(error.find("--size"), std::string::npos);
    EXPECT_NE(error.find("from 1 to 72"), std::string::npos);
  }
}

TEST(ParseOptions, UsageErrorsNameTheOptionAndWhatIsAccepted) {
  struct Row {
    std::vector<std::string> args;
    std::string expected;
  };
  const Row rows[] = {
      {{"--rotate", "45", "a"}, "--rotate: '45' is not accepted; use 0, 90, 180 or 270"},
      {{"--rotate=360", "a"}, "use 0, 90, 180 or 270"},
      {{"--font", "Helvetica", "a"}, "--font: unknown font 'Helvetica'; use Courier, Times-Roman or Arial"},
      {{"--font=Courier-Bold", "a"}, "unknown font"},
      {{"--page", "b5", "a"}, "--page: unknown page size 'b5'"},
      {{"--page", "8.5x", "a"}, "unknown page size"},
      {{"--page", "1e1x5", "a"}, "unknown page size"},
      {{"--page", "46x11", "a"}, "--page: '46x11' is out of range; each side must be from 3 to 45 inches"},
      {{"--page", "8.5x2.9", "a"}, "from 3 to 45 inches"},
      {{"--page", "1234567890123456789012345678901234567890x11", "a"}, "is out of range"},
      {{"--page", std::string(400, '9') + "x11", "a"}, "is out of range"},
      {{"--bogus", "a"}, "unknown option '--bogus'"},
      {{"-z", "a"}, "unknown option '-z'"},
      {{"a", "--size"}, "--size needs a value"},
      {{"a", "-o"}, "-o needs a value"},
      {{"--force=yes", "a"}, "--force takes no value"},
      {{"-o", "", "a"}, "--output: the path is empty"},
      {{"-f", "-n", "a"}, "-f/--force and -n/--no-clobber exclude each other"},
      {{"-q"}, "no input file"},
      {{"-o", "x.pdf", "a", "b"}, "-o/--output needs exactly one input file"},
      {{"-q", "a", "-"}, "standard input (\"-\") can only be converted on its own"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.expected);
    EXPECT_NE(Parse(row.args).error.find(row.expected), std::string::npos) << Parse(row.args).error;
  }
}

TEST(ParseOptions, HelpAndVersionWinOverWhatFollowsButNotOverEarlierErrors) {
  EXPECT_TRUE(Parse({"--help", "--bogus"}).options.help);
  EXPECT_EQ(Parse({"--help", "--bogus"}).error, "");
  EXPECT_TRUE(Parse({"-V"}).options.version);
  EXPECT_NE(Parse({"--size=0", "--help"}).error, "");
}

TEST(ParsePageSize, NamesAndInchesGiveTheUsualPoints) {
  struct Row {
    const char* text;
    long width, height;  // points, as the writer rounds them
  };
  const Row rows[] = {{"letter", 612, 792}, {"LEGAL", 612, 1008}, {"ledger", 1008, 792},
                      {"A4", 595, 842},     {"a5", 420, 595},     {"8.27x11.69", 595, 842},
                      {"3X45", 216, 3240},  {".5x7", 36, 504},
                      {"8.5x11.0000000", 612, 792},
                      {"0000008.50000000000000000000000000001x11", 612, 792}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    const auto page = ParsePageSize(row.text);
    ASSERT_TRUE(page.has_value());
    EXPECT_EQ(std::lround(static_cast<float>(page->first) * 72.0), row.width);
    EXPECT_EQ(std::lround(static_cast<float>(page->second) * 72.0), row.height);
  }
  EXPECT_FALSE(ParsePageSize("8,5x11").has_value());
  EXPECT_FALSE(ParsePageSize("x11").has_value());
}

// ---------------------------------------------------------------------------
// The compatibility rule, in a scratch folder that is the working directory.

class CompatibilityRule : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
  }
  void TearDown() override { std::filesystem::current_path(old_); }
  TempDir dir_;
  platform::StdFiles files_;
  std::filesystem::path old_;
};

TEST_F(CompatibilityRule, AnExistingFileAlwaysConvertsAsBefore) {
  dir_.write("-notes.txt", "text\n");
  dir_.write("my notes.txt", "text\n");
  dir_.write("--help", "text\n");
  dir_.write("-my notes.txt", "text\n");
  EXPECT_FALSE(IsOptionMode({"-notes.txt"}, files_));
  EXPECT_FALSE(IsOptionMode({"-my", "notes.txt"}, files_));
  EXPECT_FALSE(IsOptionMode({"--help"}, files_));
  EXPECT_FALSE(IsOptionMode({"my", "notes.txt"}, files_));
  EXPECT_FALSE(IsOptionMode({"\"my notes.txt\""}, files_));
  EXPECT_FALSE(IsOptionMode({"\"my", "notes.txt\""}, files_));
}

TEST_F(CompatibilityRule, OtherwiseAnyArgumentWithALeadingDashChoosesOptionMode) {
  dir_.write("empty.txt", "");
  dir_.write("-empty.txt", "");
  EXPECT_TRUE(IsOptionMode({"-"}, files_));
  EXPECT_TRUE(IsOptionMode({"--version"}, files_));
  EXPECT_TRUE(IsOptionMode({"-notes.txt"}, files_));   // no such file
  EXPECT_TRUE(IsOptionMode({"-empty.txt"}, files_));   // an empty file counts as absent
  EXPECT_TRUE(IsOptionMode({"-q", "missing.txt"}, files_));
  EXPECT_FALSE(IsOptionMode({}, files_));                // the window
  EXPECT_FALSE(IsOptionMode({"missing.txt"}, files_));   // the window, as before
  // Options after the file names, as in GNU tools.
  EXPECT_TRUE(IsOptionMode({"empty.txt", "-q"}, files_));
  EXPECT_TRUE(IsOptionMode({"notes.txt", "-o", "x.pdf", "-f"}, files_));
  EXPECT_TRUE(IsOptionMode({"a.txt", "b.txt", "--force"}, files_));
  EXPECT_FALSE(IsOptionMode({"a.txt", "b.txt"}, files_));
}

// ---------------------------------------------------------------------------
// Whole runs.

class OptionRun : public ::testing::Test {
 protected:
  void SetUp() override {
    in_ = std::tmpfile();
    out_ = std::tmpfile();
    err_ = std::tmpfile();
    ASSERT_TRUE(in_ && out_ && err_);
  }
  void TearDown() override {
    for (std::FILE* f : {in_, out_, err_}) {
      if (f != nullptr) std::fclose(f);
    }
  }

  int Run(std::vector<std::string> args) {
    OptionServices services{files_, messages_, clock_, in_, out_, err_,
                            outIsTerminal_, errIsTerminal_, prepareHeap_};
    return RunOptionMode(args, services);
  }
  void Feed(std::string_view text) {
    Drain(in_);
    std::fwrite(text.data(), 1, text.size(), in_);
    std::rewind(in_);
  }
  std::string Out() { return Drain(out_); }
  std::string Err() { return Drain(err_); }
  // The PDF the writer makes from a file with the given settings, for comparison.
  std::string Direct(const std::string& input, const std::string& font, std::int16_t size,
                     std::int16_t rotation, float w, float h, const std::string& title = "",
                     const std::string& author = "", const std::string& subject = "",
                     const std::string& keywords = "",
                     const std::string& creator = "Scrivane v1.1") {
    TempDir scratch;
    FakeMessageBox quiet;
    PdfWriter writer(files_, quiet, clock_);
    const std::string pdf = scratch.file("direct.pdf");
    EXPECT_TRUE(writer.ConvertToPDF(input, pdf, author, creator, keywords, subject, title, font,
                                    size, rotation, w, h));
    return ReadFile(pdf);
  }

  TempDir dir_;
  platform::StdFiles files_;
  FakeMessageBox messages_;
  FixedClock clock_;
  std::FILE* in_ = nullptr;
  std::FILE* out_ = nullptr;
  std::FILE* err_ = nullptr;
  bool outIsTerminal_ = false;
  bool errIsTerminal_ = false;
  void (*prepareHeap_)() = nullptr;
};

TEST_F(OptionRun, TheHeapIsReadiedForNamedFilesButNotForStandardInput) {
  static int readied = 0;
  readied = 0;
  prepareHeap_ = [] { ++readied; };
  const std::string a = dir_.write("a.txt", "one\n");
  const std::string b = dir_.write("b.txt", "two\n");
  ASSERT_EQ(Run({"-q", a, b}), 0) << Err();
  EXPECT_EQ(readied, 1);  // once for the batch
  Feed("piped\n");
  ASSERT_EQ(Run({"-q", "-", "-o", dir_.file("piped.pdf")}), 0) << Err();
  EXPECT_EQ(readied, 1);
}

TEST_F(OptionRun, EverySettingReachesTheWriter) {
  const std::string in = dir_.write("notes.txt", "Hello\nWorld\n");
  ASSERT_EQ(Run({"--font", "COURIER", "--size=8", "--rotate", "90", "--page", "a4", "--title",
                 "Caf\xC3\xA9 (menu)", "--author=Ann", "--subject", "S", "--keywords", "k",
                 "--creator", "me", in}),
            0)
      << Err();
  const std::string pdf = ReadFile(dir_.file("notes.pdf"));
  EXPECT_EQ(pdf, Direct(in, "Courier", 8, 90, 210 / 25.4f, 297 / 25.4f, "Caf\xC3\xA9 (menu)",
                        "Ann", "S", "k", "me"));
  // Spot checks that the comparison is not between two wrong files.
  EXPECT_NE(pdf.find("/BaseFont /Courier\r"), std::string::npos);
  EXPECT_NE(pdf.find("/MediaBox [ 0 0 595 842 ]"), std::string::npos);
  EXPECT_NE(pdf.find("/Rotate 90"), std::string::npos);
  EXPECT_NE(pdf.find("/Title <FEFF00430061006600E900200028006D0065006E00750029>"),
            std::string::npos);
  EXPECT_TRUE(testing::QpdfFindings(dir_.file("notes.pdf")).empty());
  EXPECT_EQ(Out(), "");
  EXPECT_TRUE(messages_.shown.empty());
}

TEST_F(OptionRun, DefaultsGiveTheSameFileAsTheWindowsCommandLineRun) {
  const std::string in = dir_.write("readme", "Some text\n");
  ASSERT_EQ(Run({"-q", in}), 0) << Err();
  EXPECT_EQ(ReadFile(dir_.file("readme.pdf")), Direct(in, "Times-Roman", 10, 0, 8.5f, 11.0f));
}

TEST_F(OptionRun, StandardInputToStandardOutputMatchesTheFileRun) {
  const std::string text = "line one\nline (two)\n\fpage two\n";
  const std::string in = dir_.write("log.txt", text);
  ASSERT_EQ(Run({"-q", "--page", "ledger", in, "-o", dir_.file("file.pdf")}), 0) << Err();
  Feed(text);
  ASSERT_EQ(Run({"-q", "--page", "ledger", "-", "-o", "-"}), 0) << Err();
  const std::string piped = Out();
  EXPECT_EQ(piped, ReadFile(dir_.file("file.pdf")));
  EXPECT_NE(piped.find("/Count 2"), std::string::npos);
  EXPECT_EQ(testing::Names(dir_.path()), (std::vector<std::string>{"file.pdf", "log.txt"}));
}

// Lines longer than the reader's buffer come from standard input in parts, the
// first one too, which is read before the conversion starts; the classic and
// the shaped layout still give the file's PDF.
TEST_F(OptionRun, LongLinesOnStandardInputGiveTheFilesPdf) {
  const std::string text = std::string(100000, 'w') + " first ends\nshort\n" + std::string(70000, 'x') + "\n";
  const std::string in = dir_.write("long.txt", text);
  for (const std::string layout : {"--font=courier", "--preserve"}) {
    SCOPED_TRACE(layout);
    ASSERT_EQ(Run({"-qf", layout, in, "-o", dir_.file("file.pdf")}), 0) << Err();
    Feed(text);
    ASSERT_EQ(Run({"-q", layout, "-", "-o", "-"}), 0) << Err();
    const std::string piped = Out();
    EXPECT_TRUE(piped == ReadFile(dir_.file("file.pdf")));
    EXPECT_NE(piped.find("first ends"), std::string::npos);
  }
}

// Standard input is read as it comes and the PDF leaves at each flush: the
// first pages are out while the input is still being written.
TEST_F(OptionRun, StandardInputAndOutputAreStreamedAsTheyGo) {
  int pipe[2];
  ASSERT_EQ(::pipe(pipe), 0);
  std::fclose(in_);
  in_ = ::fdopen(pipe[0], "r");
  bool seenEarly = false;
  std::thread feeder([&] {
    const std::string lines = [] {
      std::string text;
      while (text.size() < 200000) text += "a line that comes through a pipe\n";
      return text;
    }();
    ASSERT_EQ(::write(pipe[1], lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
    // The input is not over yet, and yet output has come.
    struct stat st {};
    for (int i = 0; i < 1000 && !seenEarly; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      seenEarly = ::fstat(::fileno(out_), &st) == 0 && st.st_size > 0;
    }
    ASSERT_EQ(::write(pipe[1], "the last line\n", 14), 14);
    ::close(pipe[1]);
  });
  const int status = Run({"-q", "-"});
  feeder.join();
  EXPECT_EQ(status, 0) << Err();
  EXPECT_TRUE(seenEarly);
  const std::string pdf = Out();
  const auto findings = testing::StructureFindings(pdf);
  EXPECT_TRUE(findings.empty()) << findings.front();
  EXPECT_NE(pdf.find("T* (the last line\r\n) Tj"), std::string::npos);
}

TEST_F(OptionRun, AStandardOutputThatBreaksEndsTheConversionWithAMessage) {
  int pipe[2];
  ASSERT_EQ(::pipe(pipe), 0);
  ::close(pipe[0]);
  std::fclose(out_);
  out_ = ::fdopen(pipe[1], "w");
  // As a program started with SIGPIPE ignored sees it: the write fails.
  const auto previous = std::signal(SIGPIPE, SIG_IGN);
  std::string text;
  while (text.size() < 100000) text += "more text than a pipe holds\n";
  Feed(text);
  EXPECT_EQ(Run({"-q", "-"}), 1);
  std::signal(SIGPIPE, previous);
  EXPECT_EQ(messages_.titledTexts(), std::vector<std::string>{"standard output: Broken pipe"});
}

TEST_F(OptionRun, StandardInputAloneWritesStandardOutput) {
  Feed("piped\n");
  ASSERT_EQ(Run({"-"}), 0) << Err();
  EXPECT_TRUE(Out().starts_with("%PDF-1.2"));
  EXPECT_EQ(std::filesystem::directory_iterator(dir_.path()), std::filesystem::directory_iterator());
}

TEST_F(OptionRun, StandardInputToAFileAndAFileToStandardOutput) {
  Feed("from a pipe\n");
  ASSERT_EQ(Run({"-", "-o", dir_.file("piped.pdf")}), 0) << Err();
  EXPECT_NE(testing::PdfToText(dir_.file("piped.pdf")).find("from a pipe"), std::string::npos);

  const std::string in = dir_.write("a.txt", "to a pipe\n");
  ASSERT_EQ(Run({"--output=-", in}), 0) << Err();
  EXPECT_TRUE(Out().starts_with("%PDF-1.2"));
  EXPECT_FALSE(testing::Exists(dir_.file("a.pdf")));
}

TEST_F(OptionRun, AFullStandardOutputIsAFailure) {
  std::FILE* full = std::fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  std::fclose(out_);
  out_ = full;
  Feed("text\n");
  EXPECT_EQ(Run({"-"}), 1);
  EXPECT_EQ(messages_.titledTexts(), std::vector<std::string>{"standard output: No space left on device"});
}

TEST_F(OptionRun, HelpAndVersionThatCannotBeWrittenAreAFailure) {
  std::FILE* full = std::fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  std::fclose(out_);
  out_ = full;
  EXPECT_EQ(Run({"--help"}), 1);
  EXPECT_EQ(Err(), "scrivane: cannot write standard output: No space left on device\n");
  EXPECT_EQ(Run({"-V"}), 1);
  EXPECT_EQ(Err(), "scrivane: cannot write standard output: No space left on device\n");

  // A stream that takes no writes at all, as a closed standard output does.
  std::FILE* shut = std::fopen("/dev/null", "r");
  ASSERT_NE(shut, nullptr);
  std::fclose(out_);
  out_ = shut;
  EXPECT_EQ(Run({"--version"}), 1);
  EXPECT_EQ(Err(), "scrivane: cannot write standard output: Bad file descriptor\n");
}

TEST_F(OptionRun, EmptyStandardInputFails) {
  ASSERT_EQ(Run({"-", "-o", dir_.file("x.pdf")}), 1);
  EXPECT_EQ(Err(), "scrivane: standard input: empty; nothing to convert\n");
  EXPECT_FALSE(testing::Exists(dir_.file("x.pdf")));
}

TEST_F(OptionRun, NeverWritesAPdfToATerminal) {
  outIsTerminal_ = true;
  Feed("text\n");
  EXPECT_EQ(Run({"-"}), 2);
  EXPECT_NE(Err().find("will not write a PDF to a terminal"), std::string::npos);
  EXPECT_EQ(Out(), "");

  // Nor when the terminal is named, as a device or as a descriptor.
  outIsTerminal_ = false;
  const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  ASSERT_EQ(::grantpt(terminal), 0);
  ASSERT_EQ(::unlockpt(terminal), 0);
  const std::string device = ::ptsname(terminal);
  const int far = ::open(device.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(far, 0);
  const std::string a = dir_.write("a.txt", "text\n");
  for (const std::string& named : {device, "/dev/fd/" + std::to_string(far)}) {
    EXPECT_EQ(Run({"-q", a, "-o", named}), 2) << named;
    EXPECT_NE(Err().find("will not write a PDF to a terminal"), std::string::npos) << named;
  }
  ::close(far);
  ::close(terminal);
}

TEST_F(OptionRun, APipeWithoutAReaderIsReportedWithoutWaiting) {
  const std::string a = dir_.write("a.txt", "text\n");
  const std::string fifo = dir_.file("pipe.pdf");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(Run({"-q", a, "-o", fifo}), 1);
  EXPECT_EQ(messages_.titledTexts(),
            std::vector<std::string>{fifo + ": no program is reading from the pipe"});
}

TEST_F(OptionRun, ABatchGoesOnAfterAFailingFile) {
  const std::string a = dir_.write("a.txt", "first\n");
  const std::string b = dir_.file("missing.txt");
  const std::string c = dir_.write("c.txt", "third\n");
  EXPECT_EQ(Run({"-q", a, b, c}), 1);
  EXPECT_TRUE(testing::QpdfFindings(dir_.file("a.pdf")).empty());
  EXPECT_TRUE(testing::QpdfFindings(dir_.file("c.pdf")).empty());
  EXPECT_FALSE(testing::Exists(dir_.file("missing.pdf")));
  EXPECT_EQ(messages_.titledTexts(), std::vector<std::string>{b + ": No such file or directory"});
}

TEST_F(OptionRun, AUsageErrorTouchesNoFile) {
  const std::string a = dir_.write("a.txt", "first\n");
  const std::string old = dir_.write("a.pdf", "old");
  EXPECT_EQ(Run({"-f", a, "--size", "100"}), 2);
  EXPECT_EQ(ReadFile(old), "old");
  EXPECT_EQ(Err(),
            "scrivane: --size: '100' is not accepted; use a whole number of points from 1 to "
            "72\nTry 'scrivane --help' for more information.\n");
  EXPECT_TRUE(messages_.shown.empty());
}

TEST_F(OptionRun, TwoInputsForOnePdfAreRefusedBeforeAnythingIsWritten) {
  const std::string a = dir_.write("notes.txt", "a\n");
  const std::string b = dir_.write("notes.text", "b\n");
  EXPECT_EQ(Run({"-f", a, b}), 2);
  EXPECT_NE(Err().find("would both be written to"), std::string::npos);
  EXPECT_FALSE(testing::Exists(dir_.file("notes.pdf")));

  // The same folder under another name is the same folder, whether the PDF exists yet or not.
  ASSERT_EQ(::symlink(".", dir_.file("here").c_str()), 0);
  const std::string c = dir_.write("here/notes.txt", "c\n");
  EXPECT_EQ(Run({"-f", a, dir_.file("here/notes.text")}), 2);
  EXPECT_NE(Err().find("would both be written to"), std::string::npos);
  EXPECT_FALSE(testing::Exists(dir_.file("notes.pdf")));
  dir_.write("notes.pdf", "old");
  EXPECT_EQ(Run({"-f", a, dir_.file("here/notes.text")}), 2);
  EXPECT_NE(Err().find("would both be written to"), std::string::npos);
  EXPECT_EQ(ReadFile(dir_.file("notes.pdf")), "old");
}

TEST_F(OptionRun, ALinkThatLeadsNowhereCountsAsAnExistingPdfAndIsNeverWrittenThrough) {
  const std::string a = dir_.write("a.txt", "text\n");
  const std::string link = dir_.file("a.pdf");
  ASSERT_EQ(::symlink("elsewhere.pdf", link.c_str()), 0);
  EXPECT_EQ(Run({"-n", a}), 1);
  EXPECT_NE(Err().find("already exists; not replaced"), std::string::npos);
  messages_.answers = {platform::Answer::No};
  EXPECT_EQ(Run({a}), 1);
  EXPECT_EQ(messages_.texts(), std::vector<std::string>{"Output File Already Exist. Do you want To OVERWRITE It?"});
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_FALSE(testing::Exists(dir_.file("elsewhere.pdf")));

  EXPECT_EQ(Run({"-f", a}), 0);
  EXPECT_FALSE(std::filesystem::is_symlink(link));
  EXPECT_TRUE(ReadFile(link).starts_with("%PDF-1.2"));
  EXPECT_FALSE(testing::Exists(dir_.file("elsewhere.pdf")));
}

TEST_F(OptionRun, AnExistingPdfIsReplacedOnlyAsTheOptionsSay) {
  const std::string a = dir_.write("a.txt", "new text\n");
  const std::string b = dir_.write("b.txt", "other\n");
  const std::string pdf = dir_.write("a.pdf", "old");

  messages_.answers = {platform::Answer::No};
  EXPECT_EQ(Run({"-q", a, b}), 1);  // refused counts as failed, b still converts
  EXPECT_EQ(ReadFile(pdf), "old");
  EXPECT_TRUE(testing::Exists(dir_.file("b.pdf")));
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(messages_.shown[0].text, "Output File Already Exist. Do you want To OVERWRITE It?");
  EXPECT_EQ(messages_.shown[0].title, pdf);  // the terminal shows which file is meant
  EXPECT_EQ(messages_.shown[0].buttons, platform::Buttons::YesNo);

  messages_.shown.clear();
  EXPECT_EQ(Run({"-n", a}), 1);
  EXPECT_EQ(ReadFile(pdf), "old");
  EXPECT_NE(Err().find("already exists; not replaced"), std::string::npos);
  EXPECT_TRUE(messages_.shown.empty());

  EXPECT_EQ(Run({"--force", a}), 0);
  EXPECT_TRUE(ReadFile(pdf).starts_with("%PDF-1.2"));
  EXPECT_TRUE(messages_.shown.empty());

  std::filesystem::resize_file(pdf, 3);
  messages_.answers = {platform::Answer::Yes};
  EXPECT_EQ(Run({a}), 0);
  EXPECT_TRUE(ReadFile(pdf).starts_with("%PDF-1.2"));
  EXPECT_EQ(messages_.shown.size(), 1u);
}

TEST_F(OptionRun, TheInputCannotBeItsOwnOutput) {
  const std::string a = dir_.write("a.txt", "text\n");
  EXPECT_EQ(Run({"-f", a, "-o", a}), 1);
  EXPECT_EQ(ReadFile(a), "text\n");
}

TEST_F(OptionRun, ProgressOnlyOnATerminalAndNotWhenQuiet) {
  const std::string a = dir_.write("a.txt", "x\n");
  const std::string b = dir_.write("b.txt", "y\n");
  EXPECT_EQ(Run({"-f", a, b}), 0);
  EXPECT_EQ(Err(), "");

  errIsTerminal_ = true;
  EXPECT_EQ(Run({"-f", a, b}), 0);
  EXPECT_EQ(Err(), "converting " + a + " (1/2)\nconverting " + b + " (2/2)\n");

  EXPECT_EQ(Run({"-fq", a, b}), 0);
  EXPECT_EQ(Err(), "");
}

TEST_F(OptionRun, HelpAndVersionGoToStandardOutput) {
  EXPECT_EQ(Run({"-V"}), 0);
  EXPECT_EQ(Out(), "scrivane 1.1\n");
  EXPECT_EQ(Run({"--help"}), 0);
  const std::string help = Out();
  for (const char* option : {"--font", "--size", "--rotate", "--page", "--title", "--author",
                             "--subject", "--keywords", "--creator", "--output", "--force",
                             "--no-clobber", "--quiet", "--help", "--version", "from 1 to 72"}) {
    EXPECT_NE(help.find(option), std::string::npos) << option;
  }
  EXPECT_EQ(Err(), "");
}

}  // namespace
}  // namespace scrivane
