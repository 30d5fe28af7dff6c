#include "flash/pending_notice.h"

#include <cstdio>

#include "common/text.h"

namespace tw {
namespace {

constexpr std::size_t kTextCapacity = 400;
constexpr std::size_t kTitleUnits = 63;
constexpr std::size_t kTextUnits = 255;

// The tray's buffers hold whole texts only: a cut balloon could say something else.
std::string fittingOrEmpty(std::string text, std::size_t maxUnits) {
  return utf16Length(text) <= maxUnits ? text : std::string();
}

}  // namespace

void postNotice(PendingNotice& notice, NoticeKind kind, const char* title, const char* format,
                ...) {
  char buffer[kTextCapacity * 2];
  va_list args;
  va_start(args, format);
  int length = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  std::string text = length < 0 ? std::string() : cutUtf8(buffer, kTextCapacity);
  notice.kind = kind;
  notice.title = fittingOrEmpty(title, kTitleUnits);
  notice.text = fittingOrEmpty(std::move(text), kTextUnits);
  notice.pending = true;
}

bool takeNotice(PendingNotice& notice, TrayNotice& out) {
  if (!notice.pending) return false;
  out.title = notice.title;
  out.text = notice.text;
  out.warning = notice.kind == NoticeKind::Warning;
  notice = PendingNotice{};
  return true;
}

}  // namespace tw
