#pragma once

#include <cstdio>

#include "platform/message_box.h"

namespace scrivane::platform {

// Message boxes on a terminal, for runs without a display: "scrivane: " and the
// text go to stderr, with the title between them when it is not one of the
// program's own (kAppTitle, kWindowCaption); a Yes/No question is asked on the terminal when the input
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
