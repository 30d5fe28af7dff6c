#include "sim/sim_usb_port.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>

namespace tw::sim {
namespace {

constexpr std::uint32_t kErrorNoMoreItems = 259;
constexpr std::size_t kPacketSize = 64;
constexpr std::uint64_t kForever = std::numeric_limits<std::uint64_t>::max();
// WinUSB's default time-out of a control request.
constexpr std::uint64_t kControlTimeoutUs = 5'000'000;

bool sameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

class SimUsbHandle : public UsbDevice {
 public:
  SimUsbHandle(SimUsbPort& port, std::shared_ptr<UsbFunctionModel> function,
               std::uint64_t generation)
      : port_(port), function_(std::move(function)), generation_(generation) {
    for (const UsbPipeInfo& info : function_->pipes()) {
      Pipe pipe;
      pipe.info = info;
      pipes_.push_back(pipe);
    }
  }
  ~SimUsbHandle() override { port_.closed(function_.get(), generation_); }

  bool queryInterfaceSettings(std::uint8_t alternateSetting, UsbInterfaceDescriptor& out,
                              std::uint32_t& error) override {
    if (!alive(error)) return false;
    if (alternateSetting != 0) return failWith(error, kErrorNoMoreItems);
    out = function_->descriptor();
    return true;
  }

  bool queryPipe(std::uint8_t alternateSetting, std::uint8_t pipeIndex, UsbPipeInfo& out,
                 std::uint32_t& error) override {
    if (!alive(error)) return false;
    if (alternateSetting != 0 || pipeIndex >= pipes_.size()) {
      return failWith(error, kErrorNoMoreItems);
    }
    out = pipes_[pipeIndex].info;
    return true;
  }

  bool getPipePolicy(std::uint8_t pipeId, UsbPipePolicy policy, std::uint32_t& value,
                     std::uint32_t& error) override {
    Pipe* pipe = find(pipeId);
    if (pipe == nullptr) return failWith(error, USB_ERROR_INVALID_PARAMETER);
    if (!alive(error)) return false;
    switch (policy) {
      case UsbPipePolicy::MaximumTransferSize:
        value = function_->maximumTransferSize();
        return true;
      case UsbPipePolicy::AutoClearStall:
        value = pipe->autoClearStall ? 1 : 0;
        return true;
      case UsbPipePolicy::PipeTransferTimeout:
        value = pipe->timeoutMs;
        return true;
    }
    return failWith(error, USB_ERROR_INVALID_PARAMETER);
  }

  bool setPipePolicy(std::uint8_t pipeId, UsbPipePolicy policy, std::uint32_t value,
                     std::uint32_t& error) override {
    Pipe* pipe = find(pipeId);
    if (pipe == nullptr) return failWith(error, USB_ERROR_INVALID_PARAMETER);
    if (!alive(error)) return false;
    switch (policy) {
      case UsbPipePolicy::AutoClearStall:
        pipe->autoClearStall = value != 0;
        return true;
      case UsbPipePolicy::PipeTransferTimeout:
        pipe->timeoutMs = value;
        return true;
      case UsbPipePolicy::MaximumTransferSize:
        break;  // read only
    }
    return failWith(error, USB_ERROR_INVALID_PARAMETER);
  }

