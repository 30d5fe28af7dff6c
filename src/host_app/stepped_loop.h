// A message loop whose run() hands control to its caller instead of waiting for messages, so a
// test on virtual time decides when messages are dispatched.
#pragma once

#include <functional>

#include "platform/host/queue_message_loop.h"

namespace tw::host {

class SteppedLoop : public QueueMessageLoop {
 public:
  using QueueMessageLoop::QueueMessageLoop;
  std::function<void()> duringRun;
  bool ran = false;
  void run() override {
    ran = true;
    dispatchPending();
    if (duringRun) duringRun();
  }
};

}  // namespace tw::host
