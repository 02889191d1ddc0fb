#include "platform/terminal_message_box.h"

#include <unistd.h>

#include <string>

namespace scrivane::platform {
namespace {

// Reads one whole line of any length without its line end; false at end of input.
bool ReadLine(std::FILE* in, std::string& line) {
  line.clear();
  int c;
  while ((c = std::fgetc(in)) != EOF) {
    if (c == '\n') return true;
    line.push_back(static_cast<char>(c));
  }
  return !line.empty();
}

}  // namespace

TerminalMessageBox::TerminalMessageBox(std::FILE* in, std::FILE* out, bool interactive)
    : in_(in), out_(out), interactive_(interactive && ::isatty(::fileno(in)) != 0) {}

Answer TerminalMessageBox::show(const std::string& text, Buttons buttons, Icon,
                                DefaultButton defaultButton, const std::string& title) {
  std::string shown = text;
  for (char& c : shown) {
    if (c == '\r') c = '\n';
  }
  // Every message starts with the program's name; a title of the program's own
  // adds nothing to that, any other (the file a message is about) follows it.
  if (title == kAppTitle || title == kWindowCaption) {
    std::fprintf(out_, "scrivane: %s", shown.c_str());
  } else {
    std::fprintf(out_, "scrivane: %s: %s", title.c_str(), shown.c_str());
  }
  if (buttons == Buttons::Ok) {
    std::fputc('\n', out_);
    std::fflush(out_);
    return Answer::Ok;
  }
  const bool yesByDefault = defaultButton == DefaultButton::First;
  const Answer byDefault = yesByDefault ? Answer::Yes : Answer::No;
  std::fputs(yesByDefault ? " [Y/n] " : " [y/N] ", out_);
  std::fflush(out_);
  if (interactive_) {
    std::string reply;
    while (ReadLine(in_, reply)) {
      if (reply.empty()) return byDefault;
      const char c = reply[0];
      if (c == 'y' || c == 'Y') return Answer::Yes;
      if (c == 'n' || c == 'N') return Answer::No;
      // Anything else is asked again rather than read as the default.
      std::fputs(yesByDefault ? "Please answer y or n. [Y/n] " : "Please answer y or n. [y/N] ",
                 out_);
      std::fflush(out_);
    }
    // The terminal ended the input: the default is taken, and the user is told which.
    std::fputs(yesByDefault ? "\nYes (end of input)\n" : "\nNo (end of input)\n", out_);
    std::fflush(out_);
    return byDefault;
  }
  std::fputs(yesByDefault ? "Yes\n" : "No\n", out_);
  std::fflush(out_);
  return byDefault;
}

}  // namespace scrivane::platform
