#include <gtest/gtest.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/command_line.h"
#include "platform/failure.h"
#include "platform/processors.h"
#include "platform/std_files.h"
#include "platform/terminal_message_box.h"
#include "platform/utf16.h"
#include "tests/support/temp_dir.h"

namespace scrivane::platform {
namespace {

using scrivane::testing::TempDir;
using scrivane::testing::Utf16Of;

std::vector<std::string> ReadLines(const std::string& path) {
  StdFiles files;
  auto reader = files.openLines(path);
  std::vector<std::string> lines;
  std::string_view line;
  while (reader->next(line)) lines.emplace_back(line);
  return lines;
}

TEST(LineReaderTest, EndsLinesAtCrLfCrAndLfAcrossChunkBoundaries) {
  TempDir dir;
  // The CR of a CR LF pair as the last byte of the first 64 KiB read.
  std::string text(65535, 'a');
  text += "\r\nnext\r\n";
  EXPECT_EQ(ReadLines(dir.write("a", text)), (std::vector<std::string>{std::string(65535, 'a'), "next"}));
  text = std::string(65535, 'b') + "\r\rc";
  EXPECT_EQ(ReadLines(dir.write("b", text)), (std::vector<std::string>{std::string(65535, 'b'), "", "c"}));
  EXPECT_EQ(ReadLines(dir.write("c", "\xEF\xBB\xBFx\n\xEF\xBB\xBFy")),
            (std::vector<std::string>{"x", "\xEF\xBB\xBFy"}));
  EXPECT_EQ(ReadLines(dir.write("d", "\xEF\xBB\xBF")), std::vector<std::string>{});
  EXPECT_EQ(ReadLines(dir.write("e", "\n\n")), (std::vector<std::string>{"", ""}));
  EXPECT_EQ(ReadLines(dir.write("f", std::string("nul\0byte\n", 9))),
            std::vector<std::string>{std::string("nul\0byte", 8)});
}

// The lines of a text by the plain rule, one byte at a time.
std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') {
      line += text[i];
      continue;
    }
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    lines.push_back(line);
    line.clear();
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

TEST(LineReaderTest, AgreesWithThePlainRuleOnMixedLineEnds) {
  // Texts of a few hundred KiB, so that lines of every kind cross chunk ends;
  // some have no CR at all, some no LF, some both.
  TempDir dir;
  std::uint32_t seed = 99;
  const auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
  for (const std::string ends : {"\n", "\r", "\r\n", "\n\r\r\n"}) {
    std::string text;
    while (text.size() < 300000) {
      text.append(next() % 97 == 0 ? 70000 : next() % 120, 'x');
      text += ends[next() % ends.size()];
      if (ends.size() == 2 && next() % 2 == 0) text += '\n';
    }
    text.resize(text.size() - next() % 2);
    ASSERT_EQ(ReadLines(dir.write("mixed", text)), SplitLines(text)) << "ends of kind " << ends.size();
  }
}

TEST(LineReaderTest, AByteOrderMarkReadAloneIsNotTheEnd) {
  // Through a pipe the first read can return the three bytes of the mark alone.
  TempDir dir;
  const std::string fifo = dir.file("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&fifo] {
    // A reader that stopped early makes the second write fail, not end the test.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    const int fd = ::open(fifo.c_str(), O_WRONLY);
    EXPECT_EQ(::write(fd, "\xEF\xBB\xBF", 3), 3);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(::write(fd, "rest\n", 5), 5);
    ::close(fd);
  });
  const std::vector<std::string> lines = ReadLines(fifo);
  writer.join();
  EXPECT_EQ(lines, std::vector<std::string>{"rest"});
}

