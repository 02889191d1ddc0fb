#include "platform/display.h"

#include <cstdlib>

namespace scrivane::platform {
namespace {

std::string_view Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string_view(value) : std::string_view();
}

}  // namespace

bool DrawsNowhere(std::string_view qtPlatform) {
  return qtPlatform.starts_with("offscreen") || qtPlatform.starts_with("minimal");
}

bool WantsDisplay() {
  const std::string_view chosen = Variable("QT_QPA_PLATFORM");
  if (!chosen.empty()) return !DrawsNowhere(chosen);
  return !Variable("DISPLAY").empty() || !Variable("WAYLAND_DISPLAY").empty();
}

std::string PlatformsToTry(std::string_view given) {
  std::string platforms;
  if (given.empty()) {
    // Qt's own choice: Wayland in a Wayland session, X otherwise.
    const bool wayland = !Variable("WAYLAND_DISPLAY").empty();
    const bool waylandSession = wayland && Variable("XDG_SESSION_TYPE") == "wayland";
    if (waylandSession) platforms += "wayland;";
    if (!Variable("DISPLAY").empty()) platforms += "xcb;";
    if (wayland && !waylandSession) platforms += "wayland;";
  } else {
    platforms += given;
    platforms += ';';
  }
  return platforms + "offscreen";
}

}  // namespace scrivane::platform
