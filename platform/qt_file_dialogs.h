#pragma once

#include <string>
#include <vector>

#include "platform/file_dialogs.h"

namespace scrivane::platform {

// The file dialogs as QFileDialog, following the record: its filter pairs with
// the chosen pair selected, title, initial folder, the must-exist, overwrite and
// create prompts, the default extension and the size of the file buffer.
class QtFileDialogs : public FileDialogs {
 public:
  bool GetOpenFileNameA(OpenFileName& record) override;
  bool GetSaveFileNameA(OpenFileName& record) override;

 private:
  bool run(OpenFileName& record, bool save);
};

struct FilterPair {
  std::string description;
  std::string pattern;
};

// The pairs of a NUL-separated filter list; the list ends at an empty entry or
// at the end of the text, and a description without its pattern is dropped.
std::vector<FilterPair> ParseFilterList(const std::string& list);

// A pair as a Qt name filter, "Text files (*.txt)": the description, followed by
// the patterns in parentheses unless the description already ends with them.
std::string ToQtNameFilter(const FilterPair& pair);

// Writes a chosen path into the record as the dialog would: NUL-ended at the start
// of the file buffer, with the name alone in the file title buffer. Returns false,
// leaving the record as it was, when the path does not fit into nMaxFile bytes
// with its NUL.
bool StoreChosenPath(OpenFileName& record, const std::string& path);

}  // namespace scrivane::platform
