// The program against hostile surroundings: full devices, folders it may not
// write, inputs that are no ordinary files or change while they are read, odd
// and long names. Most cases run the real binary without a display, as a
// script or a file manager would; the changing inputs run the writer in
// process, where the moment of the change can be chosen.

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/failure.h"
#include "platform/std_files.h"
#include "tests/support/fakes.h"
#include "tests/support/pdf_structure.h"
#include "tests/support/pdf_tools.h"
#include "tests/support/temp_dir.h"
#include "writer/writer.h"

namespace scrivane {
namespace {

using testing::Exists;
using testing::ReadFile;
using testing::TempDir;

constexpr uid_t kNobody = 65534;

struct Outcome {
  int status = -1;     // exit status, or minus the signal that ended the program
  std::string output;  // stdout and stderr together
  bool hung = false;
};

// Runs the program with `args` in `cwd`, with no display, stdin not a terminal,
// and, when `unprivileged`, as the user nobody (so that permissions count even
// when the tests run as root), with `environment` ("NAME=value") added. Killed
// after 60 seconds.
Outcome RunScrivane(const std::vector<std::string>& args, const std::string& cwd,
                    bool unprivileged = false, const std::vector<std::string>& environment = {},
                    const std::string& program = SCRIVANE_BINARY) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(out[1], STDERR_FILENO);
    const int null = ::open("/dev/null", O_RDONLY);
    ::dup2(null, STDIN_FILENO);
    if (::chdir(cwd.c_str()) != 0) ::_exit(126);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    // The program takes a chosen Qt platform for a display.
    ::unsetenv("QT_QPA_PLATFORM");
    for (const auto& e : environment) ::putenv(const_cast<char*>(e.c_str()));
    if (unprivileged && ::geteuid() == 0) {
      if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(126);
    }
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  Outcome result;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  char chunk[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.hung = true;
      ::kill(pid, SIGKILL);
      break;
    }
    pollfd p{out[0], POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    const ssize_t n = ::read(out[0], chunk, sizeof chunk);
    if (n <= 0) break;
    result.output.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(out[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  return result;
}

// A folder that the user nobody can reach wherever the checkout and TMPDIR lie
// (under /root, in a home folder of mode 0700, in a `mktemp -d` folder), with a
// copy of the program in it: made in /tmp, which everyone may enter.
class NobodysFolder {
 public:
  NobodysFolder() {
    std::string pattern = "/tmp/scrivane-nobody-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp in /tmp failed");
    path_ = pattern;
    ::chmod(path_.c_str(), 0755);
    program_ = path_ + "/scrivane";
    std::filesystem::copy_file(SCRIVANE_BINARY, program_);
    ::chmod(program_.c_str(), 0755);
  }
  ~NobodysFolder() {
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(path_, ec);
  }
  NobodysFolder(const NobodysFolder&) = delete;
  NobodysFolder& operator=(const NobodysFolder&) = delete;

  const std::string& path() const { return path_; }
  const std::string& program() const { return program_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  std::string write(const std::string& name, const std::string& bytes) const {
    std::ofstream(file(name), std::ios::binary) << bytes;
    return file(name);
  }

 private:
  std::string path_;
  std::string program_;
};

std::string Text() {
  std::string text;
  for (int i = 1; i <= 150; ++i) text += "Line " + std::to_string(i) + " of a text (with parentheses).\n";
  return text;
}

class FaultTest : public ::testing::Test {
 protected:
  // A sound PDF: our structure, and qpdf agrees.
  static void ExpectSoundPdf(const std::string& path) {
    ASSERT_TRUE(Exists(path)) << path;
    const auto findings = testing::StructureFindings(ReadFile(path));
    EXPECT_TRUE(findings.empty()) << findings.front();
    EXPECT_TRUE(testing::QpdfFindings(path).empty());
  }

  TempDir dir;
  const std::string text = Text();
};

TEST_F(FaultTest, DiskFullIsReportedAndTheDeviceLinkIsKept) {
  if (!Exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const std::string input = dir.write("x.txt", text);
  const std::string output = dir.file("x.pdf");
  ASSERT_EQ(::symlink("/dev/full", output.c_str()), 0);

  const Outcome r = RunScrivane({input}, dir.path());
  EXPECT_FALSE(r.hung);
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("scrivane: Cannot write '" + output + "': No space left on device"), std::string::npos)
      << r.output;
  // Only ordinary files count as an existing output: no overwrite question,
  // and the link is neither followed by a removal nor replaced.
  EXPECT_EQ(r.output.find("OVERWRITE"), std::string::npos) << r.output;
  EXPECT_EQ(std::filesystem::read_symlink(output), "/dev/full");
  EXPECT_EQ(ReadFile(input), text);

  // Qt told to draw offscreen is no display either: the message still reaches
  // the terminal instead of a box nobody can close.
  const Outcome offscreen = RunScrivane({input}, dir.path(), false, {"QT_QPA_PLATFORM=offscreen"});
  EXPECT_FALSE(offscreen.hung);
  EXPECT_EQ(offscreen.status, 1) << offscreen.output;
  EXPECT_NE(offscreen.output.find("scrivane: Cannot write '" + output + "': No space left on device"), std::string::npos)
      << offscreen.output;
}

TEST_F(FaultTest, AFileSystemThatFillsUpLeavesNoPartialPdf) {
  const std::string small = dir.file("small");
  ASSERT_EQ(::mkdir(small.c_str(), 0755), 0);
  // 48 KiB: room for the input, not for the PDF beside it.
  if (::geteuid() != 0 || ::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=48k") != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here";
  }
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{small};
  std::string big;
  while (big.size() < 36 * 1024) big += text;
  const std::string input = small + "/notes.txt";
  {
    TempDir scratch;
    std::filesystem::copy_file(scratch.write("n.txt", big), input);
  }

  const std::string old = "%PDF-1.2\r% an old document\r";
  std::ofstream(small + "/notes.pdf", std::ios::binary) << old;

  const Outcome r = RunScrivane({input}, small);
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("Cannot write '" + small + "/notes.pdf': No space left on device"), std::string::npos)
      << r.output;
  // What did fit was removed again, and the old PDF is as it was.
  EXPECT_EQ(ReadFile(small + "/notes.pdf"), old);
  EXPECT_EQ(testing::Names(small), (std::vector<std::string>{"notes.pdf", "notes.txt"}));
  EXPECT_EQ(ReadFile(input), big);

  // The same through a link to the old PDF: the link and the file it leads to stay.
  const std::string link = dir.file("link.pdf");
  ASSERT_EQ(::symlink((small + "/notes.pdf").c_str(), link.c_str()), 0);
  const Outcome linked = RunScrivane({"-qf", input, "-o", link}, dir.path());
  EXPECT_EQ(linked.status, 1) << linked.output;
  EXPECT_NE(linked.output.find("No space left on device"), std::string::npos) << linked.output;
  EXPECT_EQ(std::filesystem::read_symlink(link), small + "/notes.pdf");
  EXPECT_EQ(ReadFile(small + "/notes.pdf"), old);
  EXPECT_EQ(testing::Names(small), (std::vector<std::string>{"notes.pdf", "notes.txt"}));
}

TEST_F(FaultTest, AFolderInTheWayOfTheOutputIsLeftAlone) {
  const std::string input = dir.write("y.txt", text);
  const std::string output = dir.file("y.pdf");
  ASSERT_EQ(::mkdir(output.c_str(), 0755), 0);
  dir.write("y.pdf/keep", "kept");

  const Outcome r = RunScrivane({input}, dir.path());
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("Cannot write '" + output + "': Is a directory"),
            std::string::npos)
      << r.output;
  EXPECT_EQ(ReadFile(output + "/keep"), "kept");
  EXPECT_EQ(ReadFile(input), text);
}

TEST_F(FaultTest, AReadOnlyFolderIsReportedAndNothingIsWritten) {
  const NobodysFolder own;
  const std::string folder = own.file("locked");
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  const std::string input = own.write("locked/z.txt", text);
  ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);

