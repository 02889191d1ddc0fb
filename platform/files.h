#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace scrivane::platform {

// Reads a text file one line at a time. CR LF, CR and LF each end a line and are
// not part of it; the last line is read without a line end; a UTF-8 byte-order
// mark at the very start is dropped. A file that begins with a UTF-16 byte-order
// mark (either byte order) is read as the UTF-8 of its text. Throws Failure when
// the file cannot be read, and when an ordinary file ends before the size it had
// when it was opened.
class LineReader {
 public:
  virtual ~LineReader() = default;
  // Points `line` at the next line and returns true, or returns false at the end.
  // The line's bytes stay valid until the next call or the reader's end.
  virtual bool next(std::string_view& line) = 0;
  // The next line, or part of one: `ends` tells whether the line ends after
  // `part`. A line that is longer than the reader's buffer comes in parts, none
  // of them empty but the last; the bytes stay valid until the next call.
  virtual bool nextPart(std::string_view& part, bool& ends) {
    ends = true;
    return next(part);
  }
  // Hands the bytes of the line now being read to `block`, from its first byte
  // to its end, parts already read included, without moving the reading on;
  // false, with nothing handed, when the input cannot be read twice.
  virtual bool scanLine(const std::function<void(std::string_view)>& block) {
    (void)block;
    return false;
  }
};

// A document being written. A new file is written under a name of its own in
// the output's folder and takes the output's name only when it is complete, so
// that an old file of that name stays as it was until then; a stream (a device,
// a pipe, a descriptor named as /dev/fd/N) is written as it goes and is never
// removed, renamed or truncated. An output destroyed before it was completed is
// discarded.
class Output {
 public:
  virtual ~Output() = default;
  // Writes all the bytes, or throws Failure.
  virtual void write(std::string_view bytes) = 0;
  // Ends the document: a new file now replaces the output. Throws Failure, and
  // the new file is then gone.
  virtual void complete() = 0;
  // Gives the document up: a new file is removed, the output stays as it was.
  virtual void discard() = 0;
  // Writes bytes again over ones written before, at `offset` from the start;
  // false when the output cannot take them (a stream). Throws Failure.
  virtual bool rewrite(std::uint64_t /*offset*/, std::string_view /*bytes*/) { return false; }
};

// The file operations the program needs. Failures throw platform::Failure.
class Files {
 public:
  virtual ~Files() = default;
  // Size in bytes of an ordinary file, or nothing when it cannot be had.
  virtual std::optional<std::uintmax_t> size(const std::string& path) = 0;
  // Whether an ordinary (not hidden) file of that name exists.
  virtual bool isOrdinaryFile(const std::string& path) = 0;
  // Why a name whose size() is nothing or 0 gives no text to convert, in the
  // system's words where it has some ("No such file or directory", "Is a
  // directory", "the file is empty").
  virtual std::string whyNoText(const std::string& path) = 0;
  // Whether a document written to `path` would take the place of something: an
  // ordinary file, also one reached through a link, or a link that leads nowhere.
  virtual bool isTaken(const std::string& path) = 0;
  // Whether the name leads to a terminal.
  virtual bool isTerminal(const std::string& path) = 0;
  // Whether two names lead to the same file: the same file identity when both
  // exist, else the same folder and name, else the same normalised absolute path.
  virtual bool sameFile(const std::string& a, const std::string& b) = 0;
  // A text that is the same for two names exactly when sameFile holds for them.
  virtual std::string identity(const std::string& path) = 0;
  virtual std::unique_ptr<LineReader> openLines(const std::string& path) = 0;
  // Starts a document for `path`. A new file gets the read and write permission
  // bits of the file `input`, restricted by the umask (the umask alone when the
  // input is no ordinary file).
  virtual std::unique_ptr<Output> createOutput(const std::string& path, const std::string& input) = 0;
};

}  // namespace scrivane::platform
