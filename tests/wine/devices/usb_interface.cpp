#include "usb_interface.h"

#include <chrono>
#include <cstring>
#include <map>
#include <thread>
#include <utility>

#include "platform/clock.h"

namespace tw::devices {
namespace {

struct StatusPair {
  std::uint32_t error;
  std::uint32_t status;
};
// The few the world answers with, as the I/O manager maps them.
constexpr StatusPair kStatuses[] = {
    {ERROR_SUCCESS, 0x00000000},
    {ERROR_OPERATION_ABORTED, 0xC0000120},     // STATUS_CANCELLED
    {ERROR_SEM_TIMEOUT, 0xC00000B5},           // STATUS_IO_TIMEOUT
    {ERROR_GEN_FAILURE, 0xC0000001},           // STATUS_UNSUCCESSFUL
    {ERROR_DEVICE_NOT_CONNECTED, 0xC000009D},  // STATUS_DEVICE_NOT_CONNECTED
    {ERROR_INVALID_PARAMETER, 0xC000000D},     // STATUS_INVALID_PARAMETER
    {ERROR_NOT_SUPPORTED, 0xC00000BB},         // STATUS_NOT_SUPPORTED
    {ERROR_NOT_ENOUGH_MEMORY, 0xC0000017},     // STATUS_NO_MEMORY
    {ERROR_BUSY, 0x80000011},                  // STATUS_DEVICE_BUSY
};

// Every this many completions, one comes a little after the world answered, as a driver's
// completion routine sometimes does: the program must wait on the record, not assume.
constexpr std::uint32_t kLateEvery = 4;
constexpr DWORD kLateMs = 15;
// A transfer on a pipe without a time-out waits for the world in slices of this length, so that
// an abort is noticed and other requests still get their turn, as on a real pipe.
constexpr std::uint32_t kSliceMs = 50;

std::mutex tableMutex;
std::map<void*, std::shared_ptr<UsbInterface>> table;
std::uintptr_t nextHandle = 0x7e5b0000;

}  // namespace

std::uint32_t statusForError(std::uint32_t error) {
  for (const StatusPair& pair : kStatuses)
    if (pair.error == error) return pair.status;
  return 0xC0000001;
}

std::uint32_t errorForStatus(std::uint32_t status) {
  for (const StatusPair& pair : kStatuses)
    if (pair.status == status) return pair.error;
  return ERROR_GEN_FAILURE;
}

UsbInterface::UsbInterface(std::string worldPath, HANDLE file, std::unique_ptr<UsbDevice> device)
    : worldPath_(std::move(worldPath)), file_(file), device_(std::move(device)) {
  std::uint32_t error = 0;
  device_->queryInterfaceSettings(0, descriptor_, error);
  UsbPipeInfo pipe;
  for (std::uint8_t i = 0; device_->queryPipe(0, i, pipe, error); ++i) pipes_.push_back(pipe);
}

bool UsbInterface::hasPipe(std::uint8_t pipeId) const {
  for (const UsbPipeInfo& pipe : pipes_)
    if (pipe.pipeId == pipeId) return true;
  return false;
}

void UsbInterface::start() {
  std::thread([self = shared_from_this()] { self->work(); }).detach();
}

void UsbInterface::work() {
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return !jobs_.empty() || freed_; });
      if (jobs_.empty()) break;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    job();
  }
  // Freed and idle: the world's handle goes now, so the interface can be opened again.
  device_.reset();
  std::lock_guard<std::mutex> lock(mutex_);
  released_ = true;
  wake_.notify_all();
}

bool UsbInterface::runNow(const std::function<void(UsbDevice&)>& call) {
  std::mutex doneMutex;
  std::condition_variable doneWake;
  bool done = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (freed_) return false;  // the worker may have ended: nobody would run it
    jobs_.push_back([&] {
      call(*device_);
      std::lock_guard<std::mutex> doneLock(doneMutex);
      done = true;
      doneWake.notify_all();
    });
  }
  wake_.notify_all();
  std::unique_lock<std::mutex> lock(doneMutex);
  doneWake.wait(lock, [&] { return done; });
  return true;
}

void UsbInterface::runLater(std::function<void(UsbDevice&)> call) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (freed_) return;
    jobs_.push_back([this, call = std::move(call)] { call(*device_); });
  }
  wake_.notify_all();
}

bool UsbInterface::queueTransfer(std::uint8_t pipeId, bool in, std::uint8_t* buffer,
                                 std::uint32_t length, OVERLAPPED* record) {
  auto transfer =
      std::make_shared<Transfer>(Transfer{pipeId, in, buffer, length, record, {}, false});
  // A write's bytes are taken now, as the driver locks them: the worker must not read the
  // program's buffer after an abort has handed it back.
  if (!in) transfer->outgoing.assign(buffer, buffer + length);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (freed_) return false;
    pending_.push_back(transfer);
    records_.insert(record);
    jobs_.push_back([this, transfer] { runTransfer(transfer); });
  }
  wake_.notify_all();
  return true;
}

