#pragma once
// The seams through which the portable core reaches the platform.
#include "platform/files.h"
#include "platform/library.h"
#include "platform/registry.h"
#include "platform/timers.h"
#include "platform/userio.h"
#include "platform/version.h"

namespace qvx {

struct TPlatform {
    IRegistry& Registry;
    ILibraryLoader& Libraries;
    IUserIo& UserIo;
    IFileSystem& Files;
    IVersionResource& Version;
    ITimerService& Timers;
};

} // namespace qvx
