#pragma once

#include <memory>

class QApplication;

namespace scrivane::platform {

// Brings up Qt's application object on the first of PlatformsToTry() that
// works, and tells whether it draws on a display. QT_QPA_PLATFORM is set only
// while Qt starts: programs started later (the PDF viewer) see it as given.
struct QtDisplay {
  std::unique_ptr<QApplication> application;
  bool display = false;
};
QtDisplay StartQtDisplay(int& argc, char** argv);

}  // namespace scrivane::platform