  bool readPipe(std::uint8_t pipeId, std::uint8_t* buffer, std::uint32_t size,
                std::uint32_t& transferred, std::uint32_t waitMs, std::uint32_t& error) override {
    transferred = 0;
    Pipe* pipe = find(pipeId);
    if (pipe == nullptr || (pipeId & 0x80) == 0 || buffer == nullptr || size == 0) {
      return failWith(error, USB_ERROR_INVALID_PARAMETER);
    }
    if (!alive(error)) return false;
    std::uint64_t budget = budgetUs(*pipe, waitMs);
    switch (function_->faults.next("read-pipe")) {
      case FaultKind::Stall:
        finish(budget);
        return failWith(error, USB_ERROR_SEM_TIMEOUT);
      case FaultKind::Fail:
        function_->halt(pipeId);
        break;
      case FaultKind::Busy:
        finish(function_->timing().transferUs(kPacketSize));
        return true;  // an empty packet
      case FaultKind::None:
        break;
    }
    if (pipe->hostHalted) return failWith(error, USB_ERROR_GEN_FAILURE);
    // A packet that did not fit the previous read comes first, and alone.
    if (!pipe->pending.empty()) {
      transferred = static_cast<std::uint32_t>(std::min<std::size_t>(size, pipe->pending.size()));
      std::memcpy(buffer, pipe->pending.data(), transferred);
      pipe->pending.erase(pipe->pending.begin(), pipe->pending.begin() + transferred);
      return true;
    }
    std::uint64_t start = now();
    std::uint64_t spent = 0;
    while (transferred < size) {
      if (!present(start, spent)) return fail(spent, error, USB_ERROR_DEVICE_NOT_CONNECTED);
      std::uint8_t packet[kPacketSize];
      std::size_t length = 0;
      UsbFunctionModel::Handshake handshake = function_->sendPacket(pipeId, packet, length);
      if (handshake == UsbFunctionModel::Handshake::Nak) {
        if (!waitForDevice(budget, spent)) return fail(spent, error, USB_ERROR_SEM_TIMEOUT);
        continue;
      }
      if (handshake == UsbFunctionModel::Handshake::Stall) {
        stalled(*pipe);
        return fail(spent, error, USB_ERROR_GEN_FAILURE);
      }
      spent += function_->timing().transferUs(std::max<std::size_t>(length, 1));
      std::size_t n = std::min<std::size_t>(length, size - transferred);
      std::memcpy(buffer + transferred, packet, n);
      pipe->pending.assign(packet + n, packet + length);
      transferred += static_cast<std::uint32_t>(n);
      if (length < kPacketSize) break;  // a short packet ends the transfer
    }
    finish(spent);
    return true;
  }

  bool writePipe(std::uint8_t pipeId, const std::uint8_t* data, std::uint32_t size,
                 std::uint32_t& transferred, std::uint32_t waitMs, std::uint32_t& error) override {
    transferred = 0;
    Pipe* pipe = find(pipeId);
    if (pipe == nullptr || (pipeId & 0x80) != 0 || (data == nullptr && size > 0)) {
      return failWith(error, USB_ERROR_INVALID_PARAMETER);
    }
    if (!alive(error)) return false;
    std::uint64_t budget = budgetUs(*pipe, waitMs);
    std::uint32_t toSend = size;
    switch (function_->faults.next("write-pipe")) {
      case FaultKind::Stall:
        finish(budget);
        return failWith(error, USB_ERROR_SEM_TIMEOUT);
      case FaultKind::Fail:
        function_->halt(pipeId);
        break;
      case FaultKind::Busy:
        toSend = size / 2;  // a short write
        break;
      case FaultKind::None:
        break;
    }
    if (pipe->hostHalted) return failWith(error, USB_ERROR_GEN_FAILURE);
    std::uint64_t start = now();
    std::uint64_t spent = 0;
    bool first = true;
    while (first || transferred < toSend) {
      if (!present(start, spent)) return fail(spent, error, USB_ERROR_DEVICE_NOT_CONNECTED);
      std::size_t length = std::min<std::size_t>(kPacketSize, toSend - transferred);
      std::uint64_t extraUs = 0;
      UsbFunctionModel::Handshake handshake =
          function_->receivePacket(pipeId, data == nullptr ? nullptr : data + transferred, length,
                                   start + spent / 1000, extraUs);
      if (handshake == UsbFunctionModel::Handshake::Nak) {
        if (!waitForDevice(budget, spent)) return fail(spent, error, USB_ERROR_SEM_TIMEOUT);
        continue;
      }
      if (handshake == UsbFunctionModel::Handshake::Stall) {
        pipe->hostHalted = true;  // AUTO_CLEAR_STALL does not apply to OUT pipes
        return fail(spent, error, USB_ERROR_GEN_FAILURE);
      }
      first = false;
      spent += function_->timing().transferUs(std::max<std::size_t>(length, 1)) + extraUs;
      transferred += static_cast<std::uint32_t>(length);
    }
    finish(spent);
    return true;
  }

