#include "sim/sim_desktop.h"

#include <algorithm>

namespace tw::sim {
namespace {

constexpr std::uint32_t kCommandMessage = 0x0111;  // WM_COMMAND
constexpr WParam kQuitCommand = 1005;

}  // namespace

void SimDesktop::answerNextMessageBox(MessageBoxAnswer answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_.push_back(answer);
}

std::vector<PostedMessage> SimDesktop::posted() {
  std::lock_guard<std::mutex> lock(mutex_);
  return posted_;
}

std::vector<ShownMessageBox> SimDesktop::messageBoxes() {
  std::lock_guard<std::mutex> lock(mutex_);
  return boxes_;
}

std::vector<std::uint32_t> SimDesktop::foregroundAllowed() {
  std::lock_guard<std::mutex> lock(mutex_);
  return foreground_;
}

int SimDesktop::openHandles() {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(open_.size());
}

MessageBoxAnswer SimDesktop::messageBox(const std::string& text, const std::string& caption,
                                        MessageBoxIcon icon, MessageBoxButtons buttons) {
  ShownMessageBox shown{text, caption, icon, buttons};
  MessageBoxAnswer answer;
  std::function<void(const ShownMessageBox&)> listener;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    boxes_.push_back(shown);
    if (!answers_.empty()) {
      answer = answers_.front();
      answers_.pop_front();
    } else {
      // Nobody scripted an answer: the person takes the default button.
      answer = buttons == MessageBoxButtons::Ok ? MessageBoxAnswer::Ok : MessageBoxAnswer::No;
    }
    listener = onMessageBox;
  }
  if (listener) listener(shown);
  return answer;
}

KernelHandle SimDesktop::newHandle() {
  KernelHandle handle = nextHandle_;
  nextHandle_ += 4;
  open_.push_back(handle);
  return handle;
}

KernelHandle SimDesktop::createOwnedMutex(const std::string&, bool& alreadyExisted) {
  std::lock_guard<std::mutex> lock(mutex_);
  alreadyExisted = false;
  if (mutexCreationFails) return 0;
  alreadyExisted = otherRunning();
  return newHandle();
}

WaitOutcome SimDesktop::waitForMutex(KernelHandle, std::uint32_t timeoutMs) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!otherRunning()) return WaitOutcome::Abandoned;  // its owner ended without releasing it
  }
  clock_.sleepMs(timeoutMs);
  return WaitOutcome::TimedOut;
}

void SimDesktop::closeHandle(KernelHandle handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = std::find(open_.begin(), open_.end(), handle);
  if (it != open_.end()) open_.erase(it);
}

WindowId SimDesktop::findWindowByClass(const std::string&) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!otherRunning() || !other->hasWindow || other->messageOnlyWindow) return 0;
  return other->window;
}

WindowId SimDesktop::findMessageOnlyWindowByClass(const std::string&) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!otherRunning() || !other->hasWindow || !other->messageOnlyWindow) return 0;
  return other->window;
}

bool SimDesktop::sendMessageWithTimeout(WindowId window, std::uint32_t, WParam, LParam,
                                        std::uint32_t timeoutMs, std::uintptr_t& result) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!otherRunning() || other->window != window) return false;
    if (other->versionAnswer) {
      result = *other->versionAnswer;
      return true;
    }
  }
  clock_.sleepMs(timeoutMs);
  return false;
}

bool SimDesktop::postMessageTo(WindowId window, std::uint32_t message, WParam wParam,
                               LParam lParam) {
  std::lock_guard<std::mutex> lock(mutex_);
  posted_.push_back(PostedMessage{window, message, wParam, lParam});
  if (!otherRunning() || other->window != window) return false;
  if (message == kCommandMessage && (wParam & 0xFFFF) == kQuitCommand && other->quitsWhenAsked) {
    other->exited = true;
  }
  return true;
}

std::uint32_t SimDesktop::windowProcessId(WindowId window) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!other || other->window != window) return 0;
  return other->processId;
}

KernelHandle SimDesktop::openProcessForWaiting(std::uint32_t processId) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!other || other->processId != processId || other->processOpenFails) return 0;
  return newHandle();
}

WaitOutcome SimDesktop::waitForProcess(KernelHandle, std::uint32_t timeoutMs) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!otherRunning()) return WaitOutcome::Signalled;
  }
  clock_.sleepMs(timeoutMs);
  return WaitOutcome::TimedOut;
}

void SimDesktop::allowSetForegroundWindow(std::uint32_t processId) {
  std::lock_guard<std::mutex> lock(mutex_);
  foreground_.push_back(processId);
}

}  // namespace tw::sim
