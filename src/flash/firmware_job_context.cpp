#include "flash/firmware_job_context.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "common/text.h"

namespace tw {
namespace {

// The record's texts: formatted into their 320-byte buffers, never split inside a character.
std::string formatJobText(const char* format, va_list args) {
  char buffer[JOB_TEXT_CAPACITY];
  const int written = std::vsnprintf(buffer, sizeof buffer, format, args);
  if (written < 0) return {};
  return cutUtf8(buffer, JOB_TEXT_CAPACITY);
}

}  // namespace

void FirmwareJobContext::setProgress(JobPhase phase, int pct) {
  store_.setJobStep(phase, pct);
}

void FirmwareJobContext::setProgress(JobPhase phase, int pct, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string msg = formatJobText(format, args);
  va_end(args);
  store_.setJobStep(phase, pct, std::move(msg));
}

void FirmwareJobContext::setDetail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string detail = formatJobText(format, args);
  va_end(args);
  store_.setJobDetail(std::move(detail));
}

void FirmwareJobContext::downloadProgress(std::uint64_t received, std::uint64_t total) {
  if (total == 0) return;
  // A host that sends more than it announced must not push the bar past its share.
  received = std::min(received, total);
  const int pct = static_cast<int>(2 + received * 8 / total);
  const unsigned percent = static_cast<unsigned>(received * 100 / total);
  setProgress(JobPhase::None, pct, "Downloading firmware\xE2\x80\xA6 %u%%", percent);
}

bool FirmwareJobContext::cancellableWait(std::uint32_t ms) {
  // Steps are measured against the clock, so a wait never lasts longer than asked for.
  const std::uint64_t start = clock_.tickMs();
  for (;;) {
    if (cancelRequested()) return false;
    const std::uint64_t elapsed = clock_.tickMs() - start;
    if (elapsed >= ms) break;
    clock_.sleepMs(static_cast<std::uint32_t>(std::min<std::uint64_t>(kWaitStepMs, ms - elapsed)));
  }
  return !cancelRequested();
}

}  // namespace tw
