// Scrivane: turns one plain-text file into a PDF file.
//
//   scrivane             opens the window
//   scrivane FILE        converts FILE with the default settings into FILE's
//                        name with the extension ".pdf", asking before an old
//                        PDF is replaced, and ends without showing the window
//   scrivane -OPTIONS... option mode, without any window (see options.h)
//
// Without a display the window cannot be shown: a conversion named on the
// command line still runs, with its messages on the terminal.

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include <QApplication>
#include <QByteArray>
#include <QScreen>
#include <QString>

#include "app/options.h"

#include "platform/command_line.h"
#include "platform/qt_file_dialogs.h"
#include "platform/qt_message_box.h"
#include "platform/qt_shell.h"
#include "platform/std_files.h"
#include "platform/system_clock.h"
#include "platform/terminal_message_box.h"
#include "window/form_convert_to_pdf.h"

namespace {

bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// Qt platforms that draw nowhere.
bool DrawsNowhere(std::string_view platform) {
  return platform.starts_with("offscreen") || platform.starts_with("minimal");
}

// Whether windows and message boxes may be seen: a display named to show them
// on, and no Qt platform chosen that draws nowhere.
bool WantsDisplay() {
  if (IsSet("QT_QPA_PLATFORM")) return !DrawsNowhere(std::getenv("QT_QPA_PLATFORM"));
  return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY");
}

// The Qt platforms to try in turn, ending with one that needs no display: a
// display that is named but cannot be reached (a DISPLAY left over in an ssh or
// sudo session) then leaves the program on the terminal instead of ending it.
QByteArray PlatformsToTry() {
  QByteArray platforms = qgetenv("QT_QPA_PLATFORM");
  if (platforms.isEmpty()) {
    // Qt's own choice: Wayland in a Wayland session, X otherwise.
    const bool wayland = IsSet("WAYLAND_DISPLAY");
    const bool waylandSession = wayland && qgetenv("XDG_SESSION_TYPE") == "wayland";
    if (waylandSession) platforms += "wayland;";
    if (IsSet("DISPLAY")) platforms += "xcb;";
    if (wayland && !waylandSession) platforms += "wayland;";
  } else {
    platforms += ';';
  }
  return platforms + "offscreen";
}

// Qt's note about a missing runtime folder is noise on the terminal.
QtMessageHandler gDefaultHandler = nullptr;
void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set"))) return;
  if (gDefaultHandler != nullptr) gDefaultHandler(type, context, message);
}

// `name` is what the command line named, empty when it named nothing.
void PrintUsage(const std::string& name) {
  if (!name.empty()) std::fprintf(stderr, "scrivane: '%s' does not exist or is empty\n", name.c_str());
  std::fprintf(stderr,
               "usage: scrivane FILE\n"
               "Converts the plain-text FILE (which must exist and not be empty) into a PDF\n"
               "file of the same name with the extension .pdf.\n"
               "Without a file name the window opens; that needs a display.\n"
               "scrivane --help lists the options that convert without a window.\n");
}

}  // namespace

int main(int argc, char** argv) {
  using namespace scrivane;
  // Taken before QApplication, which removes the options it knows from argv.
  platform::ArgvCommandLine commandLine(argc, argv);
  if (IsOptionMode(commandLine.arguments())) return RunOptionMode(commandLine.arguments());

  // The platform list is for this program only: programs it starts (the PDF
  // viewer) get the environment as it was.
  const bool platformWasSet = qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
  const QByteArray platformGiven = qgetenv("QT_QPA_PLATFORM");
  if (WantsDisplay()) {
    qputenv("QT_QPA_PLATFORM", PlatformsToTry());
  } else if (platformGiven.isEmpty()) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  gDefaultHandler = qInstallMessageHandler(QuietHandler);
  QApplication app(argc, argv);
  if (platformWasSet) {
    qputenv("QT_QPA_PLATFORM", platformGiven);
  } else {
    qunsetenv("QT_QPA_PLATFORM");
  }
  // The window ends the program itself, with its own exit status.
  app.setQuitOnLastWindowClosed(false);
  const bool display = !DrawsNowhere(QGuiApplication::platformName().toStdString());

  platform::StdFiles files;
  platform::SystemClock clock;
  platform::QtMessageBox windowMessages;
  platform::TerminalMessageBox terminalMessages;
  platform::QtFileDialogs dialogs;
  platform::QtShell shell;
  platform::MessageBox& messages =
      display ? static_cast<platform::MessageBox&>(windowMessages) : terminalMessages;

  bool ended = false;
  int endStatus = 0;
  WindowServices services{messages, files, clock, commandLine, dialogs, shell,
                          [&](int status) {
                            ended = true;
                            endStatus = status;
                            QCoreApplication::exit(status);
                          }};
  formConvertToPDF window(services);
  window.Form_Load();
  if (ended) return endStatus;

  if (!display) {
    // The overwrite question was answered No: the run was refused.
    const auto size = files.size(window.cmdfile());
    if (size && *size > 0) return 1;
    PrintUsage(window.cmdfile());
    return 2;
  }

  if (const QScreen* screen = window.screen()) {
    QRect frame = window.frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window.move(frame.topLeft());
  }
  window.show();
  const int status = app.exec();
  return ended ? endStatus : status;
}
