#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace scrivane::platform {

// Reads a text file one line at a time. CR LF, CR and LF each end a line and are
// not part of it; the last line is read without a line end; a UTF-8 byte-order
// mark at the very start is dropped. A file that begins with a UTF-16 byte-order
// mark (either byte order) is read as the UTF-8 of its text. Throws Failure when the file cannot be read.
class LineReader {
 public:
  virtual ~LineReader() = default;
  // Points `line` at the next line and returns true, or returns false at the end.
  // The line's bytes stay valid until the next call or the reader's end.
  virtual bool next(std::string_view& line) = 0;
};

// The file operations the program needs. Failures throw platform::Failure.
class Files {
 public:
  virtual ~Files() = default;
  // Size in bytes of an ordinary file, or nothing when it cannot be had.
  virtual std::optional<std::uintmax_t> size(const std::string& path) = 0;
  virtual void remove(const std::string& path) = 0;
  // Opens for appending (creating, never truncating), writes, closes.
  virtual void append(const std::string& path, std::string_view bytes) = 0;
  // Whether an ordinary (not hidden) file of that name exists.
  virtual bool isOrdinaryFile(const std::string& path) = 0;
  // Whether two names lead to the same file: the same file identity when both
  // exist, else the same normalised absolute path.
  virtual bool sameFile(const std::string& a, const std::string& b) = 0;
  virtual std::unique_ptr<LineReader> openLines(const std::string& path) = 0;
};

}  // namespace scrivane::platform
