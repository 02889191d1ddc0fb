#pragma once

// Opens the font module installed with the program, once a run.

#include <string>

#include "writer/font_module.h"

namespace scrivane {

// The font module, opened at the first call; null, with `error` saying why,
// when it is not installed or does not fit. Later calls give the same result
// without trying again; the module stays loaded until the program ends.
FontModule* OpenFontModule(std::string& error);

}  // namespace scrivane
