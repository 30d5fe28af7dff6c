// Standing back while the maker's bench flashing tool is at work: it shows a window titled
// "Tarnwick Pellmark Rig", or leaves a hands-off marker in the temporary folder that it refreshes
// while it flashes. This program only ever reads the marker.
#pragma once

#include "platform/desktop_shell.h"
#include "platform/file_system.h"

namespace tw {

inline constexpr char kBenchToolWindowTitle[] = "Tarnwick Pellmark Rig";
inline constexpr char kHandsOffMarkerName[] = "tarnwick-hands-off";

// Fresh while the system time is earlier than the marker's last write plus 120 seconds; a marker
// dated in the future is therefore fresh.
bool isHandsOffMarkerFresh(FileSystem& files);

// The bench tool's window exists (its title compared as Windows compares titles, without regard to
// case), or its marker is fresh.
bool isStationAtWork(DesktopShell& desktop, FileSystem& files);

}  // namespace tw
