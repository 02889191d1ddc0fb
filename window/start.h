#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/command_line.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "window/window_module.h"

namespace scrivane {

// Opens the window module installed with the program; null, with `error`
// saying why, when it is not installed or does not fit.
std::unique_ptr<WindowModule> LoadWindowModule(std::string& error);

// Opens the window module at `path` and asks it for the given version of its
// interface; null, with `error` saying why, when it cannot be opened or was
// built for another version.
std::unique_ptr<WindowModule> OpenWindowModule(const std::string& path, std::string& error,
                                               int interfaceVersion = kWindowModuleInterface);

// What a start without options uses besides its arguments.
struct StartServices {
  platform::Files& files;
  platform::Clock& clock;
  platform::MessageBox& terminal;  // message boxes when no display can be reached
  // Gives the window module, or null with the reason (LoadWindowModule).
  std::function<std::unique_ptr<WindowModule>(std::string& error)> loadWindow;
  bool wantsDisplay;  // a display is named to show windows and boxes on
  std::FILE* err;     // the usage text and why the window could not be loaded
};

// The start of the program without options, returning its exit status.
//
// When the argument text names an existing, non-empty file, that file is
// converted with the window's start-up settings, and the window module is
// loaded only when something must be seen on a display: the overwrite
// question (then the whole start is the window's, as if it had been started
// with the name), or a failure. Without a display these go to the terminal.
// Otherwise the window opens; when it cannot (no display, or the module is
// missing), the usage text is printed and the status is 2.
int StartWithoutOptions(int& argc, char** argv, platform::CommandLine& commandLine,
                        StartServices& services);

}  // namespace scrivane
