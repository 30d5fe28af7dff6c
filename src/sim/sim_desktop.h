// The simulated desktop: message boxes with scripted answers, and possibly another running
// instance of the program (with its window, process and the single-instance mutex), so the
// start-up hand-over can be exercised without Windows.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/desktop.h"

namespace tw::sim {

// Another instance of the program already running when ours starts.
struct OtherInstance {
  std::uint32_t processId = 4242;
  WindowId window = 0x5150;
  bool messageOnlyWindow = false;
  bool hasWindow = true;
  // What it answers to the version message; nullopt = it is hung and never answers.
  std::optional<std::uint32_t> versionAnswer = 1002000;
  // Whether it quits when asked (its user may decline the busy-job question).
  bool quitsWhenAsked = true;
  bool processOpenFails = false;
  bool exited = false;
};

struct PostedMessage {
  WindowId window;
  std::uint32_t message;
  WParam wParam;
  LParam lParam;
};

struct ShownMessageBox {
  std::string text;
  std::string caption;
  MessageBoxIcon icon;
  MessageBoxButtons buttons;
};

class SimDesktop : public Desktop {
 public:
  explicit SimDesktop(Clock& clock) : clock_(clock) {}

  // Scripting.
  std::optional<OtherInstance> other;
  bool mutexCreationFails = false;
  void answerNextMessageBox(MessageBoxAnswer answer);
  std::function<void(const ShownMessageBox&)> onMessageBox;

  // Records.
  std::vector<PostedMessage> posted();
  std::vector<ShownMessageBox> messageBoxes();
  std::vector<std::uint32_t> foregroundAllowed();
  int openHandles();

  MessageBoxAnswer messageBox(const std::string& text, const std::string& caption,
                              MessageBoxIcon icon, MessageBoxButtons buttons) override;
  KernelHandle createOwnedMutex(const std::string& name, bool& alreadyExisted) override;
  WaitOutcome waitForMutex(KernelHandle mutex, std::uint32_t timeoutMs) override;
  void closeHandle(KernelHandle handle) override;
  WindowId findWindowByClass(const std::string& className) override;
  WindowId findMessageOnlyWindowByClass(const std::string& className) override;
  bool sendMessageWithTimeout(WindowId window, std::uint32_t message, WParam wParam, LParam lParam,
                              std::uint32_t timeoutMs, std::uintptr_t& result) override;
  bool postMessageTo(WindowId window, std::uint32_t message, WParam wParam, LParam lParam) override;
  std::uint32_t windowProcessId(WindowId window) override;
  KernelHandle openProcessForWaiting(std::uint32_t processId) override;
  WaitOutcome waitForProcess(KernelHandle process, std::uint32_t timeoutMs) override;
  void allowSetForegroundWindow(std::uint32_t processId) override;

 private:
  bool otherRunning() const { return other && !other->exited; }
  KernelHandle newHandle();

  Clock& clock_;
  std::mutex mutex_;
  std::deque<MessageBoxAnswer> answers_;
  std::vector<PostedMessage> posted_;
  std::vector<ShownMessageBox> boxes_;
  std::vector<std::uint32_t> foreground_;
  std::vector<KernelHandle> open_;
  KernelHandle nextHandle_ = 0x100;
};

}  // namespace tw::sim
