#include "app/std_streams.h"

#include <stdlib.h>

#include <cerrno>
#include <filesystem>

#include "platform/failure.h"

namespace scrivane {
namespace {

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

}  // namespace

void Say(std::FILE* stream, const std::string& text) {
  std::fputs(text.c_str(), stream);
  std::fflush(stream);
}

void Complain(std::FILE* err, const std::string& message) { Say(err, "scrivane: " + message + "\n"); }

StagedStreams::StagedStreams(const std::string& input, const std::string& target,
                             const OptionServices& sv)
    : sv_(sv), inputFile_(input), outputFile_(target) {
  std::vector<std::pair<std::string, std::string>> names;
  if (input == "-" || target == "-") {
    // A private folder, removed with its contents by the destructor.
    std::string pattern = sv.tempFolder + "/scrivane-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw platform::Failure("cannot make a temporary folder in '" + sv.tempFolder +
                              "': " + platform::DescribeErrno(errno));
    }
    folder_ = pattern;
  }
  try {
    if (input == "-") {
      inputFile_ = folder_ + "/input.txt";
      names.emplace_back(inputFile_, kStdinName);
      inputEmpty_ = CopyToFile(sv.in, inputFile_) == 0;
    }
    if (target == "-") {
      outputFile_ = folder_ + "/output.pdf";
      stagedOutput_ = true;
      names.emplace_back(outputFile_, kStdoutName);
    }
  } catch (...) {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
    throw;
  }
  messages_ = std::make_unique<RenamingMessageBox>(sv.messages, std::move(names));
}

StagedStreams::~StagedStreams() {
  if (folder_.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(folder_, ec);
}

void StagedStreams::deliver() {
  if (stagedOutput_) CopyFromFile(outputFile_, sv_.out);
}

}  // namespace scrivane
