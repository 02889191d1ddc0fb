#include "platform/command_line.h"

namespace scrivane::platform {

ArgvCommandLine::ArgvCommandLine(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) args_.emplace_back(argv[i]);
}

std::string ArgvCommandLine::argumentText() {
  std::string text;
  for (std::size_t i = 0; i < args_.size(); ++i) {
    if (i > 0) text += ' ';
    text += args_[i];
  }
  return text;
}

}  // namespace scrivane::platform
