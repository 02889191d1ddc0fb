// scrivane_screenshot PNG: shows the real window with its start-up values on
// the current display and saves a picture of it, with the frame that the
// window manager drew around it, as PNG. Used by scripts/screenshot.

#include <cstdio>

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QScreen>
#include <QWindow>

#include "platform/command_line.h"
#include "platform/qt_file_dialogs.h"
#include "platform/qt_message_box.h"
#include "platform/qt_shell.h"
#include "platform/std_files.h"
#include "platform/system_clock.h"
#include "window/form_convert_to_pdf.h"

namespace {

// Lets the window system and the window manager do their work for a while.
void Settle(int milliseconds) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < milliseconds) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
}

}  // namespace

int main(int argc, char** argv) {
  using namespace scrivane;
  if (argc != 2) {
    std::fprintf(stderr, "usage: scrivane_screenshot PNG\n");
    return 2;
  }
  const QString target = QString::fromLocal8Bit(argv[1]);
  QApplication app(argc, argv);

  platform::ArgvCommandLine commandLine(std::vector<std::string>{});
  platform::StdFiles files;
  platform::SystemClock clock;
  platform::QtMessageBox messages;
  platform::QtFileDialogs dialogs;
  platform::QtShell shell;
  formConvertToPDF window(
      WindowServices{messages, files, clock, commandLine, dialogs, shell, [](RunEnd) {}});
  window.Form_Load();
  window.move(40, 40);
  window.show();
  window.activateWindow();
  Settle(1500);
  if (window.windowHandle() == nullptr || !window.windowHandle()->isExposed()) {
    std::fprintf(stderr, "scrivane_screenshot: the window was never shown\n");
    return 1;
  }
  const QRect frame = window.frameGeometry();
  const QPixmap picture = window.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(),
                                                      frame.height());
  if (picture.isNull() || !picture.save(target, "PNG")) {
    std::fprintf(stderr, "scrivane_screenshot: cannot save %s\n", argv[1]);
    return 1;
  }
  std::printf("%s: %d x %d\n", argv[1], picture.width(), picture.height());
  return 0;
}
