#pragma once

#include <string>
#include <vector>

namespace scrivane::platform {

// The program's arguments as one text: joined by single blanks, case kept.
class CommandLine {
 public:
  virtual ~CommandLine() = default;
  virtual std::string argumentText() = 0;
};

class ArgvCommandLine : public CommandLine {
 public:
  ArgvCommandLine(int argc, char** argv);
  explicit ArgvCommandLine(std::vector<std::string> args) : args_(std::move(args)) {}
  std::string argumentText() override;
  const std::vector<std::string>& arguments() const { return args_; }

 private:
  std::vector<std::string> args_;
};

}  // namespace scrivane::platform
