// The window protocol of the tray: message and command numbers. Another instance of the program
// posts some of them, so the numbers never change.
#pragma once

#include <cstdint>

#include "platform/window_messages.h"

namespace tw {

constexpr std::uintptr_t POLL_TIMER = 1;
constexpr std::uint32_t POLL_INTERVAL_MS = 2000;

constexpr std::uint32_t ID_OPEN_PANEL = 1001;
constexpr std::uint32_t ID_STATUS = 1002;
constexpr std::uint32_t ID_START_WITH_WINDOWS = 1003;
constexpr std::uint32_t ID_ABOUT = 1004;
constexpr std::uint32_t ID_QUIT = 1005;
constexpr std::uint32_t ID_UPDATE_FIRMWARE = 1006;
constexpr std::uint32_t ID_CHECK_UPDATES = 1007;
constexpr std::uint32_t ID_REPAIR = 1008;

constexpr const char* TRAY_WINDOW_CLASS = "TarnwickBridgeTrayWnd";
constexpr const char* APP_NAME = "Tarnwick Bridge";
constexpr const char* SINGLE_INSTANCE_MUTEX = "TarnwickBridgeTray.Single";
constexpr const char* VERSION_MESSAGE_NAME = "TarnwickBridge.Version";
constexpr const char* TASKBAR_CREATED_MESSAGE_NAME = "TaskbarCreated";

}  // namespace tw
