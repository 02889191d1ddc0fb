#pragma once

#include <string>
#include <string_view>

namespace scrivane::platform {

// Qt platforms that draw nowhere: a window or a message box on one is never seen.
bool DrawsNowhere(std::string_view qtPlatform);

// Whether windows and message boxes may be seen: a display named to show them
// on, and no Qt platform chosen that draws nowhere. Reads the environment only;
// whether the display can really be reached is known once the toolkit tries it.
bool WantsDisplay();

// The Qt platforms to try in turn, ending with one that needs no display, so
// that a display that is named but cannot be reached (a DISPLAY left over in an
// ssh or sudo session) leaves the program on the terminal instead of ending it.
// `given` is QT_QPA_PLATFORM as the user set it (empty when unset).
std::string PlatformsToTry(std::string_view given);

}  // namespace scrivane::platform
