#include "platform/qt_file_dialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStringList>
#include <QWidget>

namespace scrivane::platform {
namespace {

// Overwrites the start of a blank-padded buffer with a NUL-ended text.
void WriteIntoBuffer(std::string& buffer, const std::string& text) {
  std::string ended = text;
  ended.push_back('\0');
  if (buffer.size() < ended.size()) buffer.resize(ended.size(), ' ');
  buffer.replace(0, ended.size(), ended);
}

std::string TrimBlanks(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

std::vector<FilterPair> ParseFilterList(const std::string& list) {
  std::vector<std::string> entries;
  std::size_t start = 0;
  while (start < list.size()) {
    std::size_t end = list.find('\0', start);
    if (end == std::string::npos) end = list.size();
    if (end == start) break;  // the empty entry that closes the list
    entries.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  std::vector<FilterPair> pairs;
  for (std::size_t i = 0; i + 1 < entries.size(); i += 2) {
    pairs.push_back({entries[i], entries[i + 1]});
  }
  return pairs;
}

std::string ToQtNameFilter(const FilterPair& pair) {
  // The platform separates patterns with ";", Qt with blanks.
  std::string patterns = pair.pattern;
  for (char& c : patterns) {
    if (c == ';') c = ' ';
  }
  const std::string suffix = "(" + patterns + ")";
  const std::string& d = pair.description;
  if (d.size() >= suffix.size() && d.compare(d.size() - suffix.size(), suffix.size(), suffix) == 0) {
    return d;
  }
  return d.empty() ? suffix : d + " " + suffix;
}

bool StoreChosenPath(OpenFileName& record, const std::string& path) {
  if (record.nMaxFile > 0 && path.size() + 1 > record.nMaxFile) return false;
  WriteIntoBuffer(record.lpstrFile, path);
  const std::size_t slash = path.find_last_of('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const std::string name = path.substr(nameStart);
  const std::size_t dot = name.find_last_of('.');
  record.nFileOffset = static_cast<std::uint16_t>(nameStart);
  record.nFileExtension = static_cast<std::uint16_t>(
      dot == std::string::npos ? path.size() : nameStart + dot + 1);
  if (record.nMaxFileTitle > 0 && name.size() + 1 <= record.nMaxFileTitle) {
    WriteIntoBuffer(record.lpstrFileTitle, name);
  }
  return true;
}

bool QtFileDialogs::GetOpenFileNameA(OpenFileName& record) { return run(record, false); }

bool QtFileDialogs::GetSaveFileNameA(OpenFileName& record) { return run(record, true); }

bool QtFileDialogs::run(OpenFileName& record, bool save) {
  QWidget* owner =
      record.hwndOwner != 0 ? QWidget::find(static_cast<WId>(record.hwndOwner)) : nullptr;
  QFileDialog dialog(owner);
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  const bool mustExist = !save && (record.Flags & OFN_FILEMUSTEXIST) != 0;
  dialog.setFileMode(mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  dialog.setWindowTitle(record.lpstrTitle.empty() ? (save ? "Save As" : "Open")
                                                  : QString::fromStdString(record.lpstrTitle));
  if (!record.lpstrInitialDir.empty()) {
    dialog.setDirectory(QString::fromStdString(record.lpstrInitialDir));
  }

  QStringList filters;
  for (const FilterPair& pair : ParseFilterList(record.lpstrFilter)) {
    filters << QString::fromStdString(ToQtNameFilter(pair));
  }
  if (!filters.isEmpty()) {
    dialog.setNameFilters(filters);
    // Index 0 (no custom filter) and 1 both mean the first pair.
    const qsizetype index = record.nFilterIndex > 0 ? record.nFilterIndex - 1 : 0;
    dialog.selectNameFilter(filters.at(index < filters.size() ? index : 0));
  }

  dialog.setOption(QFileDialog::DontConfirmOverwrite, (record.Flags & OFN_OVERWRITEPROMPT) == 0);
  if (!record.lpstrDefExt.empty()) {
    dialog.setDefaultSuffix(QString::fromStdString(record.lpstrDefExt));
  }
  const std::string proposed = TrimBlanks(record.lpstrFile.substr(0, record.lpstrFile.find('\0')));
  if (!proposed.empty()) dialog.selectFile(QString::fromStdString(proposed));

  for (;;) {
    if (dialog.exec() != QDialog::Accepted) return false;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return false;
    const QString path = chosen.first();
    if (save && (record.Flags & OFN_CREATEPROMPT) != 0 && !QFileInfo::exists(path)) {
      const auto answer = QMessageBox::question(
          owner, dialog.windowTitle(),
          QStringLiteral("%1 does not exist.\nDo you want to create it?")
              .arg(QFileInfo(path).fileName()));
      if (answer != QMessageBox::Yes) {
        // Back to the dialog, as after any declined confirmation.
        dialog.selectFile(path);
        continue;
      }
    }
    return StoreChosenPath(record, path.toStdString());
  }
}

}  // namespace scrivane::platform
