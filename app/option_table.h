#pragma once

// The options of option mode, one entry each: the parser, the help text and the
// checks of the man page all read this one table, so they cannot drift apart.

#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace scrivane {

struct Options;

// A usage error: what() is the message shown after "scrivane: ". Thrown by the
// options' own checks and by the parser, and turned into the run's usage error
// in one place.
class UsageError : public std::runtime_error {
 public:
  explicit UsageError(const std::string& message) : std::runtime_error(message) {}
};

enum class ValueKind {
  None,   // a flag: --quiet
  Value,  // --size 10 or --size=10, or -o out.pdf and -oout.pdf for a short name
};

struct OptionSpec {
  const char* name;       // the long name, without "--"
  char shortName;         // 0 when there is none
  ValueKind kind;
  const char* valueName;  // the value's name in the help (NAME, POINTS); empty for a flag
  const char* help;       // the help text; lines after the first are separated by '\n'
  // Stores the value in the options; throws UsageError with the reason (without
  // the option's name, which the parser puts in front) when it is not accepted.
  void (*apply)(const std::string& value, Options& options);
};

// Every option, in the order of the help text.
std::span<const OptionSpec> OptionTable();

const OptionSpec* FindLongOption(std::string_view name);
const OptionSpec* FindShortOption(char name);

// How the option is named in messages: "--size", or "-o/--output" for one with a short name.
std::string OptionNames(const OptionSpec& option);

// The whole text of --help, its option list made from the table.
std::string HelpText();

}  // namespace scrivane
