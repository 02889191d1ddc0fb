// Scrivane: turns one plain-text file into a PDF file.
//
//   scrivane             opens the window
//   scrivane FILE        converts FILE with the default settings into FILE's
//                        name with the extension ".pdf", asking before an old
//                        PDF is replaced, and ends without showing the window
//   scrivane -OPTIONS... option mode, without any window (see options.h)
//
// The program itself needs no window toolkit: the window, and the message
// boxes of a conversion run on a display, are loaded only when they are to be
// seen (window/start.h).

#include <cstdio>

#include "app/options.h"
#include "platform/command_line.h"
#include "platform/display.h"
#include "platform/std_files.h"
#include "platform/system_clock.h"
#include "platform/terminal_message_box.h"
#include "window/start.h"

int main(int argc, char** argv) {
  using namespace scrivane;
  platform::ArgvCommandLine commandLine(argc, argv);
  if (IsOptionMode(commandLine.arguments())) return RunOptionMode(commandLine.arguments());

  platform::StdFiles files;
  platform::SystemClock clock;
  platform::TerminalMessageBox terminal;
  StartServices services{files, clock, terminal, LoadWindowModule, platform::WantsDisplay(), stderr};
  return StartWithoutOptions(argc, argv, commandLine, services);
}
