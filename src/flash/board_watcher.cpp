#include "flash/board_watcher.h"

#include "flash/board_probe.h"
#include "flash/board_record.h"
#include "flash/rp2350_drive.h"
#include "flash/station.h"

namespace tw {

void watchBoards(const BoardWatcherPorts& ports, FirmwareStore& store, Clock& clock) {
  BoardSighting seen;
  seen.station = isStationAtWork(ports.desktop, ports.files);
  if (!seen.station) {
    PicobootInterface found[kPicobootMaxInterfaces];
    if (findPicobootInterfaces(ports.picoboot, found, kPicobootMaxInterfaces) > 0) {
      seen.usbFound = true;
      seen.path = found[0].path;
      seen.serial = found[0].serial;
    }
    findRp2350Drive(ports.files, seen.drive);
  }

  std::string path;
  if (!store.recordSighting(seen, clock.tickMs(), path)) return;
  // Reading the board takes USB transfers: never under the lock.
  BoardProbe probe;
  probe.result =
      probeBoard(ports.picoboot, path, probe.program, probe.version, probe.blank, probe.why);
  store.recordProbe(path, probe, clock.tickMs());
}

}  // namespace tw
