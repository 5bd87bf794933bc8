#pragma once
// Every in-memory seam in one bundle, with the TPlatform that refers to them:
// the platform a window gets in the native tests and the fuzz targets.
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
