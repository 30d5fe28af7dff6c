// HID interfaces through SetupAPI, the HID class driver and overlapped file I/O.
#pragma once

#include "platform/hid.h"

namespace tw::win32 {

class Win32HidPort : public HidPort {
 public:
  bool listInterfaces(std::vector<std::string>& paths) override;
  std::unique_ptr<HidDevice> open(const std::string& path, HidAccess access,
                                  bool overlapped) override;
};

}  // namespace tw::win32
