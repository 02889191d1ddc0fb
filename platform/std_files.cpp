#include "platform/std_files.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "platform/failure.h"
#include "platform/utf16.h"

namespace scrivane::platform {
namespace {

[[noreturn]] void ThrowErrno(int error) { throw Failure(DescribeErrno(error)); }

constexpr const char* kChangedByOthers = "the file was changed by another program";
constexpr const char* kRemovedByOthers = "the file was removed by another program";

// Bytes to read into, not cleared first: a page that the reading does not reach
// is never touched, and a short file costs no more than it fills.
class ReadBuffer {
 public:
  ReadBuffer() = default;
  explicit ReadBuffer(std::size_t size)
      : bytes_(std::make_unique_for_overwrite<char[]>(size)), size_(size) {}
  char* data() { return bytes_.get(); }
  const char* data() const { return bytes_.get(); }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  char operator[](std::size_t i) const { return bytes_[i]; }

 private:
  std::unique_ptr<char[]> bytes_;
  std::size_t size_ = 0;
};

class FdLineReader : public LineReader {
 public:
  // `expected` is how many bytes an ordinary file still held when it was opened.
  FdLineReader(int fd, std::string path, std::optional<std::uintmax_t> expected)
      : fd_(fd), path_(std::move(path)), expected_(expected), chunk_(kChunk) {
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) base_ = ::lseek(fd_, 0, SEEK_CUR);
  }
  ~FdLineReader() override { ::close(fd_); }
  FdLineReader(const FdLineReader&) = delete;
  FdLineReader& operator=(const FdLineReader&) = delete;

  bool next(std::string_view& line) override {
    // A line within the chunk is handed out where it lies; only a line that
    // spans chunks is gathered in carry_.
    carry_.clear();
    std::string_view part;
    bool ends = false;
    while (nextPart(part, ends)) {
      if (ends && carry_.empty()) {
        line = part;
        return true;
      }
      carry_.append(part);
      if (ends) {
        line = carry_;
        return true;
      }
    }
    return false;
  }

  bool nextPart(std::string_view& part, bool& ends) override {
    for (;;) {
      if (pos_ == end_ && !fill()) {
        if (!inLine_) return false;
        // The last line has no line end.
        inLine_ = false;
        part = {};
        ends = true;
        return true;
      }
      if (skipLf_) {
        skipLf_ = false;
        if (chunk_[pos_] == '\n' && ++pos_ == end_) continue;
      }
      const char* begin = chunk_.data() + pos_;
      const char* stop = chunk_.data() + end_;
      if (!inLine_) {
        inLine_ = true;
        lineAt_ = chunkAt_ + static_cast<off_t>(pos_);
      }
      // The line ends at the next LF or CR, whichever comes first. Where each of
      // them lies is remembered, so that a chunk without one of them (most files
      // have no CR, or no LF) is searched for it once, not once a line.
      nextLf_ = NextAtOrAfter('\n', nextLf_);
      nextCr_ = NextAtOrAfter('\r', nextCr_);
      const char* p = chunk_.data() + std::min(nextLf_, nextCr_);
      part = std::string_view(begin, static_cast<std::size_t>(p - begin));
      if (p == stop) {
        pos_ = end_;
        ends = false;
        return true;
      }
      pos_ = static_cast<std::size_t>(p - chunk_.data());
      // A carriage return may be followed by the line feed of a CR LF pair,
      // possibly in the next chunk.
      skipLf_ = *p == '\r';
      ++pos_;
      inLine_ = false;
      ends = true;
      return true;
    }
  }

  bool scanLine(const std::function<void(std::string_view)>& block) override {
    // Only the bytes of an ordinary file stand where they were read.
    if (utf16_ || base_ < 0 || !inLine_) return false;
    if (scan_.empty()) scan_ = ReadBuffer(kChunk);
    for (off_t at = lineAt_;;) {
      const ssize_t n = ::pread(fd_, scan_.data(), scan_.size(), at);
      if (n < 0) {
        if (errno == EINTR) continue;
        ThrowErrno(errno);
      }
      if (n == 0) return true;
      const std::string_view bytes(scan_.data(), static_cast<std::size_t>(n));
      const std::size_t stop = std::min(bytes.find('\n'), bytes.find('\r'));
      if (stop != std::string_view::npos) {
        block(bytes.substr(0, stop));
        return true;
      }
      block(bytes);
      at += n;
    }
  }

