// The program's identity on the desktop: the .desktop file, the AppStream
// metadata and the window all use this id.
#pragma once

namespace kyvo {

inline constexpr const char* kDesktopId = "org.kyvo.DataReader";

}  // namespace kyvo