std::string Decoded(Utf16Decoder& decoder, const std::string& bytes, std::size_t piece) {
  std::string out(Utf16Decoder::MaxOutput(bytes.size()) + 8 * bytes.size() + 16, '\0');
  char* end = out.data();
  for (std::size_t i = 0; i < bytes.size(); i += piece) {
    end = decoder.decode(bytes.data() + i, std::min(piece, bytes.size() - i), end);
  }
  end = decoder.finish(end);
  out.resize(static_cast<std::size_t>(end - out.data()));
  return out;
}

TEST(Utf16DecoderTest, DecodesInPiecesOfAnySizeAndMarksWhatIsMalformed) {
  const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z\r\n";
  for (const bool big : {false, true}) {
    const std::string bytes = Utf16Of(text, big).substr(2);
    for (std::size_t piece = 1; piece <= bytes.size(); ++piece) {
      Utf16Decoder decoder(big);
      EXPECT_EQ(Decoded(decoder, bytes, piece), text) << piece;
      EXPECT_EQ(decoder.errors(), 0u);
    }
  }
  // A lone low surrogate, a high one followed by a letter, a high one at the end,
  // and an odd byte: each becomes U+FFFD.
  Utf16Decoder decoder(false);
  EXPECT_EQ(Decoded(decoder, std::string("\x00\xDC" "a\x00" "\x00\xD8" "b\x00" "\x00\xD8", 10), 3),
            "\xEF\xBF\xBD" "a" "\xEF\xBF\xBD" "b" "\xEF\xBF\xBD");
  EXPECT_EQ(decoder.errors(), 3u);
  Utf16Decoder odd(true);
  EXPECT_EQ(Decoded(odd, std::string("\x00q\x00", 3), 1), "q\xEF\xBF\xBD");
  EXPECT_EQ(odd.errors(), 1u);
}

TEST(LineReaderTest, Utf16FilesReadAsTheUtf8OfTheirText) {
  TempDir dir;
  // Long enough to span several reads, with CR LF pairs and surrogate pairs
  // falling on every alignment.
  std::string text = "caf\xC3\xA9 (\xE2\x80\x9Cq\xE2\x80\x9D)\r\n\r\nlone\rlf\n";
  for (int i = 0; text.size() < 200000; ++i) {
    text += std::string(static_cast<std::size_t>(i % 7), 'x') + "\xF0\x9F\x98\x80" + "\xCE\xB1\r\n";
  }
  text += "\fend without line end";
  const std::vector<std::string> expected = SplitLines(text);
  EXPECT_EQ(ReadLines(dir.write("le", Utf16Of(text, false))), expected);
  EXPECT_EQ(ReadLines(dir.write("be", Utf16Of(text, true))), expected);
  EXPECT_EQ(ReadLines(dir.write("mark", "\xFF\xFE")), std::vector<std::string>{});
  // Not well-formed UTF-16 (a lone surrogate, or an odd length): bytes, as any file.
  const std::string lone = Utf16Of("ab", false) + std::string("\x00\xDC", 2) + Utf16Of("\ncd", false).substr(2);
  EXPECT_EQ(ReadLines(dir.write("lone", lone)), SplitLines(lone));
  const std::string odd = Utf16Of("ab\n", true) + "c";
  EXPECT_EQ(ReadLines(dir.write("odd", odd)), SplitLines(odd));
}

TEST(StdFilesTest, SizesOnlyOrdinaryFilesAndNamesFailuresPlainly) {
  TempDir dir;
  StdFiles files;
  EXPECT_EQ(files.size(dir.write("three", "abc")), 3u);
  EXPECT_FALSE(files.size(dir.path()).has_value());
  EXPECT_FALSE(files.size("").has_value());
  EXPECT_FALSE(files.size(dir.file("none/x")).has_value());
  EXPECT_TRUE(files.isOrdinaryFile(dir.file("three")));
  EXPECT_TRUE(files.isOrdinaryFile(dir.write(".hidden", "x")));  // never overwrite a dotfile unasked
  EXPECT_FALSE(files.isOrdinaryFile(dir.path()));

  EXPECT_THROW(files.openLines(dir.file("missing")), Failure);
  EXPECT_EQ(DescribeErrno(ENOSPC), "No space left on device");
  EXPECT_EQ(DescribeErrno(EACCES), "Permission denied");
}

