#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/shell.h"
#include "writer/writer.h"

namespace scrivane {

// The texts of the window's controls that a conversion request reads, as they stand.
struct RequestFields {
  std::string filename;    // txtFilename
  std::string outputfile;  // txtOutputFile
  std::string author, creator, keywords, subject, title;
  std::string font;        // cmbFont entry
  std::string fontSize;    // cmbFontSize entry, "10pt"
  std::string rotation;    // cmbRotation entry, "90º"
  std::string pageSize;    // cmbPageSize entry, 8.5" x 11"
  std::string caption = platform::kWindowCaption;  // title of the overwrite question
};

struct RequestOutcome {
  bool refused = false;      // the overwrite question was answered No
  bool converted = false;    // ConvertToPDF ran
  bool succeeded = false;    // ... and reported no failure
  bool closeWindow = false;  // a command-line run is over: the window must be unloaded
};

// How a run of the program ended: the window closed by its user, or a
// conversion named on the command line that converted, failed or was refused.
enum class RunEnd { Closed, Converted, Failed, Refused };

// The exit status of a run that ended so: closing the window is no failure.
int ExitStatus(RunEnd end);

// The end of a command-line run that this request outcome closes.
RunEnd EndOf(const RequestOutcome& outcome);

// The entries of the four lists, and the ones selected at start-up.
inline constexpr const char* kFontEntries[] = {"Courier", "Times-Roman", "Arial"};
inline constexpr const char* kFontSizeEntries[] = {"8pt",  "10pt", "12pt", "14pt",
                                                   "16pt", "18pt", "20pt"};
inline constexpr const char* kRotationEntries[] = {"0\u00BA", "90\u00BA", "180\u00BA",
                                                   "270\u00BA"};
inline constexpr const char* kPageSizeEntries[] = {"8.5\" x 11\"", "8.5\" x 14\"", "14\" x 11\""};
inline constexpr int kDefaultFont = 1;
inline constexpr int kDefaultFontSize = 1;
inline constexpr int kDefaultRotation = 0;
inline constexpr int kDefaultPageSize = 0;

// A request with the start-up settings for an input named on the command line.
RequestFields CommandLineRequest(const std::string& cmdfile);

// The services a conversion request uses.
struct RequestServices {
  platform::MessageBox& messages;
  platform::Files& files;
  platform::Shell& shell;
  PdfWriter& writer;
};

inline constexpr const char* kOverwriteQuestion =
    "Output File Already Exist. Do you want To OVERWRITE It?";
inline constexpr const char* kDoneQuestion =
    "PDF file is done.\r\rDo you want to open the generated PDF file?";

// The conversion request behind "Produce PDF": checks both names, asks before an
// existing output is replaced, converts, then either ends a command-line run or
// offers to open the result (only after a clean conversion).
RequestOutcome RunConversionRequest(const RequestFields& fields, const std::string& cmdfile,
                                    RequestServices& services);

// Leading decimal number of a text after leading blanks ("10pt" 10, "8.5\" x" 8.5); 0 if none.
double LeadingNumber(std::string_view text);
// Half-to-even rounding into 16 bits (saturating at the ends of the range).
std::int16_t ToInt16(double value);

// The output name for an input: the extension of the last path component (from
// its last ".", when that is not its first character) becomes ".pdf", or ".pdf"
// is appended.
std::string DeriveOutputName(const std::string& input);

// Removes one enclosing pair of double quotes, if the text has one.
std::string StripEnclosingQuotes(std::string text);

}  // namespace scrivane
