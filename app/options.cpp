#include "app/options.h"

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <string_view>
#include <utility>

#include "platform/command_line.h"
#include "platform/failure.h"
#include "platform/std_files.h"
#include "platform/system_clock.h"
#include "platform/terminal_message_box.h"
#include "window/request.h"
#include "writer/writer.h"

namespace scrivane {
namespace {

constexpr const char* kStdinName = "standard input";
constexpr const char* kStdoutName = "standard output";

constexpr const char* kHelp =
    "Usage: scrivane [OPTIONS] FILE...\n"
    "       scrivane [FILE]\n"
    "Turns plain-text files into PDF files.\n"
    "\n"
    "With options (the first argument begins with \"-\"), each FILE is converted\n"
    "without a window into FILE's name with the extension .pdf. A FILE of \"-\"\n"
    "reads standard input and writes the PDF to standard output unless -o says\n"
    "otherwise. Without options, FILE converts with the default settings, and\n"
    "without FILE the window opens.\n"
    "\n"
    "  --font NAME          Courier, Times-Roman (default) or Arial, in any case\n"
    "  --size POINTS        font size, a whole number from 1 to 72 (default 10)\n"
    "  --rotate DEGREES     page rotation: 0 (default), 90, 180 or 270\n"
    "  --page SIZE          letter (8.5x11, default), legal (8.5x14), ledger\n"
    "                       (14x11), a4, a5, or WxH in inches such as 8.27x11.69;\n"
    "                       each side from 3 to 45 inches\n"
    "  --title TEXT         document title (UTF-8)\n"
    "  --author TEXT        document author\n"
    "  --subject TEXT       document subject\n"
    "  --keywords TEXT      document keywords\n"
    "  --creator TEXT       document creator (default \"Scrivane v" SCRIVANE_VERSION "\")\n"
    "  -o, --output PATH    the PDF for a single FILE; \"-\" is standard output\n"
    "  -f, --force          replace existing PDF files without asking\n"
    "  -n, --no-clobber     never replace an existing PDF file (that file fails)\n"
    "  -q, --quiet          no progress lines\n"
    "  -h, --help           show this help and exit\n"
    "  -V, --version        show the version and exit\n"
    "  --                   end of options: every later argument is a FILE\n"
    "\n"
    "Without -f or -n, replacing an existing PDF is asked on the terminal; when\n"
    "standard input is not a terminal the answer is Yes.\n"
    "Exit status: 0 when every file converted, 1 when a conversion failed,\n"
    "2 for a usage error (then no file is touched).\n";

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// A whole decimal number of digits only; nothing for any other text or when
// it is too long to mean anything here.
std::optional<long> WholeNumber(std::string_view text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

// A decimal number such as 8, 8.5 or .5, parsed without the locale. Any number
// of digits is read: a value too large to mean anything ends as infinity, which
// the range check then refuses in words.
std::optional<double> DecimalNumber(std::string_view text) {
  const std::size_t dot = text.find('.');
  const std::string_view whole = text.substr(0, dot);
  const std::string_view fraction =
      dot == std::string_view::npos ? std::string_view{} : text.substr(dot + 1);
  if (whole.empty() && fraction.empty()) return std::nullopt;
  double value = 0;
  for (char c : whole) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  double scale = 0.1;
  for (char c : fraction) {
    if (c < '0' || c > '9') return std::nullopt;
    value += (c - '0') * scale;
    scale /= 10;
  }
  return value;
}

struct LongOption {
  const char* name;
  char shortName;  // 0 when there is none
  bool takesValue;
};

constexpr LongOption kOptions[] = {
    {"font", 0, true},     {"size", 0, true},       {"rotate", 0, true},
    {"page", 0, true},     {"title", 0, true},      {"author", 0, true},
    {"subject", 0, true},  {"keywords", 0, true},   {"creator", 0, true},
    {"output", 'o', true}, {"force", 'f', false},   {"no-clobber", 'n', false},
    {"quiet", 'q', false}, {"help", 'h', false},    {"version", 'V', false},
};

const LongOption* FindLong(std::string_view name) {
  for (const LongOption& o : kOptions) {
    if (name == o.name) return &o;
  }
  return nullptr;
}

const LongOption* FindShort(char name) {
  for (const LongOption& o : kOptions) {
    if (o.shortName != 0 && name == o.shortName) return &o;
  }
  return nullptr;
}

// Stores one option's value; gives the usage error, or the empty text.
std::string Apply(const LongOption& option, const std::string& value, Options& o) {
  const std::string_view name = option.name;
  const std::string shown = "--" + std::string(name);
  if (name == "font") {
    // Any case is accepted, but viewers only know the standard fonts by their own spelling.
    const std::string lower = Lower(value);
    if (lower == "courier") {
      o.font = "Courier";
    } else if (lower == "times-roman") {
      o.font = "Times-Roman";
    } else if (lower == "arial") {
      o.font = "Arial";
    } else {
      return shown + ": unknown font '" + value + "'; use Courier, Times-Roman or Arial";
    }
  } else if (name == "size") {
    const auto points = WholeNumber(value);
    if (!points || *points < kMinFontSize || *points > kMaxFontSize) {
      return shown + ": '" + value + "' is not accepted; use a whole number of points from " +
             std::to_string(kMinFontSize) + " to " + std::to_string(kMaxFontSize);
    }
    o.size = static_cast<std::int16_t>(*points);
  } else if (name == "rotate") {
    const auto degrees = WholeNumber(value);
    if (!degrees || (*degrees != 0 && *degrees != 90 && *degrees != 180 && *degrees != 270)) {
      return shown + ": '" + value + "' is not accepted; use 0, 90, 180 or 270";
    }
    o.rotation = static_cast<std::int16_t>(*degrees);
  } else if (name == "page") {
    const auto page = ParsePageSize(value);
    if (!page) {
      return shown + ": unknown page size '" + value +
             "'; use letter, legal, ledger, a4, a5 or WxH in inches such as 8.27x11.69";
    }
    if (page->first < kMinPageInches || page->first > kMaxPageInches ||
        page->second < kMinPageInches || page->second > kMaxPageInches) {
      return shown + ": '" + value + "' is out of range; each side must be from 3 to 45 inches";
    }
    o.pwidth = static_cast<float>(page->first);
    o.pheight = static_cast<float>(page->second);
  } else if (name == "title") {
    o.title = value;
  } else if (name == "author") {
    o.author = value;
  } else if (name == "subject") {
    o.subject = value;
  } else if (name == "keywords") {
    o.keywords = value;
  } else if (name == "creator") {
    o.creator = value;
  } else if (name == "output") {
    if (value.empty()) return shown + ": the path is empty";
    o.output = value;
  } else if (name == "force") {
    o.overwrite = OverwritePolicy::Force;
  } else if (name == "no-clobber") {
    o.overwrite = OverwritePolicy::Never;
  } else if (name == "quiet") {
    o.quiet = true;
  } else if (name == "help") {
    o.help = true;
  } else if (name == "version") {
    o.version = true;
  }
  return {};
}

// Checks that concern the run as a whole, once every argument is read.
std::string CheckRun(const Options& o, bool forceSeen, bool noClobberSeen) {
  if (forceSeen && noClobberSeen) return "-f/--force and -n/--no-clobber exclude each other";
  if (o.inputs.empty()) return "no input file";
  if (o.output && o.inputs.size() > 1) return "-o/--output needs exactly one input file";
  if (o.inputs.size() > 1) {
    for (const std::string& input : o.inputs) {
      if (input == "-") return "standard input (\"-\") can only be converted on its own";
    }
  }
  return {};
}

}  // namespace

std::optional<std::pair<double, double>> ParsePageSize(const std::string& text) {
  const std::string name = Lower(text);
  if (name == "letter") return std::pair{8.5, 11.0};
  if (name == "legal") return std::pair{8.5, 14.0};
  if (name == "ledger") return std::pair{14.0, 11.0};
  // ISO sizes from their millimetres, so that they round to 595 x 842 and 420 x 595 points.
  if (name == "a4") return std::pair{210 / 25.4, 297 / 25.4};
  if (name == "a5") return std::pair{148 / 25.4, 210 / 25.4};
  const std::size_t x = name.find('x');
  if (x == std::string::npos) return std::nullopt;
  const auto width = DecimalNumber(std::string_view(name).substr(0, x));
  const auto height = DecimalNumber(std::string_view(name).substr(x + 1));
  if (!width || !height) return std::nullopt;
  return std::pair{*width, *height};
}

ParsedOptions ParseOptions(const std::vector<std::string>& args) {
  ParsedOptions parsed;
  Options& o = parsed.options;
  bool forceSeen = false;
  bool noClobberSeen = false;
  auto apply = [&](const LongOption& option, const std::string& value) {
    if (option.shortName == 'f') forceSeen = true;
    if (option.shortName == 'n') noClobberSeen = true;
    parsed.error = Apply(option, value, o);
    return parsed.error.empty() && !o.help && !o.version;
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
      const LongOption* option = FindLong(name);
      if (option == nullptr) {
        parsed.error = "unknown option '--" + name + "'";
        return parsed;
      }
      std::string value;
      if (equals != std::string::npos) {
        if (!option->takesValue) {
          parsed.error = "--" + name + " takes no value";
          return parsed;
        }
        value = arg.substr(equals + 1);
      } else if (option->takesValue) {
        if (i + 1 == args.size()) {
          parsed.error = "--" + name + " needs a value";
          return parsed;
        }
        value = args[++i];
      }
      if (!apply(*option, value)) return parsed;
      continue;
    }
    // Short options, bundled (-fq); a value follows directly (-oout.pdf) or as the next argument.
    for (std::size_t k = 1; k < arg.size(); ++k) {
      const LongOption* option = FindShort(arg[k]);
      if (option == nullptr) {
        parsed.error = "unknown option '-" + std::string(1, arg[k]) + "'";
        return parsed;
      }
      std::string value;
      if (option->takesValue) {
        if (k + 1 < arg.size()) {
          value = arg.substr(k + 1);
        } else if (i + 1 < args.size()) {
          value = args[++i];
        } else {
          parsed.error = "-" + std::string(1, arg[k]) + " needs a value";
          return parsed;
        }
        k = arg.size();
      }
      if (!apply(*option, value)) return parsed;
    }
  }
  parsed.error = CheckRun(o, forceSeen, noClobberSeen);
  return parsed;
}

bool IsOptionMode(const std::vector<std::string>& args, platform::Files& files) {
  const std::string text = platform::ArgvCommandLine(args).argumentText();
  const auto size = files.size(StripEnclosingQuotes(text));
  if (size && *size > 0) return false;
  return !args.empty() && args.front().starts_with("-");
}

bool IsOptionMode(const std::vector<std::string>& args) {
  platform::StdFiles files;
  return IsOptionMode(args, files);
}

namespace {

// A private folder for staging standard input and output, removed with its contents.
class StagingFolder {
 public:
  explicit StagingFolder(const std::string& parent) {
    std::string pattern = parent + "/scrivane-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw platform::Failure("cannot make a temporary folder in '" + parent +
                              "': " + platform::DescribeErrno(errno));
    }
    path_ = pattern;
  }
  ~StagingFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  StagingFolder(const StagingFolder&) = delete;
  StagingFolder& operator=(const StagingFolder&) = delete;

