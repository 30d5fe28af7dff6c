// The board's "RP2350" drive under Wine: the run makes a drive letter a removable drive whose
// link points to a folder (TW_DEVICES_DRIVE_DIR) that exists, with the drive's label and files,
// only while the world's board has its drive; what the program copies there reaches the
// simulated drive.
#pragma once

namespace tw::devices {

// Starts the mirror's thread when TW_DEVICES_DRIVE_DIR is set; once.
void startDriveMirror();

}  // namespace tw::devices
