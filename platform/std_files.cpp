#include "platform/std_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <vector>

#include "platform/failure.h"
#include "platform/utf16.h"

namespace scrivane::platform {
namespace {

[[noreturn]] void ThrowErrno(int error) { throw Failure(DescribeErrno(error)); }

class FdLineReader : public LineReader {
 public:
  explicit FdLineReader(int fd) : fd_(fd), chunk_(kChunk) {}
  ~FdLineReader() override { ::close(fd_); }
  FdLineReader(const FdLineReader&) = delete;
  FdLineReader& operator=(const FdLineReader&) = delete;

  bool next(std::string_view& line) override {
    // A line within the chunk is handed out where it lies; only a line that
    // spans chunks is gathered in carry_.
    carry_.clear();
    for (;;) {
      if (pos_ == end_ && !fill()) {
        line = carry_;
        return !carry_.empty();
      }
      if (skipLf_) {
        skipLf_ = false;
        if (chunk_[pos_] == '\n' && ++pos_ == end_) continue;
      }
      const char* begin = chunk_.data() + pos_;
      const char* stop = chunk_.data() + end_;
      // The line ends at the next LF or CR, whichever comes first. Where each of
      // them lies is remembered, so that a chunk without one of them (most files
      // have no CR, or no LF) is searched for it once, not once a line.
      nextLf_ = NextAtOrAfter('\n', nextLf_);
      nextCr_ = NextAtOrAfter('\r', nextCr_);
      const char* p = chunk_.data() + std::min(nextLf_, nextCr_);
      if (p == stop) {
        carry_.append(begin, p);
        pos_ = end_;
        continue;
      }
      if (carry_.empty()) {
        line = std::string_view(begin, static_cast<std::size_t>(p - begin));
      } else {
        carry_.append(begin, p);
        line = carry_;
      }
      pos_ = static_cast<std::size_t>(p - chunk_.data());
      // A carriage return may be followed by the line feed of a CR LF pair,
      // possibly in the next chunk.
      skipLf_ = *p == '\r';
      ++pos_;
      return true;
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
    for (;;) {
      const ssize_t n = ::read(fd_, to, room);
      if (n >= 0) return static_cast<std::size_t>(n);
      if (errno != EINTR) ThrowErrno(errno);
    }
  }

  // Reads the next chunk; false at the end of the file.
  bool fill() {
    nextLf_ = kUnknown;
    nextCr_ = kUnknown;
    if (utf16_) return fillDecoded();
    do {
      pos_ = 0;
      end_ = 0;
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
          early_.assign(chunk_.begin() + 2, chunk_.begin() + static_cast<std::ptrdiff_t>(end_));
          return fillDecoded();
        }
      }
      // A first read that held the byte-order mark alone is not the end.
    } while (end_ != 0 && pos_ == end_);
    return pos_ < end_;
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
      std::vector<char> in(kRawChunk), out(Utf16Decoder::MaxOutput(kRawChunk));
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
    raw_.resize(kRawChunk);
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
    return end_ > 0;
  }

  int fd_;
  std::vector<char> chunk_;
  std::string carry_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  static constexpr std::size_t kUnknown = static_cast<std::size_t>(-1);
  std::size_t nextLf_ = kUnknown;  // offset of the next LF at or after pos_, or end_
  std::size_t nextCr_ = kUnknown;  // the same for CR
  bool first_ = true;
  bool skipLf_ = false;
  // Reading UTF-16: raw bytes are read into raw_ and decoded into the chunk.
  static constexpr std::size_t kRawChunk = kChunk / 2;
  static_assert(Utf16Decoder::MaxOutput(kRawChunk) <= kChunk);
  std::optional<Utf16Decoder> utf16_;
  std::vector<char> raw_;
  std::vector<char> early_;  // bytes read before the mark was seen, still to decode
  std::size_t earlyPos_ = 0;
  bool rawEnded_ = false;
};

}  // namespace

std::optional<std::uintmax_t> StdFiles::size(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return static_cast<std::uintmax_t>(st.st_size);
}

void StdFiles::remove(const std::string& path) {
  if (::unlink(path.c_str()) != 0) ThrowErrno(errno);
}

void StdFiles::append(const std::string& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    // Creating a file in a folder that does not exist.
    if (errno == ENOENT) throw Failure("Path not found");
    ThrowErrno(errno);
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(fd);
      ThrowErrno(error);
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) ThrowErrno(errno);
}

bool StdFiles::isOrdinaryFile(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool StdFiles::sameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0) {
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  }
  std::error_code ea, eb;
  const auto pa = std::filesystem::weakly_canonical(std::filesystem::absolute(a, ea), ea);
  const auto pb = std::filesystem::weakly_canonical(std::filesystem::absolute(b, eb), eb);
  return !ea && !eb && pa == pb;
}

std::unique_ptr<LineReader> StdFiles::openLines(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) ThrowErrno(errno);
  return std::make_unique<FdLineReader>(fd);
}

}  // namespace scrivane::platform
