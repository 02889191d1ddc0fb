#pragma once

#include <memory>
#include <string>

#include "platform/command_line.h"
#include "platform/message_box.h"
#include "platform/shell.h"
#include "window/request.h"

namespace scrivane {

// The part of the program that needs the window toolkit: the window, its
// message boxes and the shell. It is a shared library that the program opens
// only when a window or a message box is to be seen, so that every other run
// starts without loading the toolkit at all.
class WindowModule {
 public:
  virtual ~WindowModule() = default;
  // Brings up the toolkit (once) and tells whether it reached a display;
  // without one, nothing else of the module may be used. argc and argv must
  // outlive the module.
  virtual bool startDisplay(int& argc, char** argv) = 0;
  // Message boxes and the shell on that display.
  virtual platform::MessageBox& messages() = 0;
  virtual platform::Shell& shell() = 0;
  // Creates the window, runs its start-up with the command line and shows it
  // unless that start-up already ended the run; returns how the run ended.
  virtual RunEnd runWindow(platform::CommandLine& commandLine) = 0;
};

// The function that the module exports under kWindowModuleEntry: a new module
// for the caller to own, or null when the module was built for another
// version of this interface than the one given.
inline constexpr const char* kWindowModuleEntry = "scrivane_window_module";
inline constexpr int kWindowModuleInterface = 1;
using WindowModuleEntry = WindowModule* (*)(int interfaceVersion);

}  // namespace scrivane
