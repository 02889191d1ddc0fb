#include "tests/support/fakes.h"

namespace scrivane::testing {

platform::Answer FakeMessageBox::show(const std::string& text, platform::Buttons buttons,
                                      platform::Icon icon, platform::DefaultButton defaultButton,
                                      const std::string& title) {
  shown.push_back({text, buttons, icon, defaultButton, title});
  if (buttons == platform::Buttons::Ok) return platform::Answer::Ok;
  if (!answers.empty()) {
    const platform::Answer a = answers.front();
    answers.pop_front();
    return a;
  }
  return defaultButton == platform::DefaultButton::First ? platform::Answer::Yes
                                                         : platform::Answer::No;
}

std::vector<std::string> FakeMessageBox::titledTexts() const {
  std::vector<std::string> result;
  for (const Shown& s : shown) result.push_back(s.title + ": " + s.text);
  return result;
}

std::vector<std::string> FakeMessageBox::texts() const {
  std::vector<std::string> out;
  for (const auto& s : shown) out.push_back(s.text);
  return out;
}

}  // namespace scrivane::testing
