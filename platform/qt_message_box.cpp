#include "platform/qt_message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QString>

namespace scrivane::platform {

std::string ToDisplayLines(const std::string& text) {
  std::string lines;
  lines.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      lines += text[i];
      continue;
    }
    lines += '\n';
    // A CR LF pair is one line end, not two.
    if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
  }
  return lines;
}

Answer QtMessageBox::show(const std::string& text, Buttons buttons, Icon icon,
                          DefaultButton defaultButton, const std::string& title) {
  QMessageBox box(QApplication::activeWindow());
  box.setWindowTitle(QString::fromStdString(title.empty() ? std::string(kAppTitle) : title));
  box.setTextFormat(Qt::PlainText);
  box.setText(QString::fromStdString(ToDisplayLines(text)));
  switch (icon) {
    case Icon::None: box.setIcon(QMessageBox::NoIcon); break;
    case Icon::Critical: box.setIcon(QMessageBox::Critical); break;
    case Icon::Warning: box.setIcon(QMessageBox::Warning); break;
    case Icon::Question: box.setIcon(QMessageBox::Question); break;
  }
  box.setWindowModality(Qt::ApplicationModal);

  if (buttons == Buttons::Ok) {
    QPushButton* ok = box.addButton(QMessageBox::Ok);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
    return Answer::Ok;
  }
  QPushButton* yes = box.addButton(QMessageBox::Yes);
  QPushButton* no = box.addButton(QMessageBox::No);
  box.setDefaultButton(defaultButton == DefaultButton::First ? yes : no);
  box.setEscapeButton(no);
  box.exec();
  return box.clickedButton() == yes ? Answer::Yes : Answer::No;
}

}  // namespace scrivane::platform
