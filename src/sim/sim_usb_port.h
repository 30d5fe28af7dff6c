// The USB port over the simulated world: lists the present interfaces of a device interface class
// and opens them, and gives the opened interface WinUSB's behaviour on the host side: pipe
// policies (the maximum transfer size, AUTO_CLEAR_STALL, PIPE_TRANSFER_TIMEOUT), transfers cut
// into 64-byte packets, reads that keep what did not fit for the next read, a pipe that stays
// halted after a STALL until it is reset, transfers that time out while the device NAKs, and
// handles that go dead when the device leaves the bus. What the device answers is up to its
// model; the time a transfer takes is charged to the clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/usb.h"
#include "sim/board_timing.h"
#include "sim/faults.h"

namespace tw::sim {

// The device side of one USB interface.
class UsbFunctionModel {
 public:
  enum class Handshake { Ack, Nak, Stall };
  virtual ~UsbFunctionModel() = default;

  virtual std::string classGuid() = 0;
  virtual std::string interfacePath() = 0;
  virtual std::string parentId() = 0;
  // Whether the interface is on the bus at `nowMs`; `generation` changes with every
  // enumeration, so handles from before a reset can tell.
  virtual bool present(std::uint64_t nowMs, std::uint64_t& generation) = 0;
  // 0 when it can be opened now; else the Windows error that opening meets (another program
  // holds it).
  virtual std::uint32_t heldError() = 0;
  virtual UsbInterfaceDescriptor descriptor() = 0;
  virtual std::vector<UsbPipeInfo> pipes() = 0;
  virtual std::uint32_t maximumTransferSize() = 0;

  // One packet on a bulk endpoint. `extraUs` is bus time beyond the bytes.
  virtual Handshake receivePacket(std::uint8_t endpoint, const std::uint8_t* data,
                                  std::size_t length, std::uint64_t nowMs,
                                  std::uint64_t& extraUs) = 0;
  virtual Handshake sendPacket(std::uint8_t endpoint, std::uint8_t* packet,
                               std::size_t& length) = 0;
  // Work the device does by itself before it answers again, and letting time pass for it.
  virtual std::uint64_t busyUs() = 0;
  virtual void advance(std::uint64_t us) = 0;
  // A request on the default pipe; `buffer` holds setup.length bytes.
  virtual Handshake control(const UsbSetupPacket& setup, std::uint8_t* buffer,
                            std::uint32_t& transferred, std::uint64_t nowMs) = 0;
  virtual void halt(std::uint8_t endpoint) = 0;
  virtual void clearHalt(std::uint8_t endpoint) = 0;

  virtual const BoardTiming& timing() = 0;
  virtual CostMeter& meter() = 0;

  // Operations: "open" (Fail: CreateFileW fails with ERROR_GEN_FAILURE; Busy: ERROR_BUSY),
  // "initialize" (Fail: WinUsb_Initialize fails), "read-pipe" and "write-pipe" (Fail: the
  // device stalls the endpoint; Stall: it never answers, so the transfer times out; Busy: an
  // empty packet arrives instead of data / only the first half of the bytes is sent), "control"
  // (Fail: the request is stalled; Stall: it times out).
  FaultPlan faults;
};

class SimUsbPort : public UsbPort {
 public:
  explicit SimUsbPort(Clock& clock) : clock_(clock) {}

  void plug(std::shared_ptr<UsbFunctionModel> function);
  void unplug(const std::shared_ptr<UsbFunctionModel>& function);
  // Lets the world bring due changes about before each enumeration and open.
  std::function<void()> beforeEnumerate;
  FaultPlan enumerationFaults;  // "enumerate": the device list cannot be made

  bool listInterfaces(const std::string& classGuid, std::size_t maxEntries,
                      std::vector<UsbInterfaceEntry>& entries) override;
  std::unique_ptr<UsbDevice> open(const std::string& path, UsbOpenStep& failedStep,
                                  std::uint32_t& error) override;

  // Handles open now on `function`.
  int openHandles(const std::shared_ptr<UsbFunctionModel>& function);

 private:
  friend class SimUsbHandle;
  void closed(UsbFunctionModel* function, std::uint64_t generation);

  Clock& clock_;
  std::mutex mutex_;
  std::vector<std::shared_ptr<UsbFunctionModel>> functions_;
  std::map<std::pair<UsbFunctionModel*, std::uint64_t>, int> open_;  // by generation
};

}  // namespace tw::sim
