#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace scrivane::platform {

// A failure whose what() is the description the user reads, with nothing added.
class Failure : public std::runtime_error {
 public:
  explicit Failure(const std::string& description) : std::runtime_error(description) {}
};

// A failure of one named file: what() names the file, detail() tells the same
// without the name, for a message that names the file already.
class FileFailure : public Failure {
 public:
  FileFailure(const std::string& description, std::string detail)
      : Failure(description), detail_(std::move(detail)) {}
  const std::string& detail() const { return detail_; }

 private:
  std::string detail_;
};

// Standard descriptions, one wording for each kind of failure.
inline constexpr const char* kDivisionByZero = "Division by zero";
inline constexpr const char* kOverflow = "Overflow";
inline constexpr const char* kSubscriptOutOfRange = "Subscript out of range";
inline constexpr const char* kInvalidArgument = "Invalid procedure call or argument";

// The system's own description of an errno value ("No such file or directory",
// "Permission denied", ...).
std::string DescribeErrno(int error);

}  // namespace scrivane::platform
