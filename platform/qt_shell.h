#pragma once

#include "platform/shell.h"

namespace scrivane::platform {

// Opens documents and links with the desktop's associated program. A name of
// an existing file is opened as that file (made absolute first); any other
// text is read as a link. Failures are silent.
class QtShell : public Shell {
 public:
  void open(const std::string& target) override;
};

}  // namespace scrivane::platform