  bool controlTransfer(const UsbSetupPacket& setup, std::uint8_t* buffer,
                       std::uint32_t& transferred, std::uint32_t& error) override {
    transferred = 0;
    if (setup.length > 0 && buffer == nullptr) {
      return failWith(error, USB_ERROR_INVALID_PARAMETER);
    }
    if (!alive(error)) return false;
    std::uint64_t cost = function_->timing().controlTransferUs;
    switch (function_->faults.next("control")) {
      case FaultKind::Stall:
        finish(kControlTimeoutUs);
        return failWith(error, USB_ERROR_SEM_TIMEOUT);
      case FaultKind::Fail:
      case FaultKind::Busy:
        finish(cost);
        return failWith(error, USB_ERROR_GEN_FAILURE);
      case FaultKind::None:
        break;
    }
    UsbFunctionModel::Handshake handshake = function_->control(setup, buffer, transferred, now());
    finish(cost);
    if (handshake != UsbFunctionModel::Handshake::Ack) {
      transferred = 0;
      return failWith(error, USB_ERROR_GEN_FAILURE);
    }
    return true;
  }

  bool abortPipe(std::uint8_t pipeId, std::uint32_t& error) override {
    Pipe* pipe = find(pipeId);
    if (pipe == nullptr) return failWith(error, USB_ERROR_INVALID_PARAMETER);
    if (!alive(error)) return false;
    pipe->pending.clear();
    return true;
  }

  // Resets the data toggle and clears the halt on both sides (a CLEAR_FEATURE(ENDPOINT_HALT)
  // goes to the device).
  bool resetPipe(std::uint8_t pipeId, std::uint32_t& error) override {
    Pipe* pipe = find(pipeId);
    if (pipe == nullptr) return failWith(error, USB_ERROR_INVALID_PARAMETER);
    if (!alive(error)) return false;
    UsbSetupPacket clearHalt{0x02, 0x01, 0, pipeId, 0};
    std::uint32_t ignored = 0;
    function_->control(clearHalt, nullptr, ignored, now());
    pipe->hostHalted = false;
    pipe->pending.clear();
    finish(function_->timing().controlTransferUs);
    return true;
  }

 private:
  struct Pipe {
    UsbPipeInfo info;
    bool autoClearStall = false;
    std::uint32_t timeoutMs = 0;  // 0: no limit
    bool hostHalted = false;
    std::vector<std::uint8_t> pending;  // what a read had no room for
  };

  Pipe* find(std::uint8_t pipeId) {
    for (Pipe& pipe : pipes_) {
      if (pipe.info.pipeId == pipeId) return &pipe;
    }
    return nullptr;
  }

  std::uint64_t now() { return port_.clock_.tickMs(); }

  bool present(std::uint64_t startMs, std::uint64_t spentUs) {
    std::uint64_t generation = 0;
    return function_->present(startMs + spentUs / 1000, generation) && generation == generation_;
  }

  bool alive(std::uint32_t& error) {
    if (present(now(), 0)) return true;
    error = USB_ERROR_DEVICE_NOT_CONNECTED;
    return false;
  }

  static bool failWith(std::uint32_t& error, std::uint32_t value) {
    error = value;
    return false;
  }

  bool fail(std::uint64_t spentUs, std::uint32_t& error, std::uint32_t value) {
    finish(spentUs);
    return failWith(error, value);
  }

  static std::uint64_t budgetUs(const Pipe& pipe, std::uint32_t waitMs) {
    std::uint64_t budget = kForever;
    if (pipe.timeoutMs != 0) budget = std::uint64_t(pipe.timeoutMs) * 1000;
    if (waitMs != kWaitForever) budget = std::min(budget, std::uint64_t(waitMs) * 1000);
    return budget;
  }

  // The device NAKed: lets it get on with its work within what is left of the budget. False
  // when the transfer times out first, or when nothing is ever going to come.
  bool waitForDevice(std::uint64_t budget, std::uint64_t& spent) {
    std::uint64_t busy = function_->busyUs();
    if (busy == 0) {
      spent = budget;
      return false;
    }
    std::uint64_t step = budget == kForever ? busy : std::min(busy, budget - spent);
    function_->advance(step);
    spent += step;
    return function_->busyUs() == 0 || spent < budget;
  }

