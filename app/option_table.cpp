#include "app/option_table.h"

#include <optional>

#include "app/options.h"
#include "app/font_loader.h"

namespace scrivane {
namespace {

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

void ApplyFont(const std::string& value, Options& o) {
  // Any case is accepted, but viewers only know the standard fonts by their own spelling.
  const std::string lower = Lower(value);
  if (lower == "courier") {
    o.font = "Courier";
  } else if (lower == "times-roman") {
    o.font = "Times-Roman";
  } else if (lower == "arial") {
    o.font = "Arial";
  } else {
    throw UsageError("unknown font '" + value + "'; use Courier, Times-Roman or Arial");
  }
}

void ApplySize(const std::string& value, Options& o) {
  const auto points = WholeNumber(value);
  if (!points || *points < kMinFontSize || *points > kMaxFontSize) {
    throw UsageError("'" + value + "' is not accepted; use a whole number of points from " +
                     std::to_string(kMinFontSize) + " to " + std::to_string(kMaxFontSize));
  }
  o.size = static_cast<std::int16_t>(*points);
}

void ApplyRotate(const std::string& value, Options& o) {
  const auto degrees = WholeNumber(value);
  if (!degrees || (*degrees != 0 && *degrees != 90 && *degrees != 180 && *degrees != 270)) {
    throw UsageError("'" + value + "' is not accepted; use 0, 90, 180 or 270");
  }
  o.rotation = static_cast<std::int16_t>(*degrees);
}

void ApplyPage(const std::string& value, Options& o) {
  const auto page = ParsePageSize(value);
  if (!page) {
    throw UsageError("unknown page size '" + value +
                     "'; use letter, legal, ledger, a4, a5 or WxH in inches such as 8.27x11.69");
  }
  if (page->first < kMinPageInches || page->first > kMaxPageInches ||
      page->second < kMinPageInches || page->second > kMaxPageInches) {
    throw UsageError("'" + value + "' is out of range; each side must be from 3 to 45 inches");
  }
  o.pwidth = static_cast<float>(page->first);
  o.pheight = static_cast<float>(page->second);
}

void ApplyTabSize(const std::string& value, Options& o) {
  const auto columns = WholeNumber(value);
  if (!columns || *columns < kMinTabSize || *columns > kMaxTabSize) {
    throw UsageError("'" + value + "' is not accepted; use a whole number of columns from " +
                     std::to_string(kMinTabSize) + " to " + std::to_string(kMaxTabSize));
  }
  o.layout.tabSize = static_cast<int>(*columns);
}

void ApplyPreserve(const std::string&, Options& o) {
  o.layout.keepSpaces = true;
  o.layout.fit = true;
  // A tab size given with it wins, before or after.
  if (o.layout.tabSize == 0) o.layout.tabSize = kPreserveTabSize;
}

void ApplyFontFile(const std::string& value, Options& o) {
  if (value.empty()) throw UsageError("the path is empty");
  // Without the font module the file cannot be looked at here; the conversion
  // of text that would need it then says why it shows "?".
  std::string unavailable;
  if (FontModule* fonts = OpenFontModule(unavailable)) {
    try {
      fonts->checkFontFile(value);
    } catch (const std::exception& e) {
      throw UsageError(e.what());
    }
  }
  o.fontFile = value;
}

void ApplyOutput(const std::string& value, Options& o) {
  if (value.empty()) throw UsageError("the path is empty");
  o.output = value;
}

constexpr ValueKind kFlag = ValueKind::None;
constexpr ValueKind kValue = ValueKind::Value;

const OptionSpec kTable[] = {
    {"font", 0, kValue, "NAME", "Courier, Times-Roman (default) or Arial, in any case", ApplyFont},
    {"font-file", 0, kValue, "PATH",
     "a TrueType or OpenType font, tried first for the\n"
     "characters that Windows-1252 lacks",
     ApplyFontFile},
    {"size", 0, kValue, "POINTS", "font size, a whole number from 1 to 72 (default 10)",
     ApplySize},
    {"rotate", 0, kValue, "DEGREES", "page rotation: 0 (default), 90, 180 or 270", ApplyRotate},
    {"page", 0, kValue, "SIZE",
     "letter (8.5x11, default), legal (8.5x14), ledger\n"
     "(14x11), a4, a5, or WxH in inches such as 8.27x11.69;\n"
     "each side from 3 to 45 inches",
     ApplyPage},
    {"keep-spaces", 0, kFlag, "", "keep the blanks at the start and end of lines",
     [](const std::string&, Options& o) { o.layout.keepSpaces = true; }},
    {"tab-size", 0, kValue, "N", "tabs advance to every Nth column, N from 1 to 32",
     ApplyTabSize},
    {"fit", 0, kFlag, "", "cut lines by the font's real widths at the right\n"
                          "margin (50 points, as the left one)",
     [](const std::string&, Options& o) { o.layout.fit = true; }},
    {"preserve", 0, kFlag, "", "--keep-spaces --tab-size 8 --fit: for source code,\n"
                               "logs and anything indented",
     ApplyPreserve},
    {"title", 0, kValue, "TEXT", "document title (UTF-8)",
     [](const std::string& v, Options& o) { o.title = v; }},
    {"author", 0, kValue, "TEXT", "document author",
     [](const std::string& v, Options& o) { o.author = v; }},
    {"subject", 0, kValue, "TEXT", "document subject",
     [](const std::string& v, Options& o) { o.subject = v; }},
    {"keywords", 0, kValue, "TEXT", "document keywords",
     [](const std::string& v, Options& o) { o.keywords = v; }},
    {"creator", 0, kValue, "TEXT", "document creator (default \"Scrivane v" SCRIVANE_VERSION "\")",
     [](const std::string& v, Options& o) { o.creator = v; }},
    {"output", 'o', kValue, "PATH", "the PDF for a single FILE; \"-\" is standard output",
     ApplyOutput},
    {"force", 'f', kFlag, "", "replace existing PDF files without asking",
     [](const std::string&, Options& o) { o.overwrite = OverwritePolicy::Force; }},
    {"no-clobber", 'n', kFlag, "", "never replace an existing PDF file (that file fails)",
     [](const std::string&, Options& o) { o.overwrite = OverwritePolicy::Never; }},
    {"quiet", 'q', kFlag, "", "no progress lines",
     [](const std::string&, Options& o) { o.quiet = true; }},
    {"help", 'h', kFlag, "", "show this help and exit",
     [](const std::string&, Options& o) { o.help = true; }},
    {"version", 'V', kFlag, "", "show the version and exit",
     [](const std::string&, Options& o) { o.version = true; }},
};

// The help's option list: names and value in a column of this width, then the text.
constexpr std::size_t kHelpColumn = 23;

void AppendHelpEntry(std::string& out, const std::string& names, std::string_view help) {
  std::string line = "  " + names;
  line.resize(std::max(line.size() + 1, kHelpColumn), ' ');
  out += line;
  for (std::size_t start = 0;;) {
    const std::size_t end = help.find('\n', start);
    out.append(help.substr(start, end - start));
    out += '\n';
    if (end == std::string_view::npos) break;
    out.append(kHelpColumn, ' ');
    start = end + 1;
  }
}

}  // namespace

std::span<const OptionSpec> OptionTable() { return kTable; }

const OptionSpec* FindLongOption(std::string_view name) {
  for (const OptionSpec& o : kTable) {
    if (name == o.name) return &o;
  }
  return nullptr;
}

const OptionSpec* FindShortOption(char name) {
  for (const OptionSpec& o : kTable) {
    if (o.shortName != 0 && name == o.shortName) return &o;
  }
  return nullptr;
}

std::string OptionNames(const OptionSpec& option) {
  const std::string longName = "--" + std::string(option.name);
  if (option.shortName == 0) return longName;
  return "-" + std::string(1, option.shortName) + "/" + longName;
}

std::string HelpText() {
  std::string help =
      "Usage: scrivane [OPTIONS] FILE...\n"
      "       scrivane [FILE]\n"
      "Turns plain-text files into PDF files.\n"
      "\n"
      "With options (any argument begins with \"-\"; options and files may come in\n"
      "any order), each FILE is converted without a window into FILE's name with\n"
      "the extension .pdf. A FILE of \"-\"\n"
      "reads standard input and writes the PDF to standard output unless -o says\n"
      "otherwise. Without options, FILE converts with the default settings, and\n"
      "without FILE the window opens.\n"
      "\n";
  for (const OptionSpec& option : kTable) {
    std::string names;
    if (option.shortName != 0) names = "-" + std::string(1, option.shortName) + ", ";
    names += "--" + std::string(option.name);
    if (option.kind == ValueKind::Value) names += " " + std::string(option.valueName);
    AppendHelpEntry(help, names, option.help);
  }
  AppendHelpEntry(help, "--", "end of options: every later argument is a FILE");
  help +=
      "\n"
      "Without -f or -n, replacing an existing PDF is asked on the terminal; when\n"
      "standard input is not a terminal the answer is Yes.\n"
      "Exit status: 0 when every file converted, 1 when a conversion failed,\n"
      "2 for a usage error (then no file is touched).\n";
  return help;
}

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

}  // namespace scrivane
