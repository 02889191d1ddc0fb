// The window module: the window and every service that needs Qt, behind the
// Qt-free WindowModule interface that the program opens at run time.

#include <QApplication>
#include <QScreen>

#include "platform/qt_display.h"
#include "platform/qt_file_dialogs.h"
#include "platform/qt_message_box.h"
#include "platform/qt_shell.h"
#include "platform/std_files.h"
#include "platform/system_clock.h"
#include "window/form_convert_to_pdf.h"
#include "window/window_module.h"

namespace scrivane {
namespace {

class QtWindowModule final : public WindowModule {
 public:
  bool startDisplay(int& argc, char** argv) override {
    if (qt_.application == nullptr) qt_ = platform::StartQtDisplay(argc, argv);
    return qt_.display;
  }

  platform::MessageBox& messages() override { return messages_; }
  platform::Shell& shell() override { return shell_; }

  RunEnd runWindow(platform::CommandLine& commandLine) override {
    platform::StdFiles files;
    platform::SystemClock clock;
    bool ended = false;
    RunEnd end = RunEnd::Closed;
    WindowServices services{messages_, files, clock, commandLine, dialogs_, shell_,
                            [&](RunEnd how) {
                              ended = true;
                              end = how;
                              QCoreApplication::exit(0);
                            }};
    formConvertToPDF window(services);
    window.Form_Load();
    if (ended) return end;

    if (const QScreen* screen = window.screen()) {
      QRect frame = window.frameGeometry();
      frame.moveCenter(screen->availableGeometry().center());
      window.move(frame.topLeft());
    }
    window.show();
    QApplication::exec();
    return end;
  }

 private:
  platform::QtDisplay qt_;
  platform::QtMessageBox messages_;
  platform::QtFileDialogs dialogs_;
  platform::QtShell shell_;
};

}  // namespace
}  // namespace scrivane

extern "C" scrivane::WindowModule* scrivane_window_module(int interfaceVersion) {
  if (interfaceVersion != scrivane::kWindowModuleInterface) return nullptr;
  return new scrivane::QtWindowModule;
}
