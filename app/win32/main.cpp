// Entry point of Configurator.exe.
#include "app/Unitmain.h"
#include "app/win32/win_form.h"
#include "app/win32/win_pictures.h"
#include "platform/win32/win_libraries.h"
#include "platform/win32/win_platform.h"
#include "serdev/portlists.h"
#include "serdev/win32/Serdev.h"

#include <windows.h>
#include <commctrl.h>

#include <exception>

namespace {

const char* const ApplicationTitle = "Configurator";

void InitControls() {
    INITCOMMONCONTROLSEX init{};
    init.dwSize = sizeof(init);
    init.dwICC = ICC_STANDARD_CLASSES | ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES |
                 ICC_PROGRESS_CLASS | ICC_BAR_CLASSES;
    InitCommonControlsEx(&init);
}

// Runs the message loop until the window is gone. An error escaping one
// message is shown and the loop goes on, as the application's error display does.
int MessageLoop(qvx::TWin32Form& window) {
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        try {
            if (window.Handle() && IsDialogMessageA(window.Handle(), &msg))
                continue;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        } catch (const std::exception& e) {
            window.ShowError(e.what());
        }
    }
    return static_cast<int>(msg.wParam);
}

// The system's major version, which decides how the COM ports are listed.
uint32_t SystemMajorVersion() {
    return static_cast<uint32_t>(LOBYTE(LOWORD(GetVersion())));
}

int Run(int cmdShow) {
    // Before any library is loaded by name (the D2XX library, winmm, devmgr).
    qvx::KeepCurrentFolderOutOfLibrarySearch();
    InitControls();
    qvx::TWinPlatform platform;
    qvx::TPlatform seams = platform.Platform();
    // The link and its port-list threads live as long as the process.
    qvx::TSerDev link(platform.UserIo, platform.Libraries,
                      std::make_unique<qvx::TPortListThreads>(platform.Registry, platform.Libraries,
                                                              platform.UserIo,
                                                              SystemMajorVersion()));
    qvx::TfrmMain form(seams, &link);
    for (int i = 1; i < __argc; ++i)
        form.CommandLine.push_back(__argv[i]);
    qvx::TWin32Form window(form, {&form.ilIcons});
    platform.SetMainWindow(window.Handle()); // boxes of start-up already belong to it
    platform.Timers.SetErrorHandler(
        [&window](const std::string& message) { window.ShowError(message); });
    HICON bigIcon = qvx::CreateProgramIcon(GetSystemMetrics(SM_CXICON));
    HICON smallIcon = qvx::CreateProgramIcon(GetSystemMetrics(SM_CXSMICON));
    SendMessageA(window.Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon));
    SendMessageA(window.Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));
    window.QuitOnDestroy = true;
    window.Show(cmdShow);
    int result = MessageLoop(window);
    platform.Timers.SetErrorHandler(nullptr); // the window is about to go
    DestroyIcon(bigIcon);
    DestroyIcon(smallIcon);
    return result;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int cmdShow) {
    try {
        return Run(cmdShow);
    } catch (const std::exception& e) {
        qvx::ShowErrorBox(nullptr, ApplicationTitle, e.what());
    } catch (...) {
        qvx::ShowErrorBox(nullptr, ApplicationTitle, "Unknown error.");
    }
    return 1;
}
