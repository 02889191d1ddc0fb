#include "platform/module.h"

#include <dlfcn.h>
#include <unistd.h>

#include <vector>

namespace scrivane::platform {

std::string ProgramFolder() {
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buffer.size()) {
      const std::string path(buffer.data(), static_cast<std::size_t>(n));
      const std::size_t slash = path.find_last_of('/');
      if (slash == std::string::npos) return {};
      return slash == 0 ? std::string("/") : path.substr(0, slash);
    }
    // The path may have been cut short: try again with room to spare.
    buffer.resize(buffer.size() * 2);
  }
}

void* OpenModuleSymbol(const std::string& path, const char* symbol, std::string& error) {
  // Every symbol is bound now, so a module that does not fit fails here and
  // not in the middle of a run.
  void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    const char* why = ::dlerror();
    error = why != nullptr ? why : path + ": cannot be loaded";
    return nullptr;
  }
  ::dlerror();
  void* address = ::dlsym(module, symbol);
  if (address == nullptr) {
    const char* why = ::dlerror();
    error = why != nullptr ? why : path + ": " + symbol + " is missing";
    ::dlclose(module);
    return nullptr;
  }
  return address;
}

}  // namespace scrivane::platform