// Opens a new document for `path`, writes `bytes` and completes it.
void WriteDocument(const std::string& path, const std::string& bytes, const std::string& input = "") {
  StdFiles files;
  auto output = files.createOutput(path, input);
  output->write(bytes);
  output->complete();
}

TEST(StdFilesOutputTest, ANewFileTakesTheOutputsNameOnlyWhenComplete) {
  TempDir dir;
  StdFiles files;
  const std::string out = dir.write("out.pdf", "old");
  {
    auto output = files.createOutput(out, "");
    output->write("new ");
    output->write("bytes");
    // Written beside the output under a hidden name of its own.
    const std::vector<std::string> names = scrivane::testing::Names(dir.path());
    ASSERT_EQ(names.size(), 2u);
    EXPECT_TRUE(names[0].starts_with(".out.pdf.")) << names[0];
    EXPECT_EQ(scrivane::testing::ReadFile(out), "old");
    output->complete();
  }
  EXPECT_EQ(scrivane::testing::ReadFile(out), "new bytes");
  EXPECT_EQ(scrivane::testing::Names(dir.path()), std::vector<std::string>{"out.pdf"});

  // Given up, or dropped before it was complete: the output stays as it was.
  auto dropped = files.createOutput(out, "");
  dropped->write("lost");
  dropped->discard();
  files.createOutput(out, "")->write("lost too");
  EXPECT_EQ(scrivane::testing::ReadFile(out), "new bytes");
  EXPECT_EQ(scrivane::testing::Names(dir.path()), std::vector<std::string>{"out.pdf"});

  WriteDocument(dir.file("fresh.pdf"), "fresh");
  EXPECT_EQ(scrivane::testing::ReadFile(dir.file("fresh.pdf")), "fresh");
  try {
    files.createOutput(dir.file("none/x.pdf"), "");
    FAIL() << "creating in a missing folder must fail";
  } catch (const Failure& e) {
    EXPECT_STREQ(e.what(), "No such file or directory");
  }
  try {
    files.createOutput(dir.path(), "");
    FAIL() << "a folder is no output";
  } catch (const Failure& e) {
    EXPECT_STREQ(e.what(), "Is a directory");
  }
  try {
    files.createOutput(dir.file(std::string(256, 'n')), "");
    FAIL() << "a name too long for the folder must fail";
  } catch (const Failure& e) {
    EXPECT_STREQ(e.what(), "File name too long");
  }
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

TEST(StdFilesOutputTest, ANewFileHasTheInputsPermissionsWithinTheUmask) {
  TempDir dir;
  const mode_t saved = ::umask(022);
  const std::string secret = dir.write("secret.txt", "x");
  const std::string open = dir.write("open.txt", "x");
  ::chmod(secret.c_str(), 0600);
  ::chmod(open.c_str(), 0666);
  WriteDocument(dir.file("secret.pdf"), "pdf", secret);
  WriteDocument(dir.file("open.pdf"), "pdf", open);
  // An old PDF that everyone could read gets the input's privacy when replaced.
  const std::string old = dir.write("old.pdf", "old");
  ::chmod(old.c_str(), 0644);
  WriteDocument(old, "pdf", secret);
  // Standard input and other streams: the umask alone.
  WriteDocument(dir.file("piped.pdf"), "pdf", "/dev/null");
  ::umask(077);
  WriteDocument(dir.file("tight.pdf"), "pdf", open);
  ::umask(saved);
  EXPECT_EQ(ModeOf(dir.file("secret.pdf")), 0600u);
  EXPECT_EQ(ModeOf(dir.file("open.pdf")), 0644u);
  EXPECT_EQ(ModeOf(old), 0600u);
  EXPECT_EQ(ModeOf(dir.file("piped.pdf")), 0644u);
  EXPECT_EQ(ModeOf(dir.file("tight.pdf")), 0600u);
}

TEST(StdFilesOutputTest, ALinkedFileIsReplacedAndALinkToNothingIsNeverWrittenThrough) {
  TempDir dir;
  StdFiles files;
  const std::string real = dir.write("real.pdf", "old");
  const std::string linked = dir.file("linked.pdf");
  ASSERT_EQ(::symlink("real.pdf", linked.c_str()), 0);
  EXPECT_TRUE(files.isTaken(linked));
  WriteDocument(linked, "new");
  EXPECT_EQ(std::filesystem::read_symlink(linked), "real.pdf");
  EXPECT_EQ(scrivane::testing::ReadFile(real), "new");

  const std::string dangling = dir.file("dangling.pdf");
  ASSERT_EQ(::symlink("target.pdf", dangling.c_str()), 0);
  EXPECT_TRUE(files.isTaken(dangling));
  EXPECT_FALSE(files.isOrdinaryFile(dangling));
  WriteDocument(dangling, "new");
  EXPECT_FALSE(std::filesystem::is_symlink(dangling));
  EXPECT_EQ(scrivane::testing::ReadFile(dangling), "new");
  EXPECT_FALSE(scrivane::testing::Exists(dir.file("target.pdf")));

  ASSERT_EQ(::symlink(".", dir.file("folder.pdf").c_str()), 0);
  EXPECT_FALSE(files.isTaken(dir.file("folder.pdf")));
  EXPECT_FALSE(files.isTaken(dir.file("missing.pdf")));
  EXPECT_FALSE(files.isTaken("/dev/null"));
}

TEST(StdFilesOutputTest, StreamsAreWrittenWhereTheyStandAndNeverReplaced) {
  TempDir dir;
  StdFiles files;
  WriteDocument("/dev/null", "nothing");
  struct stat st {};
  ASSERT_EQ(::stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));

  // A descriptor opened to append, named in each of the ways, and through a link.
  const std::string log = dir.write("log.txt", "log\n");
  const int appending = ::open(log.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  ASSERT_GE(appending, 0);
  const std::string fd = std::to_string(appending);
  const std::string link = dir.file("out.pdf");
  ASSERT_EQ(::symlink(("/dev/fd/" + fd).c_str(), link.c_str()), 0);
  for (const std::string& name : {"/dev/fd/" + fd, "/proc/self/fd/" + fd, link}) {
    EXPECT_FALSE(files.isTaken(name)) << name;
    WriteDocument(name, "pdf\n");
  }
  ::close(appending);
  EXPECT_EQ(scrivane::testing::ReadFile(log), "log\npdf\npdf\npdf\n");
  EXPECT_EQ(std::filesystem::read_symlink(link), "/dev/fd/" + fd);
  EXPECT_EQ(scrivane::testing::Names(dir.path()), (std::vector<std::string>{"log.txt", "out.pdf"}));

  // Opened to write from where it stands: nothing before or after is cut.
  const std::string numbers = dir.write("numbers.txt", "0123456789");
  const int writing = ::open(numbers.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_EQ(::lseek(writing, 4, SEEK_SET), 4);
  WriteDocument("/dev/fd/" + std::to_string(writing), "ab");
  ::close(writing);
  EXPECT_EQ(scrivane::testing::ReadFile(numbers), "0123ab6789");
}

TEST(StdFilesOutputTest, APipeWithoutAReaderIsReportedAtOnce) {
  TempDir dir;
  StdFiles files;
  const std::string fifo = dir.file("pipe.pdf");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  try {
    files.createOutput(fifo, "");
    FAIL() << "a pipe without a reader must fail";
  } catch (const Failure& e) {
    EXPECT_STREQ(e.what(), "no program is reading from the pipe");
  }
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  WriteDocument(fifo, "through the pipe");
  char got[64] = {};
  EXPECT_EQ(::read(reader, got, sizeof got), 16);
  EXPECT_STREQ(got, "through the pipe");
  ::close(reader);
  struct stat st {};
  ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST(StdFilesOutputTest, AnEndingSignalRemovesTheNewFileAndEndsTheProgram) {
  TempDir dir;
  const std::string out = dir.write("out.pdf", "old");
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      StdFiles files;
      auto output = files.createOutput(out, "");
      output->write("half a document");
      ::raise(signal);
      ::_exit(0);  // not reached: the signal ends the program
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal;
    EXPECT_EQ(scrivane::testing::ReadFile(out), "old") << signal;
    EXPECT_EQ(scrivane::testing::Names(dir.path()), std::vector<std::string>{"out.pdf"}) << signal;
  }
}

TEST(StdFilesTest, NamedDescriptorsAreFoundDirectlyAndThroughLinks) {
  TempDir dir;
  EXPECT_EQ(NamedDescriptor("/dev/stdin"), 0);
  EXPECT_EQ(NamedDescriptor("/dev/stdout"), 1);
  EXPECT_EQ(NamedDescriptor("/dev/stderr"), 2);
  EXPECT_EQ(NamedDescriptor("/dev/fd/7"), 7);
  EXPECT_EQ(NamedDescriptor("/proc/self/fd/12"), 12);
  EXPECT_EQ(NamedDescriptor("/proc/" + std::to_string(::getpid()) + "/fd/3"), 3);
  ASSERT_EQ(::symlink("/dev/stdout", dir.file("out").c_str()), 0);
  EXPECT_EQ(NamedDescriptor(dir.file("out")), 1);
  EXPECT_EQ(NamedDescriptor("/dev/null"), -1);
  EXPECT_EQ(NamedDescriptor("/proc/1/fd/1"), -1);  // another program's
  EXPECT_EQ(NamedDescriptor("/dev/fd/x"), -1);
  EXPECT_EQ(NamedDescriptor(dir.write("plain", "x")), -1);
  EXPECT_EQ(NamedDescriptor(""), -1);
}

TEST(StdFilesTest, SameFileSeesLinksAndEquivalentPaths) {
  TempDir dir;
  StdFiles files;
  const std::string a = dir.write("a.txt", "x");
  ASSERT_EQ(::symlink(a.c_str(), dir.file("l.pdf").c_str()), 0);
  ASSERT_EQ(::link(a.c_str(), dir.file("h.pdf").c_str()), 0);
  EXPECT_TRUE(files.sameFile(a, dir.file("l.pdf")));
  EXPECT_TRUE(files.sameFile(a, dir.file("h.pdf")));
  EXPECT_TRUE(files.sameFile(a, dir.path() + "/../" + dir.path().substr(dir.path().rfind('/') + 1) + "/a.txt"));
  EXPECT_TRUE(files.sameFile(dir.file("n.pdf"), dir.path() + "/./n.pdf"));
  EXPECT_FALSE(files.sameFile(a, dir.file("a.pdf")));
  // Names that do not exist yet: the same name in the same folder, however the folder is named.
  ASSERT_EQ(::symlink(".", dir.file("here").c_str()), 0);
  EXPECT_TRUE(files.sameFile(dir.file("b.pdf"), dir.file("here/b.pdf")));
  EXPECT_EQ(files.identity(dir.file("b.pdf")), files.identity(dir.file("here/b.pdf")));
  EXPECT_FALSE(files.sameFile(dir.file("b.pdf"), dir.file("here/c.pdf")));
  EXPECT_TRUE(files.sameFile(a, dir.file("here/a.txt")));
}

// A terminal ends its input once per Ctrl-D; a reader that asked again would
// wait for a second one.
TEST(LineReaderTest, ATerminalsInputEndsAtTheFirstEndOfInput) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  // Two bytes, shorter than a byte-order mark, then the end of input.
  ASSERT_EQ(::write(master, "a\n\x04", 3), 3);
  std::vector<std::string> lines;
  std::atomic<bool> read{false};  // the lines are only looked at once the reader is done
  std::thread reader([&] {
    try {
      lines = ReadLines("/dev/fd/" + std::to_string(slave));
      read = true;
    } catch (const Failure&) {
      // the terminal went away under a reader that waited
    }
  });
  for (int i = 0; i < 500 && !read; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const bool ended = read;
  ::close(master);  // ends a reader that still waits
  reader.join();
  ::close(slave);
  EXPECT_TRUE(ended) << "the reader waited for a second end of input";
  EXPECT_EQ(lines, std::vector<std::string>{"a"});
}

TEST(LineReaderTest, ADescriptorIsReadFromWhereItStands) {
  TempDir dir;
  const std::string path = dir.write("lines", "skip\nfirst\nsecond");
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::lseek(fd, 5, SEEK_SET), 5);
  EXPECT_EQ(ReadLines("/dev/fd/" + std::to_string(fd)), (std::vector<std::string>{"first", "second"}));
  ::close(fd);
}

TEST(LineReaderTest, AFileThatShrinksWhileItIsReadIsAFailure) {
  TempDir dir;
  std::string text;
  while (text.size() < 200000) text += "a line of text\n";
  const std::string path = dir.write("shrinking", text);
  StdFiles files;
  auto reader = files.openLines(path);
  std::string_view line;
  ASSERT_TRUE(reader->next(line));
  ASSERT_EQ(::truncate(path.c_str(), 1000), 0);
  try {
    while (reader->next(line)) {
    }
    FAIL() << "the lost end must be reported";
  } catch (const Failure& e) {
    EXPECT_EQ(std::string(e.what()), "The file '" + path + "' became shorter while it was read (65536 of " +
                                         std::to_string(text.size()) + " bytes)");
  }
  // A file read to its end is no failure, however it was cut before.
  EXPECT_EQ(ReadLines(path).size(), 67u);
}

TEST(CommandLineTest, JoinsArgumentsWithSingleBlanksKeepingCase) {
  EXPECT_EQ(ArgvCommandLine({"My", "Notes.TXT"}).argumentText(), "My Notes.TXT");
  EXPECT_EQ(ArgvCommandLine({"\"a b.txt\""}).argumentText(), "\"a b.txt\"");
  EXPECT_EQ(ArgvCommandLine(std::vector<std::string>{}).argumentText(), "");
  EXPECT_EQ(ArgvCommandLine({"", "x"}).argumentText(), " x");
}

TEST(TerminalMessageBoxTest, WithoutATerminalTakesAndPrintsTheDefault) {
  std::FILE* out = std::tmpfile();
  std::FILE* in = std::tmpfile();
  TerminalMessageBox box(in, out);
  EXPECT_EQ(box.show("Sure?", Buttons::YesNo, Icon::Warning, DefaultButton::First, "Scrivane v1.1"),
            Answer::Yes);
  EXPECT_EQ(box.show("Done.\r\rOpen?", Buttons::YesNo, Icon::Question, DefaultButton::Second, "Scrivane"),
            Answer::No);
  EXPECT_EQ(box.show("Disk full", Buttons::Ok, Icon::None, DefaultButton::First, "Scrivane"), Answer::Ok);
  std::rewind(out);
  char buf[512] = {};
  const std::size_t n = std::fread(buf, 1, sizeof buf - 1, out);
  EXPECT_EQ(std::string(buf, n),
            "scrivane: Sure? [Y/n] Yes\nscrivane: Done.\n\nOpen? [y/N] No\nscrivane: Disk full\n");
  std::fclose(out);
  std::fclose(in);
}

// Answers typed on a real terminal: a pseudo-terminal whose far end the test writes to.
TEST(TerminalMessageBoxTest, OnATerminalAsksAgainUntilAnsweredAndSaysWhenInputEnds) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  termios mode{};
  ASSERT_EQ(::tcgetattr(slave, &mode), 0);
  mode.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  ASSERT_EQ(::tcsetattr(slave, TCSANOW, &mode), 0);
  std::FILE* in = ::fdopen(slave, "r");
  ASSERT_NE(in, nullptr);
  std::FILE* out = std::tmpfile();
  TerminalMessageBox box(in, out);

  const std::string typed = "maybe\n" + std::string(100, 'x') + "\nno\n\n";
  ASSERT_EQ(::write(master, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
  EXPECT_EQ(box.show("Replace?", Buttons::YesNo, Icon::Warning, DefaultButton::First, "Scrivane"),
            Answer::No);
  EXPECT_EQ(box.show("Replace?", Buttons::YesNo, Icon::Warning, DefaultButton::First, "Scrivane"),
            Answer::Yes);
  ASSERT_EQ(::write(master, "\x04", 1), 1);  // end of input typed at the start of a line
  EXPECT_EQ(box.show("Replace?", Buttons::YesNo, Icon::Warning, DefaultButton::Second, "Scrivane"),
            Answer::No);

  std::rewind(out);
  char buf[512] = {};
  const std::size_t n = std::fread(buf, 1, sizeof buf - 1, out);
  EXPECT_EQ(std::string(buf, n),
            "scrivane: Replace? [Y/n] Please answer y or n. [Y/n] Please answer y or n. [Y/n] "
            "scrivane: Replace? [Y/n] "
            "scrivane: Replace? [y/N] \nNo (end of input)\n");
  std::fclose(out);
  std::fclose(in);
  ::close(master);
}

}  // namespace
}  // namespace scrivane::platform