  const Outcome r = RunScrivane({input}, own.path(), /*unprivileged=*/true, {}, own.program());
  ASSERT_NE(r.status, 127) << "the program could not be started: " << r.output;
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("Cannot write '" + folder + "/z.pdf': Permission denied"), std::string::npos)
      << r.output;
  EXPECT_EQ(testing::Names(folder), std::vector<std::string>{"z.txt"});
  EXPECT_EQ(ReadFile(input), text);
}

TEST_F(FaultTest, AnUnreadableInputIsReportedAndTheOldPdfStays) {
  const NobodysFolder own;
  const std::string input = own.write("secret.txt", text);
  const std::string output = own.write("secret.pdf", "an old PDF");
  ASSERT_EQ(::chmod(input.c_str(), 0), 0);
  ASSERT_EQ(::chmod(output.c_str(), 0666), 0);
  ASSERT_EQ(::chmod(own.path().c_str(), 0777), 0);

  const Outcome r = RunScrivane({input}, own.path(), /*unprivileged=*/true, {}, own.program());
  ASSERT_NE(r.status, 127) << "the program could not be started: " << r.output;
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("scrivane: Permission denied"), std::string::npos) << r.output;
  // A failed conversion leaves no document of its own: the old one stays as it was.
  EXPECT_EQ(ReadFile(output), "an old PDF");
  EXPECT_EQ(testing::Names(own.path()), (std::vector<std::string>{"scrivane", "secret.pdf", "secret.txt"}));
  ASSERT_EQ(::chmod(input.c_str(), 0644), 0);
  EXPECT_EQ(ReadFile(input), text);
}

