#pragma once

#include <string>

#include "version.h"

namespace scrivane::platform {

inline constexpr const char* kAppTitle = "Scrivane";
inline constexpr const char* kWindowCaption = "Scrivane v" SCRIVANE_VERSION;

enum class Buttons { Ok, YesNo };
enum class Icon { None, Critical, Warning, Question };
enum class DefaultButton { First, Second };
enum class Answer { Ok, Yes, No };

// A modal message box. The text may hold carriage returns; each starts a new line.
class MessageBox {
 public:
  virtual ~MessageBox() = default;
  virtual Answer show(const std::string& text, Buttons buttons, Icon icon,
                      DefaultButton defaultButton, const std::string& title) = 0;

  // The writer's failure report: the description alone, OK, no icon, the application title.
  void report(const std::string& description) {
    show(description, Buttons::Ok, Icon::None, DefaultButton::First, kAppTitle);
  }
};

}  // namespace scrivane::platform
