// The window module as the program opens it: loaded at run time, its window
// started on the offscreen display, shown, and closed again.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include "platform/command_line.h"
#include "platform/message_box.h"
#include "window/start.h"

namespace scrivane {
namespace {

TEST(WindowModuleTest, TheLoadedModuleShowsTheWindowAndEndsWhenItCloses) {
  std::string error;
  // A module built for another interface refuses instead of misbehaving.
  EXPECT_EQ(OpenWindowModule(SCRIVANE_WINDOW_MODULE_FILE, error, kWindowModuleInterface + 1), nullptr);
  EXPECT_NE(error.find("another version"), std::string::npos) << error;
  std::unique_ptr<WindowModule> module = OpenWindowModule(SCRIVANE_WINDOW_MODULE_FILE, error);
  ASSERT_NE(module, nullptr) << error;

  static char name[] = "scrivane";
  static char* argv[] = {name, nullptr};
  static int argc = 1;
  // The offscreen platform draws nowhere, so the module reports no display,
  // and the program would keep its messages on the terminal; the toolkit runs
  // the window there all the same, which is all this test needs.
  EXPECT_FALSE(module->startDisplay(argc, argv));
  ASSERT_NE(QApplication::instance(), nullptr);

  // Once the event loop runs, close whatever the module has shown; a window
  // that never shows ends the loop after a while instead of hanging.
  QString shownTitle;
  bool timedOut = false;
  QTimer::singleShot(0, [&] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (widget->isVisible() && widget->width() > 100) {
        shownTitle = widget->windowTitle();
        widget->close();
      }
    }
  });
  QTimer::singleShot(20000, [&] {
    timedOut = true;
    QCoreApplication::exit(0);
  });
  platform::ArgvCommandLine commandLine(std::vector<std::string>{"scrivane"});
  EXPECT_EQ(module->runWindow(commandLine), RunEnd::Closed);
  EXPECT_FALSE(timedOut);
  EXPECT_EQ(shownTitle.toStdString(), platform::kWindowCaption);
}

}  // namespace
}  // namespace scrivane