TEST_F(FaultTest, InputsThatAreNoOrdinaryFilesAreRefusedWithoutWaiting) {
  const std::string folder = dir.file("folder.txt");
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  const std::string fifo = dir.file("pipe.txt");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);

  for (const std::string& input : {folder, fifo, std::string("/dev/zero")}) {
    SCOPED_TRACE(input);
    // Nobody writes to the FIFO: a program that opened it would wait forever.
    const Outcome r = RunScrivane({input}, dir.path());
    EXPECT_FALSE(r.hung);
    EXPECT_EQ(r.status, 2) << r.output;
    EXPECT_NE(r.output.find("must exist and not be empty"), std::string::npos) << r.output;
  }
  EXPECT_FALSE(Exists(dir.file("folder.pdf")));
  EXPECT_FALSE(Exists(dir.file("pipe.pdf")));
}

TEST_F(FaultTest, NamesWithBlanksQuotesAndOtherCharactersConvert) {
  const std::vector<std::string> names = {
      "my notes.txt",         "two  blanks .txt", "it's \"quoted\".txt",
      "caf\xC3\xA9 \xC3\xBCn\xC3\xAF \xE2\x82\xAC.txt", "$(touch pwned);x.txt", "no extension",
      "dots.in.the.name.txt"};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const std::string input = dir.write(name, text);
    const std::string stem = name.substr(0, name.rfind(".txt") == std::string::npos ? name.size() : name.rfind(".txt"));
    const std::string output = dir.file(stem + ".pdf");
    // Once as a path, once as a name in the working folder.
    for (const std::string& arg : {input, name}) {
      std::filesystem::remove(output);
      const Outcome r = RunScrivane({arg}, dir.path());
      EXPECT_EQ(r.status, 0) << r.output;
      ExpectSoundPdf(output);
      EXPECT_EQ(ReadFile(input), text);
    }
    EXPECT_NE(testing::PdfToText(output).find("Line 150 of a text (with parentheses)."), std::string::npos);
  }
  EXPECT_FALSE(Exists(dir.file("pwned")));

  // Words given as separate arguments are joined by one blank into one name.
  std::filesystem::remove(dir.file("my notes.pdf"));
  const Outcome r = RunScrivane({"my", "notes.txt"}, dir.path());
  EXPECT_EQ(r.status, 0) << r.output;
  ExpectSoundPdf(dir.file("my notes.pdf"));
}

// Names need not be UTF-8 here; the name passes through the window's text boxes
// and must come out with the same bytes.
TEST_F(FaultTest, ANameThatIsNotUtf8Converts) {
  const std::string name = "latin1 \xE9t\xE9.txt";
  const std::string input = dir.write(name, text);
  const Outcome r = RunScrivane({input}, dir.path());
  EXPECT_EQ(r.status, 0) << r.output;
  ExpectSoundPdf(dir.file("latin1 \xE9t\xE9.pdf"));
}

TEST_F(FaultTest, VeryLongPathsConvertOrFailCleanly) {
  // About 3000 characters of folders, then a name of 244.
  std::string folder = dir.path();
  for (int i = 0; i < 14; ++i) folder += "/" + std::string(200, static_cast<char>('a' + i));
  std::filesystem::create_directories(folder);
  const std::string stem = folder + "/" + std::string(240, 'n');
  const std::string input = stem + ".txt";
  {
    TempDir scratch;
    std::filesystem::copy_file(scratch.write("t.txt", text), input);
  }
  Outcome r = RunScrivane({input}, dir.path());
  EXPECT_EQ(r.status, 0) << r.output.substr(0, 300);
  ExpectSoundPdf(stem + ".pdf");

  // A name that fits, whose PDF name is one character too long for the file system.
  const std::string tight = folder + "/" + std::string(252, 't') + ".x";
  std::filesystem::copy_file(input, tight);
  r = RunScrivane({tight}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("': File name too long"), std::string::npos) << r.output.substr(0, 300);
  EXPECT_EQ(ReadFile(tight), text);
}

