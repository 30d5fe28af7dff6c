// One watcher pass: is another flashing tool at work, is a board in update mode around (its
// PICOBOOT interface, its UF2 drive), and what firmware does it carry. The looking happens
// without the firmware lock; the store applies what it finds under it.
#pragma once

#include "flash/firmware_store.h"
#include "flash/picoboot.h"
#include "platform/clock.h"
#include "platform/desktop_shell.h"
#include "platform/file_system.h"

namespace tw {

struct BoardWatcherPorts {
  const PicobootPorts& picoboot;
  FileSystem& files;
  DesktopShell& desktop;
};

void watchBoards(const BoardWatcherPorts& ports, FirmwareStore& store, Clock& clock);

}  // namespace tw
