// The font module: the only part of the program that links the font libraries,
// opened at run time by a conversion that embeds fonts.

#include "writer/font_engine.h"

extern "C" __attribute__((visibility("default"))) scrivane::FontModule* scrivane_font_module(
    int interfaceVersion) {
  if (interfaceVersion != scrivane::kFontModuleInterface) return nullptr;
  return scrivane::NewFontModule().release();
}