 private:
  static constexpr std::size_t kChunk = 1 << 16;

  // Offset of the first `c` at or after pos_ (or end_ when there is none), given
  // the one found before.
  std::size_t NextAtOrAfter(char c, std::size_t known) const {
    if (known != kUnknown && known >= pos_) return known;
    const void* found = std::memchr(chunk_.data() + pos_, c, end_ - pos_);
    return found != nullptr ? static_cast<std::size_t>(static_cast<const char*>(found) - chunk_.data()) : end_;
  }

  // Reads what the file gives, up to `room` bytes; 0 at its end.
  std::size_t readRaw(char* to, std::size_t room) {
    // A terminal gives one end of input per Ctrl-D: it is never asked for a second.
    if (ended_) return 0;
    for (;;) {
      const ssize_t n = ::read(fd_, to, room);
      if (n > 0) {
        read_ += static_cast<std::uintmax_t>(n);
        return static_cast<std::size_t>(n);
      }
      if (n == 0) {
        ended_ = true;
        return 0;
      }
      if (errno != EINTR) ThrowErrno(errno);
    }
  }

  // At the end of the input: false, unless an ordinary file lost its end while
  // it was read; then the lines read are not the whole text.
  bool noMore() {
    if (expected_ && read_ < *expected_) {
      const std::uintmax_t expected = *std::exchange(expected_, std::nullopt);
      const std::string detail = "became shorter while it was read (" + std::to_string(read_) + " of " +
                                 std::to_string(expected) + " bytes)";
      throw FileFailure("The file '" + path_ + "' " + detail, detail);
    }
    return false;
  }

  // Reads the next chunk; false at the end of the file.
  bool fill() {
    nextLf_ = kUnknown;
    nextCr_ = kUnknown;
    if (utf16_) return fillDecoded();
    do {
      pos_ = 0;
      end_ = 0;
      chunkAt_ = base_ + static_cast<off_t>(read_);
      while (end_ == 0 || (first_ && end_ < 3)) {
        const std::size_t n = readRaw(chunk_.data() + end_, chunk_.size() - end_);
        if (n == 0) break;
        end_ += n;
      }
      if (first_) {
        first_ = false;
        if (end_ >= 3 && chunk_[0] == '\xEF' && chunk_[1] == '\xBB' && chunk_[2] == '\xBF') pos_ = 3;
        const Utf16Mark mark = FindUtf16Mark(chunk_.data(), end_);
        if (mark != Utf16Mark::None && startUtf16(mark == Utf16Mark::BigEndian)) {
          // The bytes after the mark are the first of the text.
          early_.assign(chunk_.data() + 2, chunk_.data() + end_);
          return fillDecoded();
        }
      }
      // A first read that held the byte-order mark alone is not the end.
    } while (end_ != 0 && pos_ == end_);
    return pos_ < end_ || noMore();
  }

  // A file that begins with a UTF-16 byte-order mark is read as UTF-8 made from
  // its UTF-16, so that it is handled just as the same text saved as UTF-8. An
  // ordinary file that is not well-formed UTF-16 is read byte by byte as any
  // other; a stream cannot be looked at twice, so there what is malformed
  // becomes U+FFFD. False when the file is read byte by byte.
  bool startUtf16(bool bigEndian) {
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
      Utf16Decoder check(bigEndian);
      ReadBuffer in(kRawChunk), out(Utf16Decoder::MaxOutput(kRawChunk));
      for (off_t at = 2;;) {
        const ssize_t n = ::pread(fd_, in.data(), in.size(), at);
        if (n < 0) {
          if (errno == EINTR) continue;
          ThrowErrno(errno);
        }
        if (n == 0) break;
        check.decode(in.data(), static_cast<std::size_t>(n), out.data());
        at += n;
      }
      check.finish(out.data());
      if (check.errors() != 0) return false;
    }
    utf16_.emplace(bigEndian);
    raw_ = ReadBuffer(kRawChunk);
    return true;
  }

