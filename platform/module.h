#pragma once

#include <string>

namespace scrivane::platform {

// The folder that holds the running program's executable file (links
// resolved), without a trailing "/"; empty when the system does not say.
std::string ProgramFolder();

// Opens the shared library at `path` (once; later calls find it open) and
// gives the address of `symbol` in it; null, with `error` saying why, when the
// library cannot be opened or lacks the symbol. The library stays loaded
// until the program ends.
void* OpenModuleSymbol(const std::string& path, const char* symbol, std::string& error);

}  // namespace scrivane::platform
