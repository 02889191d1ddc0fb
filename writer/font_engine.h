#pragma once

// The font module's implementation over HarfBuzz, FreeType, fontconfig and
// FriBidi. The module (font_module_entry.cpp) gives it to the program at run
// time; tests of the font code link it directly.

#include <memory>

#include "writer/font_module.h"

namespace scrivane {

std::unique_ptr<FontModule> NewFontModule();

}  // namespace scrivane