  // The next chunk of UTF-8 decoded from UTF-16; false at the end of the file.
  bool fillDecoded() {
    pos_ = 0;
    end_ = 0;
    while (end_ == 0 && !rawEnded_) {
      const char* in = raw_.data();
      std::size_t n;
      if (earlyPos_ < early_.size()) {
        in = early_.data() + earlyPos_;
        n = std::min(kRawChunk, early_.size() - earlyPos_);
        earlyPos_ += n;
      } else {
        n = readRaw(raw_.data(), raw_.size());
      }
      char* const out = chunk_.data();
      if (n == 0) {
        rawEnded_ = true;
        end_ = static_cast<std::size_t>(utf16_->finish(out) - out);
      } else {
        end_ = static_cast<std::size_t>(utf16_->decode(in, n, out) - out);
      }
    }
    return end_ > 0 || noMore();
  }

  int fd_;
  std::string path_;
  std::optional<std::uintmax_t> expected_;
  std::uintmax_t read_ = 0;
  bool ended_ = false;
  ReadBuffer chunk_;
  std::string carry_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  static constexpr std::size_t kUnknown = static_cast<std::size_t>(-1);
  std::size_t nextLf_ = kUnknown;  // offset of the next LF at or after pos_, or end_
  std::size_t nextCr_ = kUnknown;  // the same for CR
  bool first_ = true;
  bool skipLf_ = false;
  bool inLine_ = false;  // a line has been begun and not ended
  // Where an ordinary file's reading began (-1 for any other input), where the
  // chunk and the line now read begin in it, and a buffer to look at a line again.
  off_t base_ = -1;
  off_t chunkAt_ = 0;
  off_t lineAt_ = 0;
  ReadBuffer scan_;
  // Reading UTF-16: raw bytes are read into raw_ and decoded into the chunk.
  static constexpr std::size_t kRawChunk = kChunk / 2;
  static_assert(Utf16Decoder::MaxOutput(kRawChunk) <= kChunk);
  std::optional<Utf16Decoder> utf16_;
  ReadBuffer raw_;
  std::vector<char> early_;  // bytes read before the mark was seen, still to decode
  std::size_t earlyPos_ = 0;
  bool rawEnded_ = false;
};

// Writes every byte, waiting when a descriptor handed to us does not block.
void WriteAll(int fd, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, -1);
        continue;
      }
      ThrowErrno(errno);
    }
    done += static_cast<std::size_t>(n);
  }
}

// The new files being written, for a signal handler to remove: a fixed table,
// so that the handler neither allocates nor locks. It is initialised at compile
// time, so that its 32 KB stay untouched in a run that writes no file.
struct TemporarySlot {
  std::atomic<bool> taken{false};
  std::atomic<bool> armed{false};
  char path[PATH_MAX] = {};
};
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
constinit TemporarySlot gTemporaries[8];

extern "C" void RemoveTemporariesAndEnd(int signal) {
  for (TemporarySlot& slot : gTemporaries) {
    if (slot.armed.load()) ::unlink(slot.path);
  }
  struct sigaction standard {};
  standard.sa_handler = SIG_DFL;
  sigemptyset(&standard.sa_mask);
  ::sigaction(signal, &standard, nullptr);
  // Delivered as soon as the handler returns: the program ends as the signal says.
  ::raise(signal);
}

// Installs the handler once, for each ending signal that still has its standard
// action: a signal the program was started with ignored stays ignored, and
// someone else's handler stays in place.
void CatchEndingSignals() {
  static const bool installed = [] {
    struct sigaction handler {};
    handler.sa_handler = RemoveTemporariesAndEnd;
    sigemptyset(&handler.sa_mask);
    for (int s : kEndingSignals) sigaddset(&handler.sa_mask, s);
    handler.sa_flags = SA_RESTART;
    for (int s : kEndingSignals) {
      struct sigaction old {};
      if (::sigaction(s, nullptr, &old) != 0) continue;
      if ((old.sa_flags & SA_SIGINFO) != 0 || old.sa_handler != SIG_DFL) continue;
      ::sigaction(s, &handler, nullptr);
    }
    return true;
  }();
  (void)installed;
}

// Holds the ending signals back in this thread for its lifetime, so that a new
// file and its entry in the table appear and vanish together.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kEndingSignals) sigaddset(&set, s);
    ::pthread_sigmask(SIG_BLOCK, &set, &old_);
  }
  ~SignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t old_;
};