TEST(ProcessorsTest, AQuotaOrAnAffinityLimitsTheProcessorsCounted) {
  using scrivane::platform::ProcessorsOfQuota;
  EXPECT_EQ(ProcessorsOfQuota("max 100000\n"), std::nullopt);
  EXPECT_EQ(ProcessorsOfQuota("200000 100000\n"), 2u);
  EXPECT_EQ(ProcessorsOfQuota("150000 100000"), 2u);  // a part of a processor counts as one
  EXPECT_EQ(ProcessorsOfQuota("1000 100000"), 1u);
  EXPECT_EQ(ProcessorsOfQuota(""), std::nullopt);
  EXPECT_EQ(ProcessorsOfQuota("100000 0"), std::nullopt);
  EXPECT_EQ(ProcessorsOfQuota("lots 100000"), std::nullopt);
  using scrivane::platform::ProcessorsOfV1Quota;
  EXPECT_EQ(ProcessorsOfV1Quota("-1\n", "100000\n"), std::nullopt);
  EXPECT_EQ(ProcessorsOfV1Quota("250000\n", "100000\n"), 3u);
  EXPECT_EQ(ProcessorsOfV1Quota("50000", "100000"), 1u);
  EXPECT_EQ(ProcessorsOfV1Quota("50000", ""), std::nullopt);

  // Bound to one processor, the process has one, whatever the machine has.
  cpu_set_t before;
  ASSERT_EQ(::sched_getaffinity(0, sizeof before, &before), 0);
  int first = 0;
  while (!CPU_ISSET(first, &before)) ++first;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(first, &one);
  ASSERT_EQ(::sched_setaffinity(0, sizeof one, &one), 0);
  const unsigned bound = scrivane::platform::UsableProcessors();
  ASSERT_EQ(::sched_setaffinity(0, sizeof before, &before), 0);
  EXPECT_EQ(bound, 1u);
  EXPECT_GE(scrivane::platform::UsableProcessors(), 1u);
  EXPECT_LE(scrivane::platform::UsableProcessors(), static_cast<unsigned>(CPU_COUNT(&before)));
}
