#pragma once

// Option mode's standard streams: its messages on standard error, and standard
// input and output streamed through the writer, which reads and writes them as
// the descriptors they are: no copies, no temporary files.

#include <cstdio>
#include <memory>
#include <string>

#include "app/options.h"
#include "platform/files.h"
#include "platform/message_box.h"

namespace scrivane {

inline constexpr const char* kStdinName = "standard input";
inline constexpr const char* kStdoutName = "standard output";

// Writes a text to a stream at once.
void Say(std::FILE* stream, const std::string& text);
// Every failure and refusal of option mode is told this way: "scrivane: " and the message.
void Complain(std::FILE* err, const std::string& message);

// What one conversion reads and writes in place of "-": the descriptors of the
// services' standard input and output, named as /dev/fd/N, which the files seam
// reads and writes where they stand. Inputs and targets that are ordinary paths
// are used as they are.
class StandardStreams {
 public:
  // Reads the first part of standard input's first line when it is the input, so that an
  // empty one is found before anything is written.
  StandardStreams(const std::string& input, const std::string& target, OptionServices& sv);
  ~StandardStreams();
  StandardStreams(const StandardStreams&) = delete;
  StandardStreams& operator=(const StandardStreams&) = delete;

  const std::string& inputFile() const { return inputFile_; }
  const std::string& outputFile() const { return outputFile_; }
  // Standard input is the input and holds nothing.
  bool inputEmpty() const { return inputEmpty_; }
  // The files for the writer: the services' own, with standard input already opened.
  platform::Files& files() { return *files_; }
  // The services' message box, showing the descriptors under the names the user knows.
  platform::MessageBox& messages() { return *messages_; }

 private:
  OptionServices& sv_;
  std::string inputFile_;
  std::string outputFile_;
  bool inputEmpty_ = false;
  std::unique_ptr<platform::Files> files_;
  std::unique_ptr<platform::MessageBox> messages_;
};

}  // namespace scrivane