TemporarySlot* Arm(const std::string& path) {
  if (path.size() >= PATH_MAX) return nullptr;  // too long to open anyway
  for (TemporarySlot& slot : gTemporaries) {
    if (slot.taken.exchange(true)) continue;
    std::memcpy(slot.path, path.c_str(), path.size() + 1);
    slot.armed.store(true);
    return &slot;
  }
  return nullptr;  // more new files at once than the table holds: written all the same
}

void Disarm(TemporarySlot*& slot) {
  if (slot == nullptr) return;
  slot->armed.store(false);
  slot->taken.store(false);
  slot = nullptr;
}

std::string RandomLetters(std::size_t count) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned char bytes[16] = {};
  if (::getrandom(bytes, count, 0) != static_cast<ssize_t>(count)) {
    static unsigned counter = 0;
    const unsigned seed = static_cast<unsigned>(::getpid()) * 2654435761u + ++counter * 40503u +
                          static_cast<unsigned>(::time(nullptr));
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<unsigned char>(seed >> (i * 5));
  }
  std::string letters;
  for (std::size_t i = 0; i < count; ++i) letters += kLetters[bytes[i] % (sizeof kLetters - 1)];
  return letters;
}

// A document written under a hidden name of its own beside its target, which it
// takes only when complete.
class NewFile : public Output {
 public:
  NewFile(int fd, std::string temporary, std::string target, TemporarySlot* slot)
      : fd_(fd), temporary_(std::move(temporary)), target_(std::move(target)), slot_(slot) {
    struct stat st {};
    if (::fstat(fd_, &st) == 0) {
      dev_ = st.st_dev;
      ino_ = st.st_ino;
    }
  }
  ~NewFile() override { discard(); }
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  void write(std::string_view bytes) override {
    if (fd_ < 0) ThrowErrno(EBADF);
    WriteAll(fd_, bytes);
    // The disk is given what was written every 256 KB without waiting for
    // it; otherwise replacing a file of the same name makes the file system
    // write all of the new one inside rename(). A failure here changes nothing.
    written_ += bytes.size();
    if (written_ - kicked_ >= (256u << 10)) {
      ::sync_file_range(fd_, static_cast<off_t>(kicked_), static_cast<off_t>(written_ - kicked_),
                        SYNC_FILE_RANGE_WRITE);
      kicked_ = written_;
    }
    // A file that another program removed would never reach the output's name.
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && st.st_nlink == 0) throw Failure(kRemovedByOthers);
  }

  bool rewrite(std::uint64_t offset, std::string_view bytes) override {
    if (fd_ < 0) ThrowErrno(EBADF);
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::pwrite(fd_, bytes.data() + done, bytes.size() - done,
                                 static_cast<off_t>(offset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        ThrowErrno(errno);
      }
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

  void complete() override {
    if (fd_ < 0) ThrowErrno(EBADF);
    if (::close(std::exchange(fd_, -1)) != 0) {
      const int error = errno;
      removeTemporary();
      ThrowErrno(error);
    }
    SignalsHeld held;
    if (!isOurs()) {
      Disarm(slot_);  // whatever has that name now is not ours to move or remove
      removed_ = true;
      struct stat st {};
      throw Failure(::lstat(temporary_.c_str(), &st) == 0 ? kChangedByOthers : kRemovedByOthers);
    }
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
      const int error = errno;
      removeTemporary();
      if (error == ENOENT) ThrowErrno(ENOENT);  // the folder is gone
      ThrowErrno(error);
    }
    Disarm(slot_);
  }

  void discard() override {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
    SignalsHeld held;
    removeTemporary();
  }

 private:
  bool isOurs() const {
    struct stat st {};
    return ::lstat(temporary_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_;
  }
  void removeTemporary() {
    if (slot_ == nullptr && removed_) return;
    if (!removed_ && isOurs()) ::unlink(temporary_.c_str());
    removed_ = true;
    Disarm(slot_);
  }

  int fd_;
  std::string temporary_;
  std::string target_;
  TemporarySlot* slot_;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  bool removed_ = false;
  std::uint64_t written_ = 0, kicked_ = 0;  // bytes written, and sent to the disk
};

// A device, a pipe or a descriptor handed to us: written as it goes, never
// removed, renamed or truncated.
class Stream : public Output {
 public:
  explicit Stream(int fd) : fd_(fd) {}
  ~Stream() override { discard(); }
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  void write(std::string_view bytes) override {
    if (fd_ < 0) ThrowErrno(EBADF);
    WriteAll(fd_, bytes);
  }
  void complete() override {
    if (fd_ < 0) ThrowErrno(EBADF);
    if (::close(std::exchange(fd_, -1)) != 0) ThrowErrno(errno);
  }
  void discard() override {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
  }

 private:
  int fd_;
};

std::unique_ptr<Output> CreateNewFile(const std::string& target, mode_t mode) {
  const std::size_t slash = target.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  if (name.empty()) ThrowErrno(EISDIR);
  // The new file's own name is shorter than the target's, so a target name too
  // long for the folder is refused before anything is written.
  const long longest = ::pathconf(folder.c_str(), _PC_NAME_MAX);
  if (longest > 0 && name.size() > static_cast<std::size_t>(longest)) ThrowErrno(ENAMETOOLONG);
  std::size_t keep = std::min<std::size_t>(name.size(), 100);
  while (keep > 0 && keep < name.size() && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) {
    --keep;  // not inside a UTF-8 sequence
  }
  const std::string stem = folder + "/." + name.substr(0, keep) + ".";
  CatchEndingSignals();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string temporary = stem + RandomLetters(6);
    SignalsHeld held;
    // Created afresh, never through a link, and only ever by us.
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      if (errno == ENOENT) ThrowErrno(ENOENT);  // creating in a folder that does not exist
      ThrowErrno(errno);
    }
    return std::make_unique<NewFile>(fd, temporary, target, Arm(temporary));
  }
  ThrowErrno(EEXIST);
}

