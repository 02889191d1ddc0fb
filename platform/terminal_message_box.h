#pragma once

#include <cstdio>

#include "platform/message_box.h"

namespace scrivane::platform {

// Message boxes on a terminal, for runs without a display: the title and the
// text go to stderr; a Yes/No question is asked on the terminal when the input
// is one, otherwise the default button is taken and printed.
class TerminalMessageBox : public MessageBox {
 public:
  TerminalMessageBox(std::FILE* in = stdin, std::FILE* out = stderr, bool interactive = true);
  Answer show(const std::string& text, Buttons buttons, Icon icon, DefaultButton defaultButton,
              const std::string& title) override;

 private:
  std::FILE* in_;
  std::FILE* out_;
  bool interactive_;
};

}  // namespace scrivane::platform
