#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace scrivane {

// Advance widths in thousandths of the font size, indexed by WinAnsiEncoding code
// (writer/font_widths.cpp, made by scripts/make_font_widths).
using FontWidths = std::array<std::uint16_t, 256>;

extern const FontWidths kCourierWidths;
extern const FontWidths kTimesRomanWidths;
extern const FontWidths kHelveticaWidths;

// The widths of the standard font that a font name of the writer stands for,
// in any case: Courier; Arial, which has Helvetica's widths; Times-Roman for
// any other name, as the classic layout takes any other name for it too.
const FontWidths& WidthsForFont(std::string_view fontname);

}  // namespace scrivane