TEST_F(FaultTest, AnOutputLinkedToTheInputIsRefused) {
  const std::string input = dir.write("s.txt", text);
  const std::string output = dir.file("s.pdf");
  ASSERT_EQ(::symlink("s.txt", output.c_str()), 0);

  const Outcome r = RunScrivane({input}, dir.path());
  EXPECT_EQ(r.status, 1) << r.output;
  // The link names an existing file: the question comes first, answered by its default.
  EXPECT_NE(r.output.find("OVERWRITE It? [Y/n] Yes"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("cannot also be the output"), std::string::npos) << r.output;
  EXPECT_EQ(ReadFile(input), text);
  EXPECT_EQ(std::filesystem::read_symlink(output), "s.txt");
}

// Starts the program without waiting for it, its output thrown away.
pid_t StartScrivane(const std::vector<std::string>& args, const std::string& cwd) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, STDIN_FILENO);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    if (::chdir(cwd.c_str()) != 0) ::_exit(126);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    ::unsetenv("QT_QPA_PLATFORM");
    std::vector<char*> argv{const_cast<char*>(SCRIVANE_BINARY)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(SCRIVANE_BINARY, argv.data());
    ::_exit(127);
  }
  return pid;
}

// The exit status, or minus the signal that ended the program.
int WaitFor(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1000;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

// `-o /dev/stdout` with standard output appending to a log: the PDF is added to
// the log where it stands, and /dev/stdout is left as it is.
TEST_F(FaultTest, APdfForStandardOutputIsAddedToWhatItLeadsTo) {
  const std::string input = dir.write("a.txt", text);
  const std::string log = dir.write("log.txt", "before\n");
  struct stat before {};
  ASSERT_EQ(::lstat("/dev/stdout", &before), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open(log.c_str(), O_WRONLY | O_APPEND);
    ::dup2(out, STDOUT_FILENO);
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, STDIN_FILENO);
    ::dup2(null, STDERR_FILENO);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    ::unsetenv("QT_QPA_PLATFORM");
    ::execl(SCRIVANE_BINARY, SCRIVANE_BINARY, "-fq", input.c_str(), "-o", "/dev/stdout", nullptr);
    ::_exit(127);
  }
  EXPECT_EQ(WaitFor(pid), 0);
  const std::string logged = ReadFile(log);
  ASSERT_TRUE(logged.starts_with("before\n%PDF-1.2\r")) << logged.substr(0, 40);
  const auto findings = testing::StructureFindings(logged.substr(7));
  EXPECT_TRUE(findings.empty()) << findings.front();
  struct stat after {};
  ASSERT_EQ(::lstat("/dev/stdout", &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mode, before.st_mode);
  EXPECT_EQ(testing::Names(dir.path()), (std::vector<std::string>{"a.txt", "log.txt"}));
}

// Ten conversions of one output at once: each writes a file of its own, so the
// output always ends as one complete PDF, and nothing else is left.
TEST_F(FaultTest, ConcurrentRunsForOneOutputLeaveOneSoundPdf) {
  std::string big;
  while (big.size() < 400 * 1024) big += text;
  const std::string input = dir.write("in.txt", big);
  dir.write("out.pdf", "old");
  std::vector<pid_t> runs;
  for (int i = 0; i < 10; ++i) runs.push_back(StartScrivane({"-fq", input, "-o", dir.file("out.pdf")}, dir.path()));
  for (const pid_t pid : runs) EXPECT_EQ(WaitFor(pid), 0);
  ExpectSoundPdf(dir.file("out.pdf"));
  EXPECT_EQ(testing::Names(dir.path()), (std::vector<std::string>{"in.txt", "out.pdf"}));
}

// SIGTERM, SIGINT or SIGHUP in the middle of a large file: the program ends as
// the signal says, the new file is removed and the old PDF stays byte for byte.
TEST_F(FaultTest, AnInterruptedConversionKeepsTheOldPdfAndLeavesNothingElse) {
  // About 40 MB of one-point text on the largest page: long enough to be caught.
  std::string big;
  {
    std::string line;
    while (line.size() < 7000) line += "word, ";
    line += '\n';
    while (big.size() < 40u * 1024 * 1024) big += line;
  }
  const std::string input = dir.write("big.txt", big);
  big.clear();
  const std::string old = "%PDF-1.2\r% an old document\r";
  const std::string output = dir.write("big.pdf", old);
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(signal);
    const int watch = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, dir.path().c_str(), IN_CREATE), 0);
    const pid_t pid = StartScrivane({"-f", "--size", "1", "--page", "45x45", input}, dir.path());
    // The new file appears at the first flush, long before the document is done.
    pollfd p{watch, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 30000), 1) << "no new file appeared";
    ASSERT_EQ(::kill(pid, signal), 0);
    ::close(watch);
    EXPECT_EQ(WaitFor(pid), -signal) << "the conversion was not interrupted";
    EXPECT_EQ(ReadFile(output), old);
    EXPECT_EQ(testing::Names(dir.path()), (std::vector<std::string>{"big.pdf", "big.txt"}));
  }
}

