#pragma once
// Every seam in memory, bundled as the portable code takes them.
#include "platform/memory/fake_libraries.h"
#include "platform/memory/manual_timers.h"
#include "platform/memory/memory_files.h"
#include "platform/memory/memory_registry.h"
#include "platform/memory/scripted_userio.h"
#include "platform/memory/static_version.h"
#include "platform/platform.h"

namespace qvx {

struct TMemoryPlatform {
    TMemoryRegistry Registry;
    TFakeLibraries Libraries;
    TScriptedUserIo UserIo;
    TMemoryFiles Files;
    TStaticVersion Version = TStaticVersion::Product();
    TManualTimers Timers;
    TPlatform Platform{Registry, Libraries, UserIo, Files, Version, Timers};
};

} // namespace qvx
