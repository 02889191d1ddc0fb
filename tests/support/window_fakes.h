#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/command_line.h"
#include "platform/file_dialogs.h"
#include "window/request.h"

namespace scrivane::testing {

// A command line that says whatever the test put into it.
class FakeCommandLine : public platform::CommandLine {
 public:
  std::string argumentText() override { return text; }
  std::string text;
};

// File dialogs that record every record handed to them and answer from a
// script: each answer is either a cancel or the bytes the file buffer holds
// afterwards. An empty script cancels.
class FakeFileDialogs : public platform::FileDialogs {
 public:
  struct Answer {
    bool chosen = false;
    std::string buffer;
  };
  struct Call {
    bool save = false;
    platform::OpenFileName record;
  };

  // The buffer a dialog leaves after choosing `path`: the path, its NUL, then
  // the rest of the original 254 blanks.
  static Answer Chosen(const std::string& path) {
    std::string buffer = path + '\0';
    if (buffer.size() < 254) buffer += std::string(254 - buffer.size(), ' ');
    return {true, buffer};
  }
  static Answer Cancelled() { return {}; }

  bool GetOpenFileNameA(platform::OpenFileName& record) override { return answer(record, false); }
  bool GetSaveFileNameA(platform::OpenFileName& record) override { return answer(record, true); }

  std::deque<Answer> answers;
  std::vector<Call> calls;

 private:
  bool answer(platform::OpenFileName& record, bool save) {
    calls.push_back({save, record});
    if (answers.empty()) return false;
    const Answer a = answers.front();
    answers.pop_front();
    if (a.chosen) record.lpstrFile = a.buffer;
    return a.chosen;
  }
};

// Stands in for the end of the program: remembers each end it was told of.
struct FakeProgramEnd {
  std::vector<RunEnd> ends;
  std::function<void(RunEnd)> function() {
    return [this](RunEnd end) { ends.push_back(end); };
  }
};

}  // namespace scrivane::testing
