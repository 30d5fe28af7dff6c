// What the system relies on from the dongle over HID, in one place: its identity and the reports
// the tray, the panel's device API and the firmware installer exchange with it.
#pragma once

#include <cstdint>

namespace tw::dongle {

constexpr std::uint16_t SONY_VENDOR_ID = 0x054C;
constexpr std::uint16_t DUALSENSE_PRODUCT_ID = 0x0CE6;
constexpr std::uint16_t DUALSENSE_EDGE_PRODUCT_ID = 0x0DF2;
constexpr std::uint16_t GENERIC_DESKTOP_PAGE = 1;
constexpr std::uint16_t GAME_PAD_USAGE = 5;

constexpr std::uint8_t CONTROLLER_INPUT_REPORT = 0x01;   // input, relayed in DualSense format
constexpr std::uint8_t CONTROLLER_OUTPUT_REPORT = 0x02;  // output, forwarded to the controller
constexpr std::uint8_t COMMAND_REPORT = 0xF6;            // feature, set
constexpr std::uint8_t CONFIG_REPORT = 0xF7;             // feature, get: the 22-byte record
constexpr std::uint8_t IDENTITY_REPORT = 0xF8;           // feature, get: the firmware version text
constexpr std::uint8_t SIGNAL_REPORT = 0xF9;             // feature, get: signal and audio flags

// First payload byte of the command report.
constexpr std::uint8_t COMMAND_APPLY_CONFIG = 0x01;
constexpr std::uint8_t COMMAND_SAVE_CONFIG = 0x02;
constexpr std::uint8_t COMMAND_RECONNECT = 0x03;
constexpr std::uint8_t COMMAND_RESTART_INTO_UPDATE_MODE = 0x04;

}  // namespace tw::dongle
