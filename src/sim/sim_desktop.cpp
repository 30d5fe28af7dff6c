#include "sim/sim_desktop.h"

namespace tw::sim {
namespace {

constexpr std::uint32_t kCommandMessage = 0x0111;  // WM_COMMAND
constexpr WParam kQuitCommand = 1005;

}  // namespace

class SimDesktop::SimMutex : public NamedMutex {
 public:
  explicit SimMutex(SimDesktop& desktop) : desktop_(desktop) {}
  ~SimMutex() override {
    std::lock_guard<std::mutex> lock(desktop_.mutex_);
    --desktop_.openHandles_;
  }
  WaitOutcome wait(std::uint32_t timeoutMs) override { return desktop_.waitForMutex(timeoutMs); }

 private:
  SimDesktop& desktop_;
};

class SimDesktop::SimProcess : public ProcessHandle {
 public:
  explicit SimProcess(SimDesktop& desktop) : desktop_(desktop) {}
  ~SimProcess() override {
    std::lock_guard<std::mutex> lock(desktop_.mutex_);
    --desktop_.openHandles_;
  }
  WaitOutcome wait(std::uint32_t timeoutMs) override { return desktop_.waitForProcess(timeoutMs); }

 private:
  SimDesktop& desktop_;
};

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
  return openHandles_;
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

std::unique_ptr<NamedMutex> SimDesktop::createOwnedMutex(const std::string&, bool& alreadyExisted) {
  std::lock_guard<std::mutex> lock(mutex_);
  alreadyExisted = false;
  if (mutexCreationFails) return nullptr;
  alreadyExisted = otherRunning();
  ++openHandles_;
  return std::make_unique<SimMutex>(*this);
}

WaitOutcome SimDesktop::waitForMutex(std::uint32_t timeoutMs) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!otherRunning()) return WaitOutcome::Abandoned;  // its owner ended without releasing it
  }
  clock_.sleepMs(timeoutMs);
  return WaitOutcome::TimedOut;
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

std::unique_ptr<ProcessHandle> SimDesktop::openProcessForWaiting(std::uint32_t processId) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!other || other->processId != processId || other->processOpenFails) return nullptr;
  ++openHandles_;
  return std::make_unique<SimProcess>(*this);
}

WaitOutcome SimDesktop::waitForProcess(std::uint32_t timeoutMs) {
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