  void finish(std::uint64_t spentUs) {
    if (spentUs == kForever) {
      port_.clock_.sleepMs(kWaitForever);
      return;
    }
    function_->meter().charge(spentUs);
  }

  void stalled(Pipe& pipe) {
    // WinUSB clears a stall on an IN pipe by itself only when asked to; the transfer fails
    // either way.
    if (pipe.autoClearStall) {
      function_->clearHalt(pipe.info.pipeId);
    } else {
      pipe.hostHalted = true;
    }
  }

  SimUsbPort& port_;
  std::shared_ptr<UsbFunctionModel> function_;
  std::uint64_t generation_;
  std::vector<Pipe> pipes_;
};

void SimUsbPort::plug(std::shared_ptr<UsbFunctionModel> function) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (std::find(functions_.begin(), functions_.end(), function) == functions_.end()) {
    functions_.push_back(std::move(function));
  }
}

void SimUsbPort::unplug(const std::shared_ptr<UsbFunctionModel>& function) {
  std::lock_guard<std::mutex> lock(mutex_);
  functions_.erase(std::remove(functions_.begin(), functions_.end(), function), functions_.end());
}

bool SimUsbPort::listInterfaces(const std::string& classGuid, std::size_t maxEntries,
                                std::vector<UsbInterfaceEntry>& entries) {
  if (beforeEnumerate) beforeEnumerate();
  entries.clear();
  if (enumerationFaults.next("enumerate") != FaultKind::None) return false;
  std::vector<std::shared_ptr<UsbFunctionModel>> functions;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    functions = functions_;
  }
  std::uint64_t now = clock_.tickMs();
  for (const auto& function : functions) {
    if (entries.size() >= maxEntries) break;
    std::uint64_t generation = 0;
    if (!sameText(function->classGuid(), classGuid) || !function->present(now, generation)) {
      continue;
    }
    entries.push_back(UsbInterfaceEntry{function->interfacePath(), function->parentId()});
  }
  return true;
}

std::unique_ptr<UsbDevice> SimUsbPort::open(const std::string& path, UsbOpenStep& failedStep,
                                            std::uint32_t& error) {
  if (beforeEnumerate) beforeEnumerate();
  failedStep = UsbOpenStep::Open;
  std::vector<std::shared_ptr<UsbFunctionModel>> functions;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    functions = functions_;
  }
  std::uint64_t now = clock_.tickMs();
  std::shared_ptr<UsbFunctionModel> found;
  std::uint64_t generation = 0;
  for (const auto& function : functions) {
    if (sameText(function->interfacePath(), path) && function->present(now, generation)) {
      found = function;
      break;
    }
  }
  if (!found) {
    error = USB_ERROR_FILE_NOT_FOUND;
    return nullptr;
  }
  switch (found->faults.next("open")) {
    case FaultKind::Fail:
    case FaultKind::Stall:
      error = USB_ERROR_GEN_FAILURE;
      return nullptr;
    case FaultKind::Busy:
      error = USB_ERROR_BUSY;
      return nullptr;
    case FaultKind::None:
      break;
  }
  if (std::uint32_t held = found->heldError()) {
    error = held;
    return nullptr;
  }
  {
    // WinUSB lets one handle at a time have the interface.
    std::lock_guard<std::mutex> lock(mutex_);
    if (open_.count({found.get(), generation}) > 0) {
      error = USB_ERROR_ACCESS_DENIED;
      return nullptr;
    }
  }
  if (found->faults.next("initialize") != FaultKind::None) {
    failedStep = UsbOpenStep::WinUsb;
    error = USB_ERROR_GEN_FAILURE;
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  ++open_[{found.get(), generation}];
  return std::make_unique<SimUsbHandle>(*this, found, generation);
}

int SimUsbPort::openHandles(const std::shared_ptr<UsbFunctionModel>& function) {
  std::lock_guard<std::mutex> lock(mutex_);
  int count = 0;
  for (const auto& [key, handles] : open_) {
    if (key.first == function.get()) count += handles;
  }
  return count;
}

void SimUsbPort::closed(UsbFunctionModel* function, std::uint64_t generation) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = open_.find({function, generation});
  if (it != open_.end() && --it->second <= 0) open_.erase(it);
}

}  // namespace tw::sim