std::unique_ptr<Output> OpenStream(const std::string& path, bool fifo) {
  // A pipe without a reader must not hang the program, so the opening does not wait.
  const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENXIO && fifo) throw Failure("no program is reading from the pipe");
    ThrowErrno(errno);
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return std::make_unique<Stream>(fd);
}

mode_t PermissionsOf(const std::string& input) {
  struct stat st {};
  if (!input.empty() && ::stat(input.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    return st.st_mode & 0666;
  }
  return 0666;
}

// The descriptor a name of /dev/fd or /proc names, with its folders resolved; or -1.
int DescriptorOf(std::string_view p) {
  const auto number = [](std::string_view digits) {
    if (digits.empty() || digits.size() > 9) return -1;
    int n = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return -1;
      n = n * 10 + (c - '0');
    }
    return n;
  };
  if (p == "/dev/stdin") return 0;
  if (p == "/dev/stdout") return 1;
  if (p == "/dev/stderr") return 2;
  if (p.starts_with("/dev/fd/")) return number(p.substr(8));
  if (!p.starts_with("/proc/")) return -1;
  p.remove_prefix(6);
  const std::string own = std::to_string(::getpid()) + "/";
  if (p.starts_with("self/")) {
    p.remove_prefix(5);
  } else if (p.starts_with("thread-self/")) {
    p.remove_prefix(12);
  } else if (p.starts_with(own)) {
    p.remove_prefix(own.size());
    if (p.starts_with("task/")) {
      p.remove_prefix(5);
      const std::size_t end = p.find('/');
      if (end == std::string_view::npos || number(p.substr(0, end)) < 0) return -1;
      p.remove_prefix(end + 1);
    }
  } else {
    return -1;
  }
  return p.starts_with("fd/") ? number(p.substr(3)) : -1;
}

std::filesystem::path Normal(const std::string& path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(path, ec).lexically_normal();
  if (p.has_parent_path() && p.filename().empty()) p = p.parent_path();
  return p;
}

}  // namespace

