// Inside the platform: the lock desktop's cover, which SwitchDesktop puts up and takes down.
#pragma once

#include <string>

namespace tarvelo_platform {

// Covers every screen for that desktop (user.h); true when it is up (also when it already was).
bool showDesktopCover(const std::string& desktop);
// Takes the cover down before it returns; nothing when none is up.
void hideDesktopCover();

}  // namespace tarvelo_platform
