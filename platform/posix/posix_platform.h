#pragma once
// Every seam of the portable core on a POSIX system, in one object for the
// program's lifetime: the settings file, no optional libraries, POSIX files,
// no version resource and timers run by the program's own loop
// (Timers.RunUntil). The user interaction is the caller's.
#include "platform/platform.h"
#include "platform/posix/file_registry.h"
#include "platform/posix/loop_timers.h"
#include "platform/posix/posix_files.h"

#include <string>

namespace qvx {

// The program carries no version resource.
class TNoVersion : public IVersionResource {
public:
    uint32_t Size() override { return 0; }
    bool Load() override { return false; }
    bool Query(const std::string&, std::string&) override { return false; }
    void Release() override {}
};

struct TPosixPlatform {
    explicit TPosixPlatform(IUserIo& userIo,
                            const std::string& settingsPath = TFileRegistry::DefaultSettingsPath())
        : Registry(settingsPath), UserIo(userIo) {}
    TPosixPlatform(const TPosixPlatform&) = delete;
    TPosixPlatform& operator=(const TPosixPlatform&) = delete;

    TFileRegistry Registry;
    TNoLibraries Libraries;
    IUserIo& UserIo;
    TPosixFiles Files;
    TNoVersion Version;
    TLoopTimers Timers;

    TPlatform Platform() { return TPlatform{Registry, Libraries, UserIo, Files, Version, Timers}; }
};

} // namespace qvx
