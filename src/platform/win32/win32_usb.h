// USB interfaces through SetupAPI, the configuration manager and WinUSB.
#pragma once

#include "platform/usb.h"

namespace tw::win32 {

class Win32UsbPort : public UsbPort {
 public:
  bool listInterfaces(const std::string& classGuid, std::size_t maxEntries,
                      std::vector<UsbInterfaceEntry>& entries) override;
  std::unique_ptr<UsbDevice> open(const std::string& path, UsbOpenStep& failedStep,
                                  std::uint32_t& error) override;
};

}  // namespace tw::win32
