#include "platform/qt_shell.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QString>
#include <QUrl>

namespace scrivane::platform {

void QtShell::open(const std::string& target) {
  const QString text = QString::fromStdString(target);
  const QFileInfo file(text);
  if (!text.isEmpty() && file.exists()) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(file.absoluteFilePath()));
    return;
  }
  const QUrl url = QUrl::fromUserInput(text);
  if (url.isValid()) QDesktopServices::openUrl(url);
}

}  // namespace scrivane::platform
