#include "window/start.h"

#include <cstring>
#include <filesystem>

#include "platform/module.h"
#include "writer/writer.h"

#ifndef SCRIVANE_WINDOW_MODULE
#error "SCRIVANE_WINDOW_MODULE: the window module's path relative to the program's folder"
#endif

namespace scrivane {
namespace {

// `name` is what the command line named, empty when it named nothing.
void PrintUsage(std::FILE* err, const std::string& name) {
  if (!name.empty()) std::fprintf(err, "scrivane: '%s' does not exist or is empty\n", name.c_str());
  std::fprintf(err,
               "usage: scrivane FILE\n"
               "Converts the plain-text FILE (which must exist and not be empty) into a PDF\n"
               "file of the same name with the extension .pdf.\n"
               "Without a file name the window opens; that needs a display.\n"
               "scrivane --help lists the options that convert without a window.\n");
}

// The window module on a reachable display, found at its first use: the
// module is opened and the toolkit started only then, and only once.
class Display {
 public:
  Display(int& argc, char** argv, StartServices& services)
      : argc_(argc), argv_(argv), services_(services) {}

  // The module, or null when there is no display to show anything on. When
  // `sayWhy` is set, a module that cannot be loaded is reported.
  WindowModule* reach(bool sayWhy) {
    if (!tried_) {
      tried_ = true;
      if (services_.wantsDisplay) {
        module_ = services_.loadWindow(loadError_);
        reached_ = module_ != nullptr && module_->startDisplay(argc_, argv_);
      }
    }
    if (sayWhy && services_.wantsDisplay && module_ == nullptr) {
      std::fprintf(services_.err, "scrivane: the window cannot be shown: %s\n", loadError_.c_str());
    }
    return reached_ ? module_.get() : nullptr;
  }

 private:
  int& argc_;
  char** argv_;
  StartServices& services_;
  std::unique_ptr<WindowModule> module_;
  std::string loadError_;
  bool tried_ = false;
  bool reached_ = false;
};

// Message boxes on the display when one can be reached, else on the terminal.
class DisplayMessageBox : public platform::MessageBox {
 public:
  DisplayMessageBox(Display& display, platform::MessageBox& terminal)
      : display_(display), terminal_(terminal) {}
  platform::Answer show(const std::string& text, platform::Buttons buttons, platform::Icon icon,
                        platform::DefaultButton defaultButton, const std::string& title) override {
    WindowModule* window = display_.reach(false);
    platform::MessageBox& box = window != nullptr ? window->messages() : terminal_;
    return box.show(text, buttons, icon, defaultButton, title);
  }

 private:
  Display& display_;
  platform::MessageBox& terminal_;
};

// The shell of the display; without one there is nothing to open a file on.
class DisplayShell : public platform::Shell {
 public:
  explicit DisplayShell(Display& display) : display_(display) {}
  void open(const std::string& target) override {
    if (WindowModule* window = display_.reach(false)) window->shell().open(target);
  }

 private:
  Display& display_;
};

}  // namespace

std::unique_ptr<WindowModule> LoadWindowModule(std::string& error) {
  const std::string folder = platform::ProgramFolder();
  if (folder.empty()) {
    error = "the program's own folder is not known";
    return nullptr;
  }
  return OpenWindowModule(
      (std::filesystem::path(folder) / SCRIVANE_WINDOW_MODULE).lexically_normal().string(), error);
}

std::unique_ptr<WindowModule> OpenWindowModule(const std::string& path, std::string& error,
                                               int interfaceVersion) {
  void* entry = platform::OpenModuleSymbol(path, kWindowModuleEntry, error);
  if (entry == nullptr) return nullptr;
  WindowModuleEntry create = nullptr;
  static_assert(sizeof create == sizeof entry);
  std::memcpy(&create, &entry, sizeof create);
  std::unique_ptr<WindowModule> module(create(interfaceVersion));
  if (module == nullptr) error = path + " belongs to another version of scrivane";
  return module;
}

int StartWithoutOptions(int& argc, char** argv, platform::CommandLine& commandLine,
                        StartServices& services) {
  Display display(argc, argv, services);
  // The whole argument text is one name; file names keep their case here.
  const std::string cmdfile = StripEnclosingQuotes(commandLine.argumentText());
  {
    PdfWriter lookup(services.files, services.terminal, services.clock);
    if (!lookup.FileExists(cmdfile)) {
      if (WindowModule* window = display.reach(true)) return ExitStatus(window->runWindow(commandLine));
      PrintUsage(services.err, cmdfile);
      return 2;
    }
  }

  const RequestFields fields = CommandLineRequest(cmdfile);
  // The overwrite question is the window's first box, and No opens the window
  // with both names filled in: on a display the whole start is the window's.
  if (services.wantsDisplay && services.files.isOrdinaryFile(fields.outputfile)) {
    if (WindowModule* window = display.reach(false)) return ExitStatus(window->runWindow(commandLine));
  }

  DisplayMessageBox messages(display, services.terminal);
  DisplayShell shell(display);
  PdfWriter writer(services.files, messages, services.clock);
  RequestServices request{messages, services.files, shell, writer};
  return ExitStatus(EndOf(RunConversionRequest(fields, cmdfile, request)));
}

}  // namespace scrivane
