// One overlapped transfer at a time on a device opened with FILE_FLAG_OVERLAPPED: start it, wait a
// bounded time, cancel it, wait a bounded time more for the cancel to land. Used by the HID and
// WinUSB adapters, which differ only in the calls that start, finish and cancel a transfer.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace tw::win32 {

// The device's own calls for one kind of transfer.
class OverlappedCalls {
 public:
  // ReadFile, WinUsb_WritePipe, ...: starts the transfer of `length` bytes at `buffer` on
  // `record`; returns that call's result (its last error is read right after).
  virtual BOOL start(std::uint8_t* buffer, DWORD length, OVERLAPPED* record) = 0;
  // GetOverlappedResult or WinUsb_GetOverlappedResult, without waiting.
  virtual BOOL result(OVERLAPPED* record, DWORD& bytes) = 0;
  // CancelIoEx for the record, or WinUsb_AbortPipe.
  virtual void cancel(OVERLAPPED* record) = 0;

 protected:
  ~OverlappedCalls() = default;
};

// The record, event and buffer of one transfer (defined with the code).
struct TransferRecord;
struct TransferRecordDeleter {
  void operator()(TransferRecord* record) const;
};

enum class TransferOutcome {
  Done,      // finished (at once or within the wait); the byte count is valid
  TimedOut,  // did not finish within the wait and was cancelled
  Failed,    // could not be started, or finished with an error
};

// The OVERLAPPED record, its event and a bounce buffer belong to this object, not to the caller:
// a cancel that has not landed when we stop waiting leaves the driver still writing into them, so
// they must outlive the caller's buffer. Such a transfer is reaped before the next one starts; if
// the object goes away first, the record is handed to the thread pool, which frees it once the
// driver lets go. Nothing here ever waits without a limit. One thread at a time.
class OverlappedTransfer {
 public:
  OverlappedTransfer();
  ~OverlappedTransfer();
  OverlappedTransfer(const OverlappedTransfer&) = delete;
  OverlappedTransfer& operator=(const OverlappedTransfer&) = delete;

  // Readies the record and a buffer of at least `length` bytes for the next transfer and returns
  // the buffer. nullptr when memory or an event cannot be had, or when an earlier transfer's cancel
  // has not landed within `reapWaitMs`.
  std::uint8_t* prepare(std::size_t length, DWORD reapWaitMs);

  // Runs one transfer of `length` bytes from the prepared buffer: starts it, waits at most
  // `waitMs`; if it has not finished, cancels it and waits at most `cancelWaitMs` more. `bytes` is
  // the count of a Done transfer. `error` is the Windows error of a failure, ERROR_SEM_TIMEOUT for
  // a time-out.
  TransferOutcome run(OverlappedCalls& calls, DWORD length, DWORD waitMs, DWORD cancelWaitMs,
                      DWORD& bytes, DWORD& error);

  // True while a cancelled transfer has not landed yet.
  bool inFlight() const { return inFlight_; }

 private:
  std::unique_ptr<TransferRecord, TransferRecordDeleter> record_;
  bool inFlight_ = false;
};

}  // namespace tw::win32
