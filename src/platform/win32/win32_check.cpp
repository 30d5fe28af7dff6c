// Keeps the message numbers the system uses in step with <windows.h>.
#include <windows.h>
#include <shellapi.h>

#include "platform/window_messages.h"

static_assert(tw::msg::NULL_ == WM_NULL);
static_assert(tw::msg::DESTROY == WM_DESTROY);
static_assert(tw::msg::QUERYENDSESSION == WM_QUERYENDSESSION);
static_assert(tw::msg::CONTEXTMENU == WM_CONTEXTMENU);
static_assert(tw::msg::COMMAND == WM_COMMAND);
static_assert(tw::msg::TIMER == WM_TIMER);
static_assert(tw::msg::LBUTTONUP == WM_LBUTTONUP);
static_assert(tw::msg::LBUTTONDBLCLK == WM_LBUTTONDBLCLK);
static_assert(tw::msg::RBUTTONUP == WM_RBUTTONUP);
static_assert(tw::msg::APP == WM_APP);
static_assert(tw::msg::BALLOON_USER_CLICK == NIN_BALLOONUSERCLICK);
