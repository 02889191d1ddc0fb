#pragma once

#include "platform/message_box.h"

namespace scrivane::platform {

// Message boxes as QMessageBox dialogs, modal over the whole application.
class QtMessageBox : public MessageBox {
 public:
  Answer show(const std::string& text, Buttons buttons, Icon icon, DefaultButton defaultButton,
              const std::string& title) override;
};

// The text as a box shows it: every carriage return (alone or before a line
// feed) starts a new line.
std::string ToDisplayLines(const std::string& text);

}  // namespace scrivane::platform