void UsbInterface::runTransfer(const std::shared_ptr<Transfer>& transfer) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (transfer->completed) return;  // aborted before the world saw it
  }
  // The world's bytes go to a buffer of ours first: an aborted read must not write into the
  // program's buffer after it was told the transfer ended.
  std::vector<std::uint8_t> bytes(transfer->in ? transfer->length : 0);
  bool unbounded;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    unbounded = timeouts_[transfer->pipeId] == 0;
  }
  std::uint32_t moved = 0, error = 0;
  bool ok = false;
  for (;;) {
    const std::uint32_t waitMs = unbounded ? kSliceMs : kWaitForever;
    ok = transfer->in ? device_->readPipe(transfer->pipeId, bytes.data(), transfer->length, moved,
                                          waitMs, error)
                      : device_->writePipe(transfer->pipeId, transfer->outgoing.data(),
                                           transfer->length, moved, waitMs, error);
    if (ok || !unbounded || error != ERROR_SEM_TIMEOUT || moved != 0) break;
    std::lock_guard<std::mutex> lock(mutex_);
    if (transfer->completed || freed_) return;  // aborted while the device had nothing
  }
  bool late;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    late = ++completions_ % kLateEvery == 0;
  }
  if (late) Sleep(kLateMs);
  complete(*transfer, ok ? ERROR_SUCCESS : error, ok ? moved : 0,
           transfer->in ? bytes.data() : nullptr);
}

void UsbInterface::complete(Transfer& transfer, std::uint32_t error, std::uint32_t bytes,
                            const std::uint8_t* data) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (transfer.completed) return;
  transfer.completed = true;
  if (error == ERROR_DEVICE_NOT_CONNECTED) left_ = true;
  for (auto it = pending_.begin(); it != pending_.end(); ++it) {
    if (it->get() == &transfer) {
      pending_.erase(it);
      break;
    }
  }
  if (data != nullptr && bytes > 0) std::memcpy(transfer.buffer, data, bytes);
  OVERLAPPED* record = transfer.record;
  record->InternalHigh = bytes;
  record->Internal = statusForError(error);
  // The record may be freed the moment its event is set: nothing touches it after this.
  SetEvent(record->hEvent);
}

void UsbInterface::noteTimeout(std::uint8_t pipeId, std::uint32_t timeoutMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  timeouts_[pipeId] = timeoutMs;
}

bool UsbInterface::recordPending(OVERLAPPED* record) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& transfer : pending_)
    if (transfer->record == record) return true;
  return false;
}

bool UsbInterface::recordKnown(OVERLAPPED* record) {
  std::lock_guard<std::mutex> lock(mutex_);
  return records_.count(record) != 0;
}

void UsbInterface::endPending(std::uint8_t pipeId, bool allPipes, std::uint32_t error) {
  std::vector<std::shared_ptr<Transfer>> ending;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& transfer : pending_)
      if (allPipes || transfer->pipeId == pipeId) ending.push_back(transfer);
  }
  for (const auto& transfer : ending) complete(*transfer, error, 0, nullptr);
}

void UsbInterface::free() {
  endPending(0, true, ERROR_OPERATION_ABORTED);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    freed_ = true;
    records_.clear();
  }
  wake_.notify_all();
  // As WinUSB does, the interface is let go before WinUsb_Free returns: the next open of the
  // device must not find it still held by this handle.
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait_for(lock, std::chrono::seconds(5), [this] { return released_; });
}

void* addInterface(std::shared_ptr<UsbInterface> usb) {
  std::lock_guard<std::mutex> lock(tableMutex);
  void* handle = reinterpret_cast<void*>(nextHandle);
  nextHandle += 0x10;
  table[handle] = std::move(usb);
  return handle;
}

std::shared_ptr<UsbInterface> findInterface(void* handle) {
  std::lock_guard<std::mutex> lock(tableMutex);
  auto found = table.find(handle);
  return found == table.end() ? nullptr : found->second;
}

std::shared_ptr<UsbInterface> removeInterface(void* handle) {
  std::lock_guard<std::mutex> lock(tableMutex);
  auto found = table.find(handle);
  if (found == table.end()) return nullptr;
  std::shared_ptr<UsbInterface> usb = std::move(found->second);
  table.erase(found);
  return usb;
}

void usbDeviceLeft(const std::string& worldPath) {
  std::vector<std::shared_ptr<UsbInterface>> gone;
  {
    std::lock_guard<std::mutex> lock(tableMutex);
    for (const auto& [handle, usb] : table)
      if (usb->worldPath() == worldPath) gone.push_back(usb);
  }
  for (const auto& usb : gone) usb->endPending(0, true, ERROR_DEVICE_NOT_CONNECTED);
}

}  // namespace tw::devices
