#include "platform/qt_shell.h"

#include <filesystem>
#include <system_error>

#include <QByteArray>
#include <QDesktopServices>
#include <QString>
#include <QUrl>

namespace scrivane::platform {

void QtShell::open(const std::string& target) {
  // A file is named by its bytes, which need not be UTF-8: its URL is made from
  // them percent-encoded, so that the same file is opened.
  std::error_code error;
  if (!target.empty() && std::filesystem::exists(target, error)) {
    const std::string path = std::filesystem::absolute(target, error).lexically_normal().string();
    if (!error) {
      QDesktopServices::openUrl(
          QUrl::fromEncoded("file://" + QByteArray::fromStdString(path).toPercentEncoding("/")));
      return;
    }
  }
  const QUrl url = QUrl::fromUserInput(QString::fromStdString(target));
  if (url.isValid()) QDesktopServices::openUrl(url);
}

}  // namespace scrivane::platform
