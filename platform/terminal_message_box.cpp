#include "platform/terminal_message_box.h"

#include <unistd.h>

#include <string>

namespace scrivane::platform {

TerminalMessageBox::TerminalMessageBox(std::FILE* in, std::FILE* out, bool interactive)
    : in_(in), out_(out), interactive_(interactive && ::isatty(::fileno(in)) != 0) {}

Answer TerminalMessageBox::show(const std::string& text, Buttons buttons, Icon,
                                DefaultButton defaultButton, const std::string& title) {
  std::string shown = text;
  for (char& c : shown) {
    if (c == '\r') c = '\n';
  }
  std::fprintf(out_, "%s: %s", title.c_str(), shown.c_str());
  if (buttons == Buttons::Ok) {
    std::fputc('\n', out_);
    std::fflush(out_);
    return Answer::Ok;
  }
  const bool yesByDefault = defaultButton == DefaultButton::First;
  std::fputs(yesByDefault ? " [Y/n] " : " [y/N] ", out_);
  std::fflush(out_);
  if (interactive_) {
    char reply[64];
    if (std::fgets(reply, sizeof reply, in_) != nullptr) {
      const char c = reply[0];
      if (c == 'y' || c == 'Y') return Answer::Yes;
      if (c == 'n' || c == 'N') return Answer::No;
      return yesByDefault ? Answer::Yes : Answer::No;
    }
  }
  std::fputs(yesByDefault ? "Yes\n" : "No\n", out_);
  std::fflush(out_);
  return yesByDefault ? Answer::Yes : Answer::No;
}

}  // namespace scrivane::platform
