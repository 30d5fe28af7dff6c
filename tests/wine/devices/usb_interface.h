// One WinUSB interface handle of the stand-in: the world's USB device behind it, run by a worker
// thread of its own, so that transfers complete on another thread as the driver's do, and in the
// order the program started them. What the program's OVERLAPPED records see is set here only.
#pragma once

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/usb.h"

namespace tw::devices {

// NTSTATUS values a completed record carries in OVERLAPPED.Internal, and their Windows errors.
std::uint32_t statusForError(std::uint32_t error);
std::uint32_t errorForStatus(std::uint32_t status);
inline constexpr std::uint32_t kStatusPending = 0x00000103;

class UsbInterface : public std::enable_shared_from_this<UsbInterface> {
 public:
  // `file` is the program's handle the interface was made from; it stays the program's.
  UsbInterface(std::string worldPath, HANDLE file, std::unique_ptr<UsbDevice> device);

  const std::string& worldPath() const { return worldPath_; }
  HANDLE file() const { return file_; }
  const UsbInterfaceDescriptor& descriptor() const { return descriptor_; }
  const std::vector<UsbPipeInfo>& pipes() const { return pipes_; }
  bool hasPipe(std::uint8_t pipeId) const;
  // A transfer has ended because the device left the bus: this handle is dead from then on,
  // even before its pipe breaks.
  bool left() const { return left_; }

  // Starts the worker; call once, right after making the object.
  void start();
  // Runs `call` on the worker after everything queued before it, and waits for it. False when
  // the handle was freed meanwhile (the program freed it while using it on another thread).
  bool runNow(const std::function<void(UsbDevice&)>& call);
  // The same without waiting.
  void runLater(std::function<void(UsbDevice&)> call);

  // Queues a bulk transfer on `record` (already marked pending by the caller). The worker moves
  // the bytes; the record completes once, with the world's answer, an abort or a removal.
  bool queueTransfer(std::uint8_t pipeId, bool in, std::uint8_t* buffer, std::uint32_t length,
                     OVERLAPPED* record);
  // PIPE_TRANSFER_TIMEOUT as the program last set it (0: none), which decides how the worker
  // waits for the world.
  void noteTimeout(std::uint8_t pipeId, std::uint32_t timeoutMs);
  // Whether a transfer on `record` is still pending; whether `record` ever carried one here.
  bool recordPending(OVERLAPPED* record);
  bool recordKnown(OVERLAPPED* record);

  // Ends the pending transfers of one pipe (or of all, with `allPipes`) with `error` now; the
  // world's side of a transfer already running is dropped when it comes back.
  void endPending(std::uint8_t pipeId, bool allPipes, std::uint32_t error);
  // WinUsb_Free: pending transfers end as aborted, the worker lets the device go when idle.
  void free();

 private:
  struct Transfer {
    std::uint8_t pipeId;
    bool in;
    std::uint8_t* buffer;
    std::uint32_t length;
    OVERLAPPED* record;
    std::vector<std::uint8_t> outgoing;  // a write's bytes
    bool completed = false;              // guarded by mutex_
  };

  void work();
  void runTransfer(const std::shared_ptr<Transfer>& transfer);
  // Completes the record once; `data` is copied into a read's buffer first.
  void complete(Transfer& transfer, std::uint32_t error, std::uint32_t bytes,
                const std::uint8_t* data);

  std::string worldPath_;
  HANDLE file_;
  std::unique_ptr<UsbDevice> device_;  // the worker's alone once started
  UsbInterfaceDescriptor descriptor_;
  std::vector<UsbPipeInfo> pipes_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  std::vector<std::shared_ptr<Transfer>> pending_;
  std::set<OVERLAPPED*> records_;
  std::map<std::uint8_t, std::uint32_t> timeouts_;
  bool freed_ = false;
  bool released_ = false;  // the worker has let the world's device go
  std::uint32_t completions_ = 0;
  std::atomic<bool> left_{false};
};

// The table of live handles: WinUsb_Initialize adds, WinUsb_Free removes. A handle is a number
// of ours, never reused, so a freed or made-up one is always told apart.
void* addInterface(std::shared_ptr<UsbInterface> usb);
std::shared_ptr<UsbInterface> findInterface(void* handle);
std::shared_ptr<UsbInterface> removeInterface(void* handle);

// The live interfaces of a world path end their pending transfers: the device left the bus.
void usbDeviceLeft(const std::string& worldPath);

}  // namespace tw::devices
