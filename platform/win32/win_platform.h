#pragma once
// Every seam of the portable core, implemented over Win32, in one object for
// the program's lifetime. Create it on the GUI thread: the timers belong to
// the thread that starts the first one. The window code decides how errors
// escaping a timer tick are shown (Timers.SetErrorHandler); until it does,
// they appear in a message box of their own.
#include "platform/platform.h"
#include "platform/win32/win_files.h"
#include "platform/win32/win_libraries.h"
#include "platform/win32/win_registry.h"
#include "platform/win32/win_timers.h"
#include "platform/win32/win_userio.h"
#include "platform/win32/win_version.h"

namespace qvx {

struct TWinPlatform {
    TWinRegistry Registry;
    TWinLibraries Libraries;
    TWinUserIo UserIo;
    TWinFiles Files;
    TWinVersion Version;
    TWinTimers Timers;

    // Once the main window exists: it then owns boxes and dialogs.
    void SetMainWindow(HWND window) { UserIo.SetMainWindow(window); }

    TPlatform Platform() { return TPlatform{Registry, Libraries, UserIo, Files, Version, Timers}; }
};

} // namespace qvx
