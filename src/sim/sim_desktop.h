// The simulated desktop: message boxes with scripted answers, and possibly another running
// instance of the program (with its window, process and the single-instance mutex), so the
// start-up hand-over can be exercised without Windows.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
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
  // Mutex and process objects handed out and not yet destroyed.
  int openHandles();

  MessageBoxAnswer messageBox(const std::string& text, const std::string& caption,
                              MessageBoxIcon icon, MessageBoxButtons buttons) override;
  std::unique_ptr<NamedMutex> createOwnedMutex(const std::string& name,
                                               bool& alreadyExisted) override;
  WindowId findWindowByClass(const std::string& className) override;
  WindowId findMessageOnlyWindowByClass(const std::string& className) override;
  bool sendMessageWithTimeout(WindowId window, std::uint32_t message, WParam wParam, LParam lParam,
                              std::uint32_t timeoutMs, std::uintptr_t& result) override;
  bool postMessageTo(WindowId window, std::uint32_t message, WParam wParam, LParam lParam) override;
  std::uint32_t windowProcessId(WindowId window) override;
  std::unique_ptr<ProcessHandle> openProcessForWaiting(std::uint32_t processId) override;
  void allowSetForegroundWindow(std::uint32_t processId) override;

 private:
  class SimMutex;
  class SimProcess;
  bool otherRunning() const { return other && !other->exited; }
  // The waits of the mutex and process objects, which must not outlive the desktop.
  WaitOutcome waitForMutex(std::uint32_t timeoutMs);
  WaitOutcome waitForProcess(std::uint32_t timeoutMs);

  Clock& clock_;
  std::mutex mutex_;
  std::deque<MessageBoxAnswer> answers_;
  std::vector<PostedMessage> posted_;
  std::vector<ShownMessageBox> boxes_;
  std::vector<std::uint32_t> foreground_;
  int openHandles_ = 0;
};

}  // namespace tw::sim