// Files whose input changes once the writer has read its first line, whose
// output folder may vanish after the first flush, and whose device may fill up.
class ChangingFiles : public platform::Files {
 public:
  std::function<void()> afterFirstLine;
  std::function<void()> afterFirstFlush;
  std::function<void()> onSecondFlush;  // may throw, as a full device would

  std::optional<std::uintmax_t> size(const std::string& path) override { return real_.size(path); }
  bool isOrdinaryFile(const std::string& path) override { return real_.isOrdinaryFile(path); }
  std::string whyNoText(const std::string& path) override { return real_.whyNoText(path); }
  bool isTaken(const std::string& path) override { return real_.isTaken(path); }
  bool isTerminal(const std::string& path) override { return real_.isTerminal(path); }
  bool sameFile(const std::string& a, const std::string& b) override { return real_.sameFile(a, b); }
  std::string identity(const std::string& path) override { return real_.identity(path); }
  std::unique_ptr<platform::LineReader> openLines(const std::string& path) override {
    return std::make_unique<Reader>(real_.openLines(path), afterFirstLine);
  }
  std::unique_ptr<platform::Output> createOutput(const std::string& path, const std::string& input) override {
    return std::make_unique<Writer>(real_.createOutput(path, input), *this);
  }

 private:
  class Reader : public platform::LineReader {
   public:
    Reader(std::unique_ptr<platform::LineReader> inner, std::function<void()>& change)
        : inner_(std::move(inner)), change_(change) {}
    bool next(std::string_view& line) override {
      const bool more = inner_->next(line);
      if (change_) std::exchange(change_, nullptr)();
      return more;
    }

   private:
    std::unique_ptr<platform::LineReader> inner_;
    std::function<void()>& change_;
  };
  class Writer : public platform::Output {
   public:
    Writer(std::unique_ptr<platform::Output> inner, ChangingFiles& files)
        : inner_(std::move(inner)), files_(files) {}
    void write(std::string_view bytes) override {
      if (++flushes_ == 2 && files_.onSecondFlush) files_.onSecondFlush();
      inner_->write(bytes);
      if (files_.afterFirstFlush) std::exchange(files_.afterFirstFlush, nullptr)();
    }
    void complete() override { inner_->complete(); }
    void discard() override { inner_->discard(); }

   private:
    std::unique_ptr<platform::Output> inner_;
    ChangingFiles& files_;
    int flushes_ = 0;
  };
  platform::StdFiles real_;
};

class ChangingInputTest : public FaultTest {
 protected:
  bool Convert() {
    return writer.ConvertToPDF(input, output, "", "", "", "", "", "Times-Roman", 10, 0, 8.5f, 11.f);
  }
  std::string Long() const {
    std::string big;
    for (int i = 1; i <= 4000; ++i) big += "Original line " + std::to_string(i) + "\n";
    return big;  // about 80 KB: more than one read
  }

  ChangingFiles files;
  testing::FakeMessageBox messages;
  testing::FixedClock clock;
  PdfWriter writer{files, messages, clock};
  std::string input = dir.write("in.txt", Long());
  std::string output = dir.file("out.pdf");
};

