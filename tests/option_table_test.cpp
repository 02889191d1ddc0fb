// The option table against what is written about it: the help text, the man
// page's option list and the usage guide.

#include "app/option_table.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>

#include "app/options.h"
#include "tests/support/temp_dir.h"

namespace scrivane {
namespace {

using testing::ReadFile;

// Every option tag of the man page's option-mode section, long name to short
// name (0 when it has none), read from the line after each .TP or .TQ.
std::map<std::string, char> ManPageOptions() {
  std::istringstream man(ReadFile(SCRIVANE_SOURCE_DIR "/packaging/scrivane.1"));
  std::map<std::string, char> found;
  bool inSection = false;
  bool tagNext = false;
  const std::regex longName(R"(\\-\\-([a-z][a-z\\-]*))");
  const std::regex shortName(R"(^\.BR? \\-([a-zA-Z]) )");
  for (std::string line; std::getline(man, line);) {
    if (line.starts_with(".SH")) inSection = line == ".SH OPTION MODE";
    if (!inSection) continue;
    if (line == ".TP" || line == ".TQ") {
      tagNext = true;
      continue;
    }
    if (!tagNext) continue;
    tagNext = false;
    std::smatch m;
    if (!std::regex_search(line, m, longName)) continue;  // the bare "--"
    std::string name = std::regex_replace(m[1].str(), std::regex(R"(\\-)"), "-");
    std::smatch s;
    found[name] = std::regex_search(line, s, shortName) ? s[1].str()[0] : 0;
  }
  return found;
}

TEST(OptionTable, NamesAreUniqueAndFoundByBothNames) {
  std::map<std::string, int> longNames;
  std::map<char, int> shortNames;
  for (const OptionSpec& option : OptionTable()) {
    EXPECT_EQ(++longNames[option.name], 1) << option.name;
    EXPECT_EQ(FindLongOption(option.name), &option);
    if (option.shortName != 0) {
      EXPECT_EQ(++shortNames[option.shortName], 1) << option.shortName;
      EXPECT_EQ(FindShortOption(option.shortName), &option);
    }
    EXPECT_EQ(option.kind == ValueKind::Value, *option.valueName != '\0') << option.name;
  }
  EXPECT_EQ(FindLongOption("fon"), nullptr);
  EXPECT_EQ(FindShortOption('x'), nullptr);
}

TEST(OptionTable, TheHelpShowsEveryOptionWithItsValueAndText) {
  const std::string help = HelpText();
  for (const OptionSpec& option : OptionTable()) {
    std::string names = option.shortName != 0 ? "  -" + std::string(1, option.shortName) + ", " : "  ";
    names += "--" + std::string(option.name);
    if (option.kind == ValueKind::Value) names += " " + std::string(option.valueName);
    const std::string firstLine = std::string(option.help).substr(0, std::string(option.help).find('\n'));
    const std::size_t at = help.find("\n" + names + " ");
    ASSERT_NE(at, std::string::npos) << names;
    const std::size_t end = help.find('\n', at + 1);
    const std::string line = help.substr(at + 1, end - at - 1);
    EXPECT_EQ(line.substr(23), firstLine) << line;
    EXPECT_EQ(line.find_first_not_of(' ', names.size()), 23u) << line;
  }
  for (std::istringstream lines(help); !lines.eof();) {
    std::string line;
    std::getline(lines, line);
    EXPECT_LE(line.size(), 80u) << line;
  }
}

TEST(OptionTable, TheManPageListsExactlyTheTablesOptions) {
  const std::map<std::string, char> man = ManPageOptions();
  std::map<std::string, char> table;
  for (const OptionSpec& option : OptionTable()) table[option.name] = option.shortName;
  EXPECT_EQ(man, table);
}

TEST(OptionTable, TheUsageGuideNamesEveryOption) {
  const std::string usage = ReadFile(SCRIVANE_SOURCE_DIR "/docs/usage.md");
  for (const OptionSpec& option : OptionTable()) {
    EXPECT_NE(usage.find("`--" + std::string(option.name)), std::string::npos) << option.name;
    if (option.shortName != 0) {
      EXPECT_NE(usage.find("`-" + std::string(1, option.shortName) + "`"), std::string::npos)
          << option.shortName;
    }
  }
}

}  // namespace
}  // namespace scrivane
