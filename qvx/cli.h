#pragma once
// The console program's commands: qvx ports, identify, mode, power, voltage,
// selftest, upload, reset and passthru, on the same engines as the window.
#include "platform/platform.h"
#include "qvx/console.h"
#include "qvx/console_userio.h"
#include "serdev/link.h"

#include <functional>
#include <string>
#include <vector>

namespace qvx {

// Exit statuses, worst last.
namespace qvxexit {
constexpr int Ok = 0;
constexpr int Usage = 2;
constexpr int NotFound = 3;
constexpr int NoSuchMode = 4;
constexpr int TestWarnings = 5;
constexpr int TestErrors = 6;
constexpr int UploadFailed = 7;
constexpr int BadFile = 8;
constexpr int PassThruFailed = 9;
constexpr int PortUnavailable = 10;
constexpr int Interrupted = 130;
} // namespace qvxexit

struct TCliHost {
    TPlatform& Platform;
    // The boxes of the engines and the link (Platform.UserIo is the same).
    TConsoleUserIo& Boxes;
    IDeviceLink& Link;
    IConsole& Console;
    // After a failed open: whether another program holds the port.
    std::function<bool()> PortBusy;
    // The pass-thru commands exist (Windows).
    bool PassThru = false;
    // The settings key; empty for the program's own.
    std::string SettingsKey;
};

// Runs the command line (without the program name); returns the exit status.
int RunCli(const std::vector<std::string>& args, TCliHost& host);

} // namespace qvx
