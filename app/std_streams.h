#pragma once

// Option mode's standard streams: its messages on standard error, and the
// staging of standard input and output through files for the writer, which
// reads and writes files only.

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/options.h"
#include "platform/message_box.h"

namespace scrivane {

inline constexpr const char* kStdinName = "standard input";
inline constexpr const char* kStdoutName = "standard output";

// Writes a text to a stream at once.
void Say(std::FILE* stream, const std::string& text);
// Every failure and refusal of option mode is told this way: "scrivane: " and the message.
void Complain(std::FILE* err, const std::string& message);

// The files one conversion reads and writes in place of "-". Inputs and targets
// that are ordinary paths are used as they are; standard input is copied into a
// private folder first, and the PDF for standard output is written there and
// copied out by deliver(). The folder goes with the object.
class StagedStreams {
 public:
  // Throws platform::Failure when the folder or the copy of standard input cannot be made.
  StagedStreams(const std::string& input, const std::string& target, const OptionServices& sv);
  ~StagedStreams();
  StagedStreams(const StagedStreams&) = delete;
  StagedStreams& operator=(const StagedStreams&) = delete;

  const std::string& inputFile() const { return inputFile_; }
  const std::string& outputFile() const { return outputFile_; }
  // Standard input was read and held nothing.
  bool inputEmpty() const { return inputEmpty_; }
  // The services' message box, showing the staged files under the names the user knows.
  platform::MessageBox& messages() { return *messages_; }
  // Copies a staged PDF to standard output; throws platform::Failure when it cannot be written.
  void deliver();

 private:
  const OptionServices& sv_;
  std::string folder_;  // empty when nothing is staged
  std::string inputFile_;
  std::string outputFile_;
  bool stagedOutput_ = false;
  bool inputEmpty_ = false;
  std::unique_ptr<platform::MessageBox> messages_;
};

}  // namespace scrivane
