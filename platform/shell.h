#pragma once

#include <string>

namespace scrivane::platform {

// Hands a document or link to the program the desktop associates with it.
// The result is not examined by callers.
class Shell {
 public:
  virtual ~Shell() = default;
  virtual void open(const std::string& target) = 0;
};

}  // namespace scrivane::platform
