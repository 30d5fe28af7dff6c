// Device handles that are real kernel objects: every device interface of the world is a named
// pipe, so the program's own CreateFileW, ReadFile, WriteFile, CancelIoEx, GetOverlappedResult
// and CloseHandle are Wine's real ones. The enumeration hands out the pipe's name as the device
// path; a stand-in function finds its device again from the name of the handle it is given.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace tw::devices {

// "\\?\hid#vid_054c&..." -> "\\.\pipe\tw-hid#vid_054c&...": the device's path as the program
// sees it, and back. Empty when `path` is not one of ours.
std::string pipePathFor(const std::string& worldPath);
std::string worldPathFor(const std::string& pipePath);

// The world path behind a handle the program opened on one of our pipes; empty when the handle
// is not one (closed, or another kind of file).
std::string worldPathOf(HANDLE handle);
// The device behind the handle has gone (its pipe was closed from our side).
bool deviceGone(HANDLE handle);

// Serves one connection (one CreateFileW of the program) until the device or the program lets
// go; `serverEnd` is the pipe's overlapped server end, closed by the caller afterwards.
using ServeConnection = std::function<void(HANDLE serverEnd)>;
// Whether the device at the path is still on the bus.
using StillPresent = std::function<bool()>;

// Makes sure a CreateFileW on the pipe of `worldPath` finds an instance to connect to, from now
// until the device leaves the bus.
void keepListening(const std::string& worldPath, StillPresent present, ServeConnection serve);

// Makes every listener look at once whether its device is still there.
void notifyWorldChanged();

// Waits (up to `ms`) until the pipe of a device that has left the bus is gone, so an open from
// now on fails.
bool waitUntilClosed(const std::string& worldPath, DWORD ms);

}  // namespace tw::devices
