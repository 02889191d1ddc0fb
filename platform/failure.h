#pragma once

#include <stdexcept>
#include <string>

namespace scrivane::platform {

// A failure whose what() is the description the user reads, with nothing added.
class Failure : public std::runtime_error {
 public:
  explicit Failure(const std::string& description) : std::runtime_error(description) {}
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
