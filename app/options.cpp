#include "app/options.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <set>
#include <string_view>

#include "app/batch.h"
#include "app/option_table.h"
#include "app/std_streams.h"
#include "platform/command_line.h"
#include "platform/failure.h"
#include "platform/heap.h"
#include "platform/std_files.h"
#include "platform/system_clock.h"
#include "platform/terminal_message_box.h"
#include "window/request.h"

namespace scrivane {
namespace {

// Checks that concern the run as a whole, once every argument is read.
void CheckRun(const Options& o, const std::set<std::string_view>& seen) {
  if (seen.contains("force") && seen.contains("no-clobber")) {
    throw UsageError(OptionNames(*FindLongOption("force")) + " and " +
                     OptionNames(*FindLongOption("no-clobber")) + " exclude each other");
  }
  if (o.inputs.empty()) throw UsageError("no input file");
  if (o.output && o.inputs.size() > 1) {
    throw UsageError(OptionNames(*FindLongOption("output")) + " needs exactly one input file");
  }
  if (o.inputs.size() > 1) {
    for (const std::string& input : o.inputs) {
      if (input == "-") throw UsageError("standard input (\"-\") can only be converted on its own");
    }
  }
}

// Reads the arguments into the options; throws UsageError for the first one
// that is not accepted.
void Parse(const std::vector<std::string>& args, Options& o) {
  std::set<std::string_view> seen;
  // Gives false when the run is decided and the rest need not be read.
  auto apply = [&](const OptionSpec& option, const std::string& value) {
    seen.insert(option.name);
    try {
      option.apply(value, o);
    } catch (const UsageError& e) {
      throw UsageError("--" + std::string(option.name) + ": " + e.what());
    }
    return !o.help && !o.version;
  };

  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-') {
      o.inputs.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg.starts_with("--")) {
      const std::size_t equals = arg.find('=');
      const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos
                                                                          : equals - 2);
      const OptionSpec* option = FindLongOption(name);
      if (option == nullptr) throw UsageError("unknown option '--" + name + "'");
      const bool takesValue = option->kind == ValueKind::Value;
      std::string value;
      if (equals != std::string::npos) {
        if (!takesValue) throw UsageError("--" + name + " takes no value");
        value = arg.substr(equals + 1);
      } else if (takesValue) {
        if (i + 1 == args.size()) throw UsageError("--" + name + " needs a value");
        value = args[++i];
      }
      if (!apply(*option, value)) return;
      continue;
    }
    // Short options, bundled (-fq); a value follows directly (-oout.pdf) or as the next argument.
    for (std::size_t k = 1; k < arg.size(); ++k) {
      const std::string shown = "-" + std::string(1, arg[k]);
      const OptionSpec* option = FindShortOption(arg[k]);
      if (option == nullptr) throw UsageError("unknown option '" + shown + "'");
      std::string value;
      if (option->kind == ValueKind::Value) {
        if (k + 1 < arg.size()) {
          value = arg.substr(k + 1);
        } else if (i + 1 < args.size()) {
          value = args[++i];
        } else {
          throw UsageError(shown + " needs a value");
        }
        k = arg.size();
      }
      if (!apply(*option, value)) return;
    }
  }
  CheckRun(o, seen);
}

// Help and version text is the whole result of its run, so output that cannot be
// written is reported and fails the run instead of passing for success.
int SayResult(OptionServices& sv, const std::string& text) {
  errno = 0;
  int error = 0;
  if (std::fputs(text.c_str(), sv.out) < 0) error = errno;
  if (std::fflush(sv.out) != 0 && error == 0) error = errno;
  if (error == 0 && std::ferror(sv.out) != 0) error = errno != 0 ? errno : EIO;
  if (error == 0) return kExitSuccess;
  Complain(sv.err, "cannot write standard output: " + platform::DescribeErrno(error));
  return kExitConversionFailed;
}

int UsageFailure(OptionServices& sv, const std::string& error) {
  Complain(sv.err, error);
  Say(sv.err, "Try 'scrivane --help' for more information.\n");
  return kExitUsage;
}

}  // namespace

ParsedOptions ParseOptions(const std::vector<std::string>& args) {
  ParsedOptions parsed;
  try {
    Parse(args, parsed.options);
  } catch (const UsageError& e) {
    parsed.error = e.what();
  }
  return parsed;
}

bool IsOptionMode(const std::vector<std::string>& args, platform::Files& files) {
  const std::string text = platform::ArgvCommandLine(args).argumentText();
  const auto size = files.size(StripEnclosingQuotes(text));
  if (size && *size > 0) return false;
  // Options may stand anywhere, before or after the files, as in GNU tools.
  for (const std::string& arg : args) {
    if (arg.starts_with("-")) return true;
  }
  return false;
}

bool IsOptionMode(const std::vector<std::string>& args) {
  platform::StdFiles files;
  return IsOptionMode(args, files);
}

int RunOptionMode(const std::vector<std::string>& args, OptionServices& sv) {
  const ParsedOptions parsed = ParseOptions(args);
  const Options& o = parsed.options;
  if (!parsed.error.empty()) return UsageFailure(sv, parsed.error);
  if (o.help) return SayResult(sv, HelpText());
  if (o.version) return SayResult(sv, std::string(kVersionText) + "\n");
  try {
    return RunBatch(o, sv);
  } catch (const UsageError& e) {
    return UsageFailure(sv, e.what());
  }
}

int RunOptionMode(const std::vector<std::string>& args) {
  platform::StdFiles files;
  platform::SystemClock clock;
  platform::TerminalMessageBox messages(stdin, stderr, true);
  OptionServices services{files,
                          messages,
                          clock,
                          stdin,
                          stdout,
                          stderr,
                          ::isatty(STDOUT_FILENO) != 0,
                          ::isatty(STDERR_FILENO) != 0,
                          platform::PrepareHeapForConversion};
  return RunOptionMode(args, services);
}

}  // namespace scrivane
