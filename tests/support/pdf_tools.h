#pragma once

#include <string>
#include <vector>

namespace scrivane::testing {

// Runs a command through the shell and returns its exit status and output (stdout and stderr).
struct CommandResult {
  int status = -1;
  std::string output;
};
CommandResult RunCommand(const std::string& command);
std::string ShellQuote(const std::string& text);

// qpdf --check on a file: the findings it printed, apart from the one warning our
// carriage-return line framing always causes. Empty means the file is sound.
std::vector<std::string> QpdfFindings(const std::string& pdf);
// The text pdftotext reads back from a file, page breaks as form feeds, including
// text that runs past the page's right edge.
std::string PdfToText(const std::string& pdf);

// The text lines of every page of one of our PDFs, as written between "T* (" and
// the CR LF before ") Tj" (still escaped).
std::vector<std::vector<std::string>> ShownStrings(const std::string& pdf);

// The words of every page, as pdftotext -bbox places them (points from the
// top left corner).
struct Word {
  double xMin, yMin, xMax;
  std::string text;
};
struct Page {
  double width = 0, height = 0;
  std::vector<Word> words;
};
std::vector<Page> Words(const std::string& pdf);

}  // namespace scrivane::testing
