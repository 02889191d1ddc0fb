#pragma once

// Option mode: `scrivane [OPTIONS] FILE...`, the scriptable command line. It
// converts without a window, so it never needs a display.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "version.h"
#include "writer/writer.h"

namespace scrivane {

inline constexpr const char* kVersionText = "scrivane " SCRIVANE_VERSION;

// Exit statuses of option mode.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitConversionFailed = 1;
inline constexpr int kExitUsage = 2;

// The accepted ranges. Pages are limited to what PDF readers of the 1.2 era
// display (3 to 45 inches a side). Within them, a size of 1 to 72 points keeps
// the layout sane: at 72 points the smallest page still holds two lines of
// four characters, and at 1 point the widest page needs at most 7128
// characters a line, far below the 32767 that a wrapped line may have.
inline constexpr int kMinFontSize = 1;
inline constexpr int kMaxFontSize = 72;
inline constexpr double kMinPageInches = 3;
inline constexpr double kMaxPageInches = 45;
inline constexpr int kMinTabSize = 1;
inline constexpr int kMaxTabSize = 32;
// The tab size of --preserve, the one of terminals, editors and most source code.
inline constexpr int kPreserveTabSize = 8;

enum class OverwritePolicy { Ask, Force, Never };

// Everything the options of one run decide.
struct Options {
  std::string font = "Times-Roman";
  std::optional<std::string> fontFile;  // tried first for what Windows-1252 lacks
  std::int16_t size = 10;
  std::int16_t rotation = 0;
  float pwidth = 8.5f;   // inches
  float pheight = 11.0f;
  std::string title, author, subject, keywords;
  std::string creator = platform::kWindowCaption;
  std::optional<std::string> output;  // "-" is standard output
  std::vector<std::string> inputs;    // "-" is standard input
  // Option mode has no page limit; the rest of the layout is classic unless asked.
  LayoutSettings layout{.unlimitedPages = true};
  OverwritePolicy overwrite = OverwritePolicy::Ask;
  bool quiet = false;
  bool help = false;
  bool version = false;
};

// The options, or the description of the first usage error.
struct ParsedOptions {
  Options options;
  std::string error;  // empty when the arguments are valid
};

// Reads the arguments (without the program name) in GNU style: `--name VALUE`,
// `--name=VALUE`, bundled short flags, `--` ending the options. Stops at
// --help or --version, which win over what follows.
ParsedOptions ParseOptions(const std::vector<std::string>& args);

// Page size in inches from a name (letter, legal, ledger, a4, a5; any case) or
// from WxH in inches; nothing when the text is neither.
std::optional<std::pair<double, double>> ParsePageSize(const std::string& text);

// Whether the arguments ask for option mode: not when their whole text (joined
// by blanks, one enclosing pair of double quotes removed) names an existing,
// non-empty file, which converts as it always did; else when any argument
// begins with "-".
bool IsOptionMode(const std::vector<std::string>& args, platform::Files& files);
bool IsOptionMode(const std::vector<std::string>& args);

// What an option-mode run uses besides its arguments.
struct OptionServices {
  platform::Files& files;
  platform::MessageBox& messages;  // the overwrite question and the writer's failures
  platform::Clock& clock;
  std::FILE* in;   // standard input, read for the input "-"
  std::FILE* out;  // standard output: --help, --version and the PDF for "-o -"
  std::FILE* err;  // usage errors and progress
  bool outIsTerminal = false;
  bool errIsTerminal = false;
  // Readies the process's heap for large conversions of named files; none in tests.
  void (*prepareHeap)() = nullptr;
};

// Runs option mode and returns the exit status: 0 when every file converted,
// 1 when any conversion failed or was refused, 2 for a usage error (then no
// file is touched).
int RunOptionMode(const std::vector<std::string>& args, OptionServices& services);
// The same with the process's own files, clock, terminal and streams.
int RunOptionMode(const std::vector<std::string>& args);

}  // namespace scrivane
