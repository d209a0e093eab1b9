// Opening a document with the desktop's default application (xdg-open), started detached so that it
// outlives the caller and never becomes its zombie.
#pragma once

#include <string>

namespace plat {

// Whether a desktop session can show documents: DISPLAY or WAYLAND_DISPLAY set and not empty.
bool HasDisplay();

// Starts `xdg-open path` detached (new session, standard streams on /dev/null) when there is a display;
// false when there is none or it could not be started. What the opened application does is not awaited.
bool OpenDocument(const std::string& path);

}  // namespace plat