int NamedDescriptor(const std::string& path) {
  namespace fs = std::filesystem;
  if (path.empty()) return -1;
  fs::path p = Normal(path);
  for (int hop = 0; hop < 40; ++hop) {
    if (const int fd = DescriptorOf(p.native()); fd >= 0) return fd;
    // /dev/fd is a link to /proc/self/fd on Linux: the folders are resolved, the
    // name itself is not (it is the descriptor's link to its file).
    std::error_code ec;
    const fs::path folder = fs::canonical(p.parent_path(), ec);
    if (ec) return -1;
    const fs::path q = folder / p.filename();
    if (const int fd = DescriptorOf(q.native()); fd >= 0) return fd;
    struct stat st {};
    if (::lstat(q.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return -1;
    const fs::path target = fs::read_symlink(q, ec);
    if (ec) return -1;
    p = (target.is_absolute() ? target : folder / target).lexically_normal();
  }
  return -1;
}

std::optional<std::uintmax_t> StdFiles::size(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return static_cast<std::uintmax_t>(st.st_size);
}

bool StdFiles::isOrdinaryFile(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string StdFiles::whyNoText(const std::string& path) {
  struct stat st {};
  if (path.empty()) return DescribeErrno(ENOENT);
  if (::stat(path.c_str(), &st) != 0) return DescribeErrno(errno);
  if (S_ISDIR(st.st_mode)) return DescribeErrno(EISDIR);
  if (S_ISREG(st.st_mode)) return "the file is empty; nothing to convert";
  return "not an ordinary file";
}

bool StdFiles::isTaken(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::lstat(path.c_str(), &st) != 0) return false;
  if (S_ISREG(st.st_mode)) return true;
  if (!S_ISLNK(st.st_mode) || NamedDescriptor(path) >= 0) return false;
  // A link that leads nowhere is there all the same.
  return ::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode);
}

bool StdFiles::isTerminal(const std::string& path) {
  if (const int fd = NamedDescriptor(path); fd >= 0) return ::isatty(fd) != 0;
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  const bool terminal = ::isatty(fd) != 0;
  ::close(fd);
  return terminal;
}

std::string StdFiles::identity(const std::string& path) {
  if (path.empty()) return "nothing";
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    return "file " + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
  }
  // Not there yet: the same name in the same folder is the same file, however
  // the folder is named.
  const std::filesystem::path p = Normal(path);
  if (::stat(p.parent_path().c_str(), &st) == 0) {
    return "name " + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + "/" +
           p.filename().native();
  }
  std::error_code ec;
  return "path " + std::filesystem::weakly_canonical(p, ec).native();
}

bool StdFiles::sameFile(const std::string& a, const std::string& b) {
  return identity(a) == identity(b);
}

std::unique_ptr<LineReader> StdFiles::openLines(const std::string& path) {
  // A descriptor handed to us is read where it stands, not opened afresh.
  const int named = NamedDescriptor(path);
  const int fd = named >= 0 ? ::fcntl(named, F_DUPFD_CLOEXEC, 0) : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) ThrowErrno(errno);
  std::optional<std::uintmax_t> expected;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    const off_t at = named >= 0 ? ::lseek(fd, 0, SEEK_CUR) : 0;
    if (at >= 0 && at <= st.st_size) expected = static_cast<std::uintmax_t>(st.st_size - at);
  }
  return std::make_unique<FdLineReader>(fd, path, expected);
}

std::unique_ptr<Output> StdFiles::createOutput(const std::string& path, const std::string& input) {
  if (path.empty()) ThrowErrno(ENOENT);
  if (const int named = NamedDescriptor(path); named >= 0) {
    // Written where the descriptor stands, appending when it was opened to append.
    const int fd = ::fcntl(named, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) ThrowErrno(errno);
    return std::make_unique<Stream>(fd);
  }
  const mode_t mode = PermissionsOf(input);
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return CreateNewFile(path, mode);
    if (errno == ENOTDIR) ThrowErrno(ENOTDIR);
    ThrowErrno(errno);
  }
  if (S_ISLNK(st.st_mode)) {
    if (::stat(path.c_str(), &st) != 0) {
      // A link that leads nowhere is replaced, never written through.
      if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP) return CreateNewFile(path, mode);
      ThrowErrno(errno);
    }
    if (S_ISREG(st.st_mode)) {
      // The file the link leads to is replaced; the link stays.
      std::error_code ec;
      const std::filesystem::path file = std::filesystem::canonical(path, ec);
      if (ec) ThrowErrno(ec.value());
      return CreateNewFile(file.native(), mode);
    }
  }
  if (S_ISREG(st.st_mode)) return CreateNewFile(path, mode);
  if (S_ISDIR(st.st_mode)) ThrowErrno(EISDIR);
  return OpenStream(path, S_ISFIFO(st.st_mode));
}

}  // namespace scrivane::platform