  std::string file(const char* name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Copies a stream into a new file; gives the number of bytes copied.
std::size_t CopyToFile(std::FILE* from, const std::string& path) {
  std::FILE* to = std::fopen(path.c_str(), "wb");
  if (to == nullptr) {
    throw platform::Failure("cannot write '" + path + "': " + platform::DescribeErrno(errno));
  }
  char chunk[1 << 16];
  std::size_t total = 0;
  std::size_t n;
  int writeError = 0;
  while ((n = std::fread(chunk, 1, sizeof chunk, from)) > 0) {
    if (writeError == 0 && std::fwrite(chunk, 1, n, to) != n) writeError = errno;
    total += n;
  }
  const int readError = std::ferror(from) != 0 ? errno : 0;
  if (std::fclose(to) != 0 && writeError == 0) writeError = errno;
  if (readError != 0) {
    throw platform::Failure("cannot read standard input: " + platform::DescribeErrno(readError));
  }
  if (writeError != 0) {
    throw platform::Failure("cannot stage standard input: " + platform::DescribeErrno(writeError));
  }
  return total;
}

void CopyFromFile(const std::string& path, std::FILE* to) {
  std::FILE* from = std::fopen(path.c_str(), "rb");
  if (from == nullptr) return;  // the conversion failed before writing anything
  char chunk[1 << 16];
  std::size_t n;
  int error = 0;
  while (error == 0 && (n = std::fread(chunk, 1, sizeof chunk, from)) > 0) {
    if (std::fwrite(chunk, 1, n, to) != n) error = errno;
  }
  std::fclose(from);
  if (error == 0 && std::fflush(to) != 0) error = errno;
  if (error != 0) {
    throw platform::Failure("cannot write standard output: " + platform::DescribeErrno(error));
  }
}

// Shows the writer's messages with the staging files named as the user knows them.
class RenamingMessageBox : public platform::MessageBox {
 public:
  RenamingMessageBox(platform::MessageBox& inner, std::vector<std::pair<std::string, std::string>> names)
      : inner_(inner), names_(std::move(names)) {}
  platform::Answer show(const std::string& text, platform::Buttons buttons, platform::Icon icon,
                        platform::DefaultButton defaultButton, const std::string& title) override {
    std::string shown = text;
    for (const auto& [from, to] : names_) {
      for (std::size_t at = shown.find(from); at != std::string::npos;
           at = shown.find(from, at + to.size())) {
        shown.replace(at, from.size(), to);
      }
    }
    return inner_.show(shown, buttons, icon, defaultButton, title);
  }

 private:
  platform::MessageBox& inner_;
  std::vector<std::pair<std::string, std::string>> names_;
};

void Say(std::FILE* stream, const std::string& text) {
  std::fputs(text.c_str(), stream);
  std::fflush(stream);
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
  Say(sv.err, "scrivane: cannot write standard output: " + platform::DescribeErrno(error) + "\n");
  return kExitConversionFailed;
}

int UsageError(OptionServices& sv, const std::string& error) {
  Say(sv.err, "scrivane: " + error + "\nTry 'scrivane --help' for more information.\n");
  return kExitUsage;
}

// Converts one input into its target ("-" on either side is a standard stream);
// true when the conversion was clean.
bool ConvertOne(const Options& o, const std::string& input, const std::string& target,
                OptionServices& sv) {
  if (target != "-" && sv.files.isOrdinaryFile(target)) {
    if (o.overwrite == OverwritePolicy::Never) {
      Say(sv.err, "scrivane: '" + target + "' already exists; not replaced (--no-clobber)\n");
      return false;
    }
    // Asked before standard input is read, so the terminal can still answer.
    if (o.overwrite == OverwritePolicy::Ask &&
        sv.messages.show(kOverwriteQuestion, platform::Buttons::YesNo, platform::Icon::Warning,
                         platform::DefaultButton::First, target) != platform::Answer::Yes) {
      return false;
    }
  }

  std::optional<StagingFolder> staging;
  std::vector<std::pair<std::string, std::string>> names;
  std::string filename = input;
  std::string outputfile = target;
  try {
    if (input == "-" || target == "-") staging.emplace(sv.tempFolder);
    if (input == "-") {
      filename = staging->file("input.txt");
      names.emplace_back(filename, kStdinName);
      if (CopyToFile(sv.in, filename) == 0) {
        Say(sv.err, "scrivane: standard input is empty; nothing to convert\n");
        return false;
      }
    }
    if (target == "-") {
      outputfile = staging->file("output.pdf");
      names.emplace_back(outputfile, kStdoutName);
    }
  } catch (const platform::Failure& e) {
    Say(sv.err, std::string("scrivane: ") + e.what() + "\n");
    return false;
  }

  RenamingMessageBox messages(sv.messages, names);
  PdfWriter writer(sv.files, messages, sv.clock);
  bool clean = writer.ConvertToPDF(filename, outputfile, o.author, o.creator, o.keywords,
                                   o.subject, o.title, o.font, o.size, o.rotation, o.pwidth,
                                   o.pheight);
  if (target == "-") {
    try {
      CopyFromFile(outputfile, sv.out);
    } catch (const platform::Failure& e) {
      Say(sv.err, std::string("scrivane: ") + e.what() + "\n");
      clean = false;
    }
  }
  return clean;
}

// Where each input goes: -o, standard output for standard input, else the derived name.
std::vector<std::string> Targets(const Options& o) {
  std::vector<std::string> targets;
  for (const std::string& input : o.inputs) {
    if (o.output) {
      targets.push_back(*o.output);
    } else if (input == "-") {
      targets.push_back("-");
    } else {
      targets.push_back(DeriveOutputName(input));
    }
  }
  return targets;
}

// Two inputs of a batch that would write the same PDF (notes.txt and notes.text).
std::string SharedTarget(const Options& o, const std::vector<std::string>& targets) {
  std::set<std::filesystem::path> seen;
  for (std::size_t i = 0; i < targets.size(); ++i) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(targets[i], ec);
    if (ec) p = targets[i];
    if (!seen.insert(p.lexically_normal()).second) {
      return "two inputs would both be written to '" + targets[i] + "' ('" + o.inputs[i] +
             "' is one); convert them in separate runs";
    }
  }
  return {};
}

}  // namespace

