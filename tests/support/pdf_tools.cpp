#include "tests/support/pdf_tools.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <sstream>

namespace scrivane::testing {

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

CommandResult RunCommand(const std::string& command) {
  CommandResult result;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  std::array<char, 4096> chunk;
  std::size_t n;
  while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) result.output.append(chunk.data(), n);
  const int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::vector<std::string> QpdfFindings(const std::string& pdf) {
  const CommandResult r = RunCommand("qpdf --check " + ShellQuote(pdf));
  std::vector<std::string> findings;
  std::istringstream lines(r.output);
  std::string line;
  while (std::getline(lines, line)) {
    const bool finding = line.find("WARNING") != std::string::npos ||
                         line.find("ERROR") != std::string::npos ||
                         line.find("error") != std::string::npos;
    if (finding && line.find("stream keyword followed by carriage return only") == std::string::npos) {
      findings.push_back(line);
    }
  }
  // 0 is clean, 3 is warnings only; anything else is a failure even without a line.
  if (r.status != 0 && r.status != 3) findings.push_back("qpdf exit status " + std::to_string(r.status) + ": " + r.output);
  return findings;
}

std::string PdfToText(const std::string& pdf) {
  // Long lines may run past the right edge of the page; read a crop box wider than any page.
  return RunCommand("pdftotext -enc UTF-8 -x 0 -y 0 -W 100000 -H 100000 " + ShellQuote(pdf) +
                    " - 2>/dev/null")
      .output;
}

std::vector<std::vector<std::string>> ShownStrings(const std::string& pdf) {
  std::vector<std::vector<std::string>> pages;
  std::size_t pos = 0;
  while ((pos = pdf.find("\rBT\r", pos)) != std::string::npos) {
    const std::size_t end = pdf.find("\rET\r", pos);
    pages.emplace_back();
    std::size_t line = pos;
    while ((line = pdf.find("\rT* (", line)) != std::string::npos && line < end) {
      const std::size_t close = pdf.find("\r\n) Tj\r", line);
      pages.back().push_back(pdf.substr(line + 5, close - line - 5));
      line = close;
    }
    pos = end;
  }
  return pages;
}

namespace {

// The number in attribute `name="..."` of an element, or -1 when it has none.
double Attribute(const std::string& element, const std::string& name) {
  const std::size_t at = element.find(" " + name + "=\"");
  if (at == std::string::npos) return -1;
  return std::stod(element.substr(at + name.size() + 3));
}

}  // namespace

std::vector<Page> Words(const std::string& pdf) {
  const std::string html = RunCommand("pdftotext -bbox " + ShellQuote(pdf) + " -").output;
  std::vector<Page> pages;
  std::istringstream lines(html);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("<page ") != std::string::npos) {
      pages.push_back({Attribute(line, "width"), Attribute(line, "height"), {}});
      continue;
    }
    const std::size_t open = line.find("<word ");
    const std::size_t text = line.find('>', open);
    const std::size_t close = line.find("</word>", text);
    if (open == std::string::npos || close == std::string::npos || pages.empty()) continue;
    pages.back().words.push_back({Attribute(line, "xMin"), Attribute(line, "yMin"), Attribute(line, "xMax"),
                                  line.substr(text + 1, close - text - 1)});
  }
  return pages;
}

}  // namespace scrivane::testing
