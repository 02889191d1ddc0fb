#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/shell.h"

namespace scrivane::testing {

// Records every box shown and answers Yes/No questions from a script
// (the box's default button when the script is empty).
class FakeMessageBox : public platform::MessageBox {
 public:
  struct Shown {
    std::string text;
    platform::Buttons buttons;
    platform::Icon icon;
    platform::DefaultButton defaultButton;
    std::string title;
  };
  platform::Answer show(const std::string& text, platform::Buttons buttons, platform::Icon icon,
                        platform::DefaultButton defaultButton, const std::string& title) override;
  std::vector<std::string> texts() const;
  // Each box as a terminal shows one that names its file: "title: text".
  std::vector<std::string> titledTexts() const;

  std::deque<platform::Answer> answers;
  std::vector<Shown> shown;
};

// Always the same moment: 7 December 2026, 09:05:03.
class FixedClock : public platform::Clock {
 public:
  platform::LocalTime now() override { return time; }
  platform::LocalTime time{2026, 12, 7, 9, 5, 3};
};

class FakeShell : public platform::Shell {
 public:
  void open(const std::string& target) override { opened.push_back(target); }
  std::vector<std::string> opened;
};

}  // namespace scrivane::testing