int RunOptionMode(const std::vector<std::string>& args, OptionServices& sv) {
  const ParsedOptions parsed = ParseOptions(args);
  const Options& o = parsed.options;
  if (!parsed.error.empty()) return UsageError(sv, parsed.error);
  if (o.help) return SayResult(sv, kHelp);
  if (o.version) return SayResult(sv, std::string(kVersionText) + "\n");

  const std::vector<std::string> targets = Targets(o);
  if (const std::string shared = SharedTarget(o, targets); !shared.empty()) {
    return UsageError(sv, shared);
  }
  if (sv.outIsTerminal) {
    for (const std::string& target : targets) {
      if (target == "-") {
        return UsageError(sv,
                          "will not write a PDF to a terminal; give -o PATH or redirect "
                          "standard output");
      }
    }
  }

  int failures = 0;
  const std::size_t count = o.inputs.size();
  for (std::size_t i = 0; i < count; ++i) {
    if (sv.errIsTerminal && !o.quiet) {
      const std::string shown = o.inputs[i] == "-" ? kStdinName : o.inputs[i];
      Say(sv.err, "converting " + shown + " (" + std::to_string(i + 1) + "/" +
                      std::to_string(count) + ")\n");
    }
    if (!ConvertOne(o, o.inputs[i], targets[i], sv)) ++failures;
  }
  return failures == 0 ? kExitSuccess : kExitConversionFailed;
}

int RunOptionMode(const std::vector<std::string>& args) {
  platform::StdFiles files;
  platform::SystemClock clock;
  platform::TerminalMessageBox messages(stdin, stderr, true);
  const char* tmp = std::getenv("TMPDIR");
  OptionServices services{files,
                          messages,
                          clock,
                          stdin,
                          stdout,
                          stderr,
                          ::isatty(STDOUT_FILENO) != 0,
                          ::isatty(STDERR_FILENO) != 0,
                          tmp != nullptr && *tmp != '\0' ? tmp : "/tmp"};
  return RunOptionMode(args, services);
}

}  // namespace scrivane
