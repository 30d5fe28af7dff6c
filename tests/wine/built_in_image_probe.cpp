// Loads the built-in firmware image through the real resource adapter and prints what the
// firmware side would see: "state=1 blocks=5068 program=korrinlink version=0.9.3".
#include <cstdio>

#include "firmware/built_in_image.h"
#include "firmware/uf2_check.h"
#include "platform/win32/win32_resources.h"

int wmain() {
  tw::Win32Resources resources;
  tw::BuiltInImage image;
  int state = static_cast<int>(tw::loadBuiltInImage(resources, image));
  std::printf("state=%d", state);
  if (state == 1) {
    tw::FirmwareImage flash;
    char message[200] = "";
    int ok = tw::checkUf2(image.bytes, image.size, flash, message, sizeof message);
    std::printf(" uf2=%d blocks=%lu program=%s version=%s%s", ok, (unsigned long)flash.dataBlocks,
                flash.program, flash.version, message);
  }
  std::printf("\n");
  return state == 1 ? 0 : 1;
}
