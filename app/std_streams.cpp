#include "app/std_streams.h"

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace scrivane {
namespace {

std::string DescriptorName(std::FILE* stream) { return "/dev/fd/" + std::to_string(::fileno(stream)); }

// Hands out the first part of a line already read, then the rest of the
// reader's lines, in parts as the reader gives them: a long line is never held
// whole here. The part's bytes stay where the reader put them until its next call.
class PeekedReader : public platform::LineReader {
 public:
  PeekedReader(std::unique_ptr<platform::LineReader> inner, std::string_view first, bool firstEnds)
      : inner_(std::move(inner)), first_(first), firstEnds_(firstEnds) {}
  bool next(std::string_view& line) override {
    if (!pending_) return inner_->next(line);
    pending_ = false;
    if (firstEnds_) {
      line = first_;
      return true;
    }
    carry_.assign(first_);
    std::string_view part;
    bool ends = false;
    while (!ends && inner_->nextPart(part, ends)) carry_.append(part);
    line = carry_;
    return true;
  }
  bool nextPart(std::string_view& part, bool& ends) override {
    if (!pending_) return inner_->nextPart(part, ends);
    pending_ = false;
    part = first_;
    ends = firstEnds_;
    return true;
  }
  // The reader is still in the line that the first part begins.
  bool scanLine(const std::function<void(std::string_view)>& block) override {
    return inner_->scanLine(block);
  }

 private:
  std::unique_ptr<platform::LineReader> inner_;
  std::string_view first_;
  bool firstEnds_;
  bool pending_ = true;
  std::string carry_;
};

// The services' files, with standard input opened once and read up to its first
// line; its size is not known, only that it holds something.
class StreamedFiles : public platform::Files {
 public:
  StreamedFiles(platform::Files& inner, std::string stdinName, std::unique_ptr<platform::LineReader> in)
      : inner_(inner), stdinName_(std::move(stdinName)), in_(std::move(in)) {}

  std::optional<std::uintmax_t> size(const std::string& path) override {
    if (path == stdinName_ && in_) return 1;
    return inner_.size(path);
  }
  bool isOrdinaryFile(const std::string& path) override { return inner_.isOrdinaryFile(path); }
  std::string whyNoText(const std::string& path) override { return inner_.whyNoText(path); }
  bool isTaken(const std::string& path) override { return inner_.isTaken(path); }
  bool isTerminal(const std::string& path) override { return inner_.isTerminal(path); }
  bool sameFile(const std::string& a, const std::string& b) override { return inner_.sameFile(a, b); }
  std::string identity(const std::string& path) override { return inner_.identity(path); }
  std::unique_ptr<platform::LineReader> openLines(const std::string& path) override {
    if (path == stdinName_ && in_) return std::move(in_);
    return inner_.openLines(path);
  }
  std::unique_ptr<platform::Output> createOutput(const std::string& path, const std::string& input) override {
    return inner_.createOutput(path, input);
  }

 private:
  platform::Files& inner_;
  std::string stdinName_;
  std::unique_ptr<platform::LineReader> in_;
};

// Shows the writer's messages with the descriptors named as the user knows them,
// in the texts and as the titles that name the file a message is about.
class RenamingMessageBox : public platform::MessageBox {
 public:
  RenamingMessageBox(platform::MessageBox& inner, std::vector<std::pair<std::string, std::string>> names)
      : inner_(inner), names_(std::move(names)) {}
  platform::Answer show(const std::string& text, platform::Buttons buttons, platform::Icon icon,
                        platform::DefaultButton defaultButton, const std::string& title) override {
    std::string shown = text;
    for (const auto& [from, to] : names_) {
      // Quoted, as every message names a file, so that /dev/fd/1 is not found in /dev/fd/10.
      const std::string quoted = "'" + from + "'";
      const std::string replacement = "'" + to + "'";
      for (std::size_t at = shown.find(quoted); at != std::string::npos;
           at = shown.find(quoted, at + replacement.size())) {
        shown.replace(at, quoted.size(), replacement);
      }
    }
    std::string shownTitle = title;
    for (const auto& [from, to] : names_) {
      if (title == from) shownTitle = to;
    }
    return inner_.show(shown, buttons, icon, defaultButton, shownTitle);
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

StandardStreams::StandardStreams(const std::string& input, const std::string& target, OptionServices& sv)
    : sv_(sv), inputFile_(input), outputFile_(target) {
  std::vector<std::pair<std::string, std::string>> names;
  std::unique_ptr<platform::LineReader> in;
  if (input == "-") {
    inputFile_ = DescriptorName(sv.in);
    names.emplace_back(inputFile_, kStdinName);
    in = sv.files.openLines(inputFile_);
    std::string_view first;
    bool firstEnds = false;
    if (in->nextPart(first, firstEnds)) {
      in = std::make_unique<PeekedReader>(std::move(in), first, firstEnds);
    } else {
      inputEmpty_ = true;
      in.reset();
    }
  }
  if (target == "-") {
    outputFile_ = DescriptorName(sv.out);
    names.emplace_back(outputFile_, kStdoutName);
    // What the stream holds already goes first.
    std::fflush(sv.out);
  }
  files_ = std::make_unique<StreamedFiles>(sv.files, inputFile_, std::move(in));
  messages_ = std::make_unique<RenamingMessageBox>(sv.messages, std::move(names));
}

StandardStreams::~StandardStreams() = default;

}  // namespace scrivane
