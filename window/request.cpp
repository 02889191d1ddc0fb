#include "window/request.h"

#include <cmath>
#include <limits>

namespace scrivane {

using platform::Answer;
using platform::Buttons;
using platform::DefaultButton;
using platform::Icon;

double LeadingNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  const std::size_t start = i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  if (i + 1 < text.size() && text[i] == '.' && text[i + 1] >= '0' && text[i + 1] <= '9') {
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  }
  if (i == start) return 0;
  // Parse by hand so that the user's locale never changes the decimal separator.
  double value = 0;
  std::size_t j = start;
  for (; j < i && text[j] != '.'; ++j) value = value * 10 + (text[j] - '0');
  if (j < i) {
    double scale = 0.1;
    for (++j; j < i; ++j, scale /= 10) value += (text[j] - '0') * scale;
  }
  return value;
}

std::int16_t ToInt16(double value) {
  const double r = std::nearbyint(value);
  if (!(r >= std::numeric_limits<std::int16_t>::min())) return std::numeric_limits<std::int16_t>::min();
  if (r > std::numeric_limits<std::int16_t>::max()) return std::numeric_limits<std::int16_t>::max();
  return static_cast<std::int16_t>(r);
}

std::string DeriveOutputName(const std::string& input) {
  const std::size_t slash = input.find_last_of('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = input.find_last_of('.');
  if (dot != std::string::npos && dot > nameStart) return input.substr(0, dot) + ".pdf";
  return input + ".pdf";
}

std::string StripEnclosingQuotes(std::string text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
    text = text.substr(1, text.size() - 2);
  }
  return text;
}

int ExitStatus(RunEnd end) {
  return end == RunEnd::Closed || end == RunEnd::Converted ? 0 : 1;
}

RunEnd EndOf(const RequestOutcome& outcome) {
  if (outcome.refused) return RunEnd::Refused;
  return outcome.converted && outcome.succeeded ? RunEnd::Converted : RunEnd::Failed;
}

RequestFields CommandLineRequest(const std::string& cmdfile) {
  RequestFields fields;
  fields.filename = cmdfile;
  fields.outputfile = DeriveOutputName(cmdfile);
  fields.creator = platform::kWindowCaption;
  fields.font = kFontEntries[kDefaultFont];
  fields.fontSize = kFontSizeEntries[kDefaultFontSize];
  fields.rotation = kRotationEntries[kDefaultRotation];
  fields.pageSize = kPageSizeEntries[kDefaultPageSize];
  return fields;
}

RequestOutcome RunConversionRequest(const RequestFields& f, const std::string& cmdfile,
                                    RequestServices& sv) {
  RequestOutcome outcome;
  if (f.filename.empty()) {
    sv.messages.show("No Input File", Buttons::Ok, Icon::Critical, DefaultButton::First,
                     platform::kAppTitle);
    return outcome;
  }
  if (f.outputfile.empty()) {
    sv.messages.show("No Output File", Buttons::Ok, Icon::Critical, DefaultButton::First,
                     platform::kAppTitle);
    return outcome;
  }
  if (sv.files.isOrdinaryFile(f.outputfile) &&
      sv.messages.show(kOverwriteQuestion, Buttons::YesNo, Icon::Warning, DefaultButton::First,
                       f.caption) != Answer::Yes) {
    outcome.refused = true;
    return outcome;
  }

  const double width = LeadingNumber(f.pageSize);
  const std::string_view page = f.pageSize;
  const double height = LeadingNumber(page.size() >= 3 ? page.substr(page.size() - 3) : page);

  outcome.converted = true;
  outcome.succeeded = sv.writer.ConvertToPDF(
      f.filename, f.outputfile, f.author, f.creator, f.keywords, f.subject, f.title, f.font,
      ToInt16(LeadingNumber(f.fontSize)), ToInt16(LeadingNumber(f.rotation)),
      static_cast<float>(width), static_cast<float>(height));

  if (sv.writer.FileExists(cmdfile)) {
    outcome.closeWindow = true;
    return outcome;
  }
  // A failed conversion has already said why; never follow it with "done".
  if (outcome.succeeded &&
      sv.messages.show(kDoneQuestion, Buttons::YesNo, Icon::Question, DefaultButton::Second,
                       platform::kAppTitle) == Answer::Yes) {
    sv.shell.open(f.outputfile);
  }
  return outcome;
}

}  // namespace scrivane