TEST_F(ChangingInputTest, AnInputThatShrinksIsReportedAndLeavesNoPdf) {
  dir.write("out.pdf", "old");
  files.afterFirstLine = [&] { ASSERT_EQ(::truncate(input.c_str(), 100), 0); };
  EXPECT_FALSE(Convert());
  ASSERT_EQ(messages.shown.size(), 1u);
  // What was read before the file was cut: the first read, as much as it got.
  EXPECT_EQ(messages.shown[0].text, "The file '" + input + "' became shorter while it was read (65536 of " +
                                        std::to_string(Long().size()) + " bytes)");
  EXPECT_EQ(ReadFile(output), "old");
  EXPECT_EQ(testing::Names(dir.path()), (std::vector<std::string>{"in.txt", "out.pdf"}));
}

TEST_F(ChangingInputTest, AnInputThatGrowsIsReadToItsNewEnd) {
  files.afterFirstLine = [&] {
    std::string more;
    for (int i = 1; i <= 500; ++i) more += "Added line " + std::to_string(i) + "\n";
    std::ofstream(input, std::ios::binary | std::ios::app) << more;
  };
  EXPECT_TRUE(Convert());
  EXPECT_TRUE(messages.shown.empty());
  ExpectSoundPdf(output);
  const std::string shown = testing::PdfToText(output);
  EXPECT_NE(shown.find("Original line 4000\n"), std::string::npos);
  EXPECT_NE(shown.find("Added line 500\n"), std::string::npos);
}

TEST_F(ChangingInputTest, AnOutputFolderRemovedDuringTheConversionIsReported) {
  const std::string folder = dir.file("out");
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  output = folder + "/out.pdf";
  files.afterFirstFlush = [&] { std::filesystem::remove_all(folder); };
  EXPECT_FALSE(Convert());
  EXPECT_EQ(messages.texts(),
            std::vector<std::string>{"Cannot write '" + output + "': the file was removed by another program"});
  EXPECT_FALSE(Exists(folder));
  EXPECT_EQ(ReadFile(input), Long());
}

// Another program that removes the new file, or puts another in its place,
// would leave no document or one that is not ours: neither takes the output's
// name, and a file that is not ours is not removed either.
TEST_F(ChangingInputTest, ANewFileRemovedByAnotherProgramIsReportedNotCompleted) {
  dir.write("out.pdf", "old");
  std::string theirs;
  files.afterFirstFlush = [&] {
    for (const std::string& name : testing::Names(dir.path())) {
      if (name.starts_with(".out.pdf.")) theirs = dir.file(name);
    }
    std::filesystem::remove(theirs);
  };
  EXPECT_FALSE(Convert());
  EXPECT_EQ(messages.texts(),
            std::vector<std::string>{"Cannot write '" + output + "': the file was removed by another program"});
  EXPECT_EQ(ReadFile(output), "old");
  EXPECT_EQ(testing::Names(dir.path()), (std::vector<std::string>{"in.txt", "out.pdf"}));

  messages.shown.clear();
  files.afterFirstFlush = [&] {
    for (const std::string& name : testing::Names(dir.path())) {
      if (name.starts_with(".out.pdf.")) theirs = dir.file(name);
    }
    std::filesystem::remove(theirs);
    std::ofstream(theirs) << "theirs";
  };
  EXPECT_FALSE(Convert());
  EXPECT_EQ(messages.texts(),
            std::vector<std::string>{"Cannot write '" + output + "': the file was removed by another program"});
  EXPECT_EQ(ReadFile(output), "old");
  EXPECT_EQ(ReadFile(theirs), "theirs");
  EXPECT_EQ(testing::Names(dir.path()).size(), 3u);
}

// A device that fills up in the middle of the document: the old PDF stays
// exactly as it was and nothing else is left beside it.
TEST_F(ChangingInputTest, AFullDeviceKeepsTheOldPdf) {
  const std::string old = "%PDF-1.2 an old document\r";
  dir.write("out.pdf", old);
  files.onSecondFlush = [] { throw platform::Failure("Disk full"); };
  EXPECT_FALSE(Convert());
  EXPECT_EQ(messages.texts(), std::vector<std::string>{"Cannot write '" + output + "': Disk full"});
  EXPECT_EQ(ReadFile(output), old);
  EXPECT_EQ(testing::Names(dir.path()), (std::vector<std::string>{"in.txt", "out.pdf"}));

  // The same conversion with room to spare replaces it.
  messages.shown.clear();
  files.onSecondFlush = nullptr;
  EXPECT_TRUE(Convert());
  EXPECT_TRUE(messages.shown.empty());
  ExpectSoundPdf(output);
  EXPECT_EQ(testing::Names(dir.path()), (std::vector<std::string>{"in.txt", "out.pdf"}));
}

}  // namespace
}  // namespace scrivane
