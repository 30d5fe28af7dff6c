#include "platform/win32/overlapped_io.h"

#include <atomic>
#include <cstring>
#include <new>

#include "platform/win32/scoped_win.h"

namespace tw::win32 {

struct TransferRecord {
  OVERLAPPED overlapped{};
  ScopedHandle event;
  std::unique_ptr<std::uint8_t[]> buffer;
  std::size_t capacity = 0;
  // After a hand-off: the thread pool's wait, and how many of the two parties (the one handing
  // off, the pool's callback) have yet to let go. The last one frees the record.
  HANDLE wait = nullptr;
  std::atomic<int> holders{0};
};

void TransferRecordDeleter::operator()(TransferRecord* record) const {
  delete record;
}

namespace {

void letGo(TransferRecord* record) {
  if (record->holders.fetch_sub(1) != 1) return;
  // A one-shot wait that has fired still has to be unregistered to free it; without a completion
  // event this never blocks, so it is allowed inside the wait's own callback.
  UnregisterWait(record->wait);
  delete record;
}

// Runs on a thread-pool thread once the record's event is set: the driver has let go.
void CALLBACK recordLanded(void* context, BOOLEAN) {
  letGo(static_cast<TransferRecord*>(context));
}

}  // namespace

OverlappedTransfer::OverlappedTransfer() = default;

OverlappedTransfer::~OverlappedTransfer() {
  if (!inFlight_) return;  // the record is ours alone and goes with us
  // A cancelled transfer the driver has not finished: it may still write into the record and the
  // buffer, so they must live on. Waiting here until it lands could take without limit, and the
  // device is often closed on the UI thread. So the thread pool waits for the record's event and
  // frees the record then, and the caller goes on at once. The device's file may close before
  // that: closing it makes the system cancel whatever is still pending on it, which is what
  // finally sets the event.
  TransferRecord* record = record_.release();
  if (WaitForSingleObject(record->event.get(), 0) == WAIT_OBJECT_0) {
    delete record;  // landed since the last look
    return;
  }
  record->holders.store(2);
  HANDLE wait = nullptr;
  if (!RegisterWaitForSingleObject(&wait, record->event.get(), recordLanded, record, INFINITE,
                                   WT_EXECUTEONLYONCE)) {
    // Without a wait nobody can tell when the driver is done, and freeing the record early could
    // let the driver write into freed memory: keeping it is the lesser harm.
    return;
  }
  record->wait = wait;
  letGo(record);
}

std::uint8_t* OverlappedTransfer::prepare(std::size_t length, DWORD reapWaitMs) {
  if (inFlight_) {
    // The record can be used again only once the driver has let go of it.
    if (WaitForSingleObject(record_->event.get(), reapWaitMs) != WAIT_OBJECT_0) return nullptr;
    inFlight_ = false;
  }
  if (!record_) {
    record_.reset(new (std::nothrow) TransferRecord);
    if (!record_) return nullptr;
  }
  TransferRecord& record = *record_;
  if (!record.event.valid()) record.event.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!record.event.valid()) return nullptr;
  if (length == 0) length = 1;  // a zero-length transfer still hands the driver an address
  if (record.capacity < length) {
    std::unique_ptr<std::uint8_t[]> grown = allocateArray<std::uint8_t>(length);
    if (!grown) return nullptr;
    record.buffer = std::move(grown);
    record.capacity = length;
  }
  std::memset(&record.overlapped, 0, sizeof record.overlapped);
  record.overlapped.hEvent = record.event.get();
  ResetEvent(record.event.get());
  return record.buffer.get();
}

TransferOutcome OverlappedTransfer::run(OverlappedCalls& calls, DWORD length, DWORD waitMs,
                                        DWORD cancelWaitMs, DWORD& bytes, DWORD& error) {
  bytes = 0;
  error = 0;
  if (!record_ || inFlight_ || length > record_->capacity) {
    error = ERROR_INVALID_PARAMETER;  // not prepared for this transfer
    return TransferOutcome::Failed;
  }
  TransferRecord& record = *record_;
  if (calls.start(record.buffer.get(), length, &record.overlapped)) {
    // Finished at once; the count comes from the record.
    if (calls.result(&record.overlapped, bytes)) return TransferOutcome::Done;
    error = GetLastError();
    return TransferOutcome::Failed;
  }
  error = GetLastError();
  if (error != ERROR_IO_PENDING) return TransferOutcome::Failed;

  if (WaitForSingleObject(record.event.get(), waitMs) == WAIT_OBJECT_0) {
    if (calls.result(&record.overlapped, bytes)) {
      error = 0;
      return TransferOutcome::Done;
    }
    error = GetLastError();
    bytes = 0;
    return TransferOutcome::Failed;
  }
  calls.cancel(&record.overlapped);
  if (WaitForSingleObject(record.event.get(), cancelWaitMs) == WAIT_OBJECT_0) {
    DWORD ignored = 0;
    calls.result(&record.overlapped, ignored);
  } else {
    inFlight_ = true;  // the driver still owns the record and the buffer
  }
  error = ERROR_SEM_TIMEOUT;
  return TransferOutcome::TimedOut;
}

}  // namespace tw::win32
