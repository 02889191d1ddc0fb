#include "platform/qt_display.h"

#include <QApplication>
#include <QByteArray>
#include <QString>

#include "platform/display.h"

namespace scrivane::platform {
namespace {

// Qt's note about a missing runtime folder is noise on the terminal.
QtMessageHandler gDefaultHandler = nullptr;
void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set"))) return;
  if (gDefaultHandler != nullptr) gDefaultHandler(type, context, message);
}

}  // namespace

QtDisplay StartQtDisplay(int& argc, char** argv) {
  const bool platformWasSet = qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
  const QByteArray platformGiven = qgetenv("QT_QPA_PLATFORM");
  if (WantsDisplay()) {
    qputenv("QT_QPA_PLATFORM", PlatformsToTry(platformGiven.toStdString()).c_str());
  } else if (platformGiven.isEmpty()) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  gDefaultHandler = qInstallMessageHandler(QuietHandler);

  QtDisplay started;
  started.application = std::make_unique<QApplication>(argc, argv);
  if (platformWasSet) {
    qputenv("QT_QPA_PLATFORM", platformGiven);
  } else {
    qunsetenv("QT_QPA_PLATFORM");
  }
  // The window ends the program itself, with its own exit status.
  started.application->setQuitOnLastWindowClosed(false);
  started.display = !DrawsNowhere(QGuiApplication::platformName().toStdString());
  return started;
}

}  // namespace scrivane::platform
