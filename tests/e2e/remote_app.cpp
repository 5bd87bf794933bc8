#include "tests/e2e/remote_app.h"

#include "tests/win32/dc_pixels.h"
#include "tests/win32/png_writer.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace qvx::e2e {

namespace {

std::string ClassOf(HWND window) {
    char name[128] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

DWORD ProcessOf(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid;
}

struct TTopLevelSearch {
    DWORD Pid;
    std::string Class; // empty: any class
    std::string Title; // empty: any title
    HWND Found = nullptr;
};

BOOL CALLBACK FindTopLevel(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<TTopLevelSearch*>(param);
    if (ProcessOf(window) != search->Pid || !IsWindowVisible(window))
        return TRUE;
    if (!search->Class.empty() && ClassOf(window) != search->Class)
        return TRUE;
    if (!search->Title.empty() && TRemoteApp::Text(window) != search->Title)
        return TRUE;
    search->Found = window;
    return FALSE;
}

BOOL CALLBACK CollectChild(HWND window, LPARAM param) {
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
}

std::vector<HWND> Descendants(HWND scope) {
    std::vector<HWND> windows;
    EnumChildWindows(scope, CollectChild, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

} // namespace

bool WaitFor(const std::function<bool()>& done, DWORD deadlineMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (done())
            return true;
        if (GetTickCount() - start > deadlineMs)
            return false;
        Sleep(20);
    }
}

std::string OwnFolder() {
    char path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, n);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

std::string ReadFileBytes(const std::string& path) {
    std::string bytes;
    if (FILE* file = std::fopen(path.c_str(), "rb")) {
        char chunk[4096];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
            bytes.append(chunk, n);
        std::fclose(file);
    }
    return bytes;
}

// ---- remote memory ----

TRemoteMemory::TRemoteMemory(HANDLE process, size_t size)
    : Process(process),
      Base(VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)) {}

TRemoteMemory::~TRemoteMemory() {
    if (Base)
        VirtualFreeEx(Process, Base, 0, MEM_RELEASE);
}

bool TRemoteMemory::Write(size_t offset, const void* data, size_t size) {
    SIZE_T done = 0;
    return Base && WriteProcessMemory(Process, At(offset), data, size, &done) && done == size;
}

bool TRemoteMemory::ReadAt(HANDLE process, const void* address, void* data, size_t size) {
    SIZE_T done = 0;
    return address && ReadProcessMemory(process, address, data, size, &done) && done == size;
}

bool TRemoteMemory::Read(size_t offset, void* data, size_t size) const {
    SIZE_T done = 0;
    return Base && ReadProcessMemory(Process, At(offset), data, size, &done) && done == size;
}

// ---- the run ----

TRemoteApp::TRemoteApp(const std::string& name, const std::string& simConfig) {
    const std::string own = OwnFolder();
    CreateDirectoryA((own + "runs").c_str(), nullptr);
    Dir = own + "runs\\" + name + "\\";
    CreateDirectoryA(Dir.c_str(), nullptr);
    CopyFileA((own + "program\\Configurator.exe").c_str(), (Dir + "Configurator.exe").c_str(),
              FALSE);
    CopyFileA((own + "program\\mvd2xx.dll").c_str(), (Dir + "mvd2xx.dll").c_str(), FALSE);
    WriteFileBytes(Dir + "mvd2xx.cfg", simConfig);
    DeleteFileA(TracePath().c_str());
}

TRemoteApp::~TRemoteApp() {
    Close();
}

bool TRemoteApp::Start(const std::string& argument, const std::string& workingFolder) {
    std::string commandLine = "\"" + Dir + "Configurator.exe\"";
    if (!argument.empty())
        commandLine += " \"" + argument + "\"";
    // The adapter comes from mvd2xx.cfg beside the library, never from the
    // environment; the library records the wire into the run's folder.
    SetEnvironmentVariableA("QVX_SIM_CONFIG", nullptr);
    SetEnvironmentVariableA("QVX_STANDIN_TRACE", TracePath().c_str());
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    BOOL started =
        CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       (workingFolder.empty() ? Dir : workingFolder).c_str(), &startup, &Process);
    SetEnvironmentVariableA("QVX_STANDIN_TRACE", nullptr);
    if (!started) {
        Process = {};
        return false;
    }
    WaitForInputIdle(Process.hProcess, HangGuardMs);
    return WaitFor([this] {
               TTopLevelSearch search{Process.dwProcessId, "", MainTitle};
               EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&search));
               MainWindow = search.Found;
               return MainWindow != nullptr || !Running();
           }) &&
           MainWindow != nullptr;
}

uint64_t TRemoteApp::WireSize() const {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(TracePath().c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool TRemoteApp::Running() const {
    return Process.hProcess && WaitForSingleObject(Process.hProcess, 0) == WAIT_TIMEOUT;
}

bool TRemoteApp::Close() {
    if (!Process.hProcess)
        return true;
    bool orderly = true;
    if (Running()) {
        if (MainWindow)
            PostMessageA(MainWindow, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(Process.hProcess, HangGuardMs) != WAIT_OBJECT_0) {
            TerminateProcess(Process.hProcess, 1);
            WaitForSingleObject(Process.hProcess, HangGuardMs);
            orderly = false;
        }
    }
    CloseHandle(Process.hThread);
    CloseHandle(Process.hProcess);
    Process = {};
    MainWindow = nullptr;
    return orderly;
}

// ---- finding controls ----

std::vector<TControlInfo> TRemoteApp::Controls(HWND scope) const {
    std::vector<TControlInfo> controls;
    for (HWND window : Descendants(scope ? scope : MainWindow)) {
        TControlInfo info;
        info.Window = window;
        info.Class = ClassOf(window);
        info.Text = Text(window);
        GetWindowRect(window, &info.Rect);
        controls.push_back(info);
    }
    return controls;
}

HWND TRemoteApp::Find(const std::string& windowClass, const std::string& text, HWND scope) const {
    for (HWND window : Descendants(scope ? scope : MainWindow))
        if (SameText(ClassOf(window), windowClass) && Text(window) == text)
            return window;
    return nullptr;
}

HWND TRemoteApp::OfClass(const std::string& windowClass, HWND scope) const {
    for (HWND window : Descendants(scope ? scope : MainWindow))
        if (SameText(ClassOf(window), windowClass))
            return window;
    return nullptr;
}

HWND TRemoteApp::Largest(const std::string& windowClass, HWND scope) const {
    HWND best = nullptr;
    LONG bestArea = -1;
    for (const TControlInfo& control : Controls(scope)) {
        const LONG area =
            (control.Rect.right - control.Rect.left) * (control.Rect.bottom - control.Rect.top);
        if (SameText(control.Class, windowClass) && area > bestArea) {
            best = control.Window;
            bestArea = area;
        }
    }
    return best;
}

HWND TRemoteApp::Beside(HWND label, const std::string& windowClass) const {
    if (!label)
        return nullptr;
    RECT at;
    GetWindowRect(label, &at);
    const LONG middle = (at.top + at.bottom) / 2;
    HWND best = nullptr;
    LONG bestLeft = 0;
    for (HWND window : Descendants(GetParent(label))) {
        RECT r;
        GetWindowRect(window, &r);
        if (GetParent(window) != GetParent(label) || !SameText(ClassOf(window), windowClass) ||
            r.left < at.right || middle < r.top || middle > r.bottom)
            continue;
        if (!best || r.left < bestLeft) {
            best = window;
            bestLeft = r.left;
        }
    }
    return best;
}

HWND TRemoteApp::Below(HWND control, const std::string& windowClass) const {
    if (!control)
        return nullptr;
    RECT at;
    GetWindowRect(control, &at);
    HWND best = nullptr;
    LONG bestTop = 0;
    for (HWND window : Descendants(GetParent(control))) {
        RECT r;
        GetWindowRect(window, &r);
        if (window == control || GetParent(window) != GetParent(control) ||
            !SameText(ClassOf(window), windowClass) || r.top < at.bottom || r.right <= at.left ||
            r.left >= at.right)
            continue;
        if (!best || r.top < bestTop) {
            best = window;
            bestTop = r.top;
        }
    }
    return best;
}

// ---- the pages ----

int TRemoteApp::ActiveTab() const {
    return static_cast<int>(SendMessageA(Tabs(), TCM_GETCURSEL, 0, 0));
}

void TRemoteApp::SelectTab(int index) {
    // TCM_SETCURSEL with a WM_NOTIFY of our own cannot work from outside: the
    // system refuses WM_NOTIFY across processes. TCM_SETCURFOCUS makes the
    // tab control itself select the tab and notify its parent, as a click on
    // the tab does.
    SendMessageA(Tabs(), TCM_SETCURFOCUS, static_cast<WPARAM>(index), 0);
}

HWND TRemoteApp::SettingsPage() const {
    HWND search = Button("Search");
    return search ? GetParent(search) : nullptr;
}

HWND TRemoteApp::UpdatePage() const {
    HWND upload = Button("Upload New Firmware");
    return upload ? GetParent(upload) : nullptr;
}

std::vector<std::string> TRemoteApp::TabCaptions() const {
    std::vector<std::string> captions;
    HWND tabs = Tabs();
    constexpr int Capacity = 256;
    TRemoteMemory remote(Process.hProcess, sizeof(TCITEMA) + Capacity);
    const int count = static_cast<int>(SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        TCITEMA item{};
        item.mask = TCIF_TEXT;
        item.pszText = remote.At(sizeof(TCITEMA));
        item.cchTextMax = Capacity;
        std::string text(Capacity, '\0');
        remote.Write(0, &item, sizeof item);
        remote.Write(sizeof(TCITEMA), text.data(), text.size());
        if (SendMessageA(tabs, TCM_GETITEMA, static_cast<WPARAM>(i),
                         reinterpret_cast<LPARAM>(remote.At())) &&
            remote.Read(0, &item, sizeof item)) {
            // The control may hand back a pointer of its own instead.
            TRemoteMemory::ReadAt(Process.hProcess, item.pszText, &text[0], text.size() - 1);
        }
        text.resize(strnlen(text.c_str(), text.size()));
        captions.push_back(text);
    }
    return captions;
}

bool TRemoteApp::SelectTabNamed(const std::string& caption) {
    const auto captions = TabCaptions();
    for (size_t i = 0; i < captions.size(); ++i) {
        if (captions[i] != caption)
            continue;
        SelectTab(static_cast<int>(i));
        return WaitFor([&] { return ActiveTab() == static_cast<int>(i); });
    }
    return false;
}

HWND TRemoteApp::ActivePage() const {
    HWND tabs = Tabs();
    for (HWND child = GetWindow(tabs, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (IsWindowVisible(child) && ClassOf(child) != "msctls_updown32")
            return child;
    return nullptr;
}

// ---- reading and working controls ----

std::string TRemoteApp::Text(HWND control) {
    // WM_GETTEXT, not GetWindowText: only the message reads another
    // process's edit fields.
    LRESULT length = SendMessageA(control, WM_GETTEXTLENGTH, 0, 0);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    LRESULT got = SendMessageA(control, WM_GETTEXT, static_cast<WPARAM>(text.size()),
                               reinterpret_cast<LPARAM>(&text[0]));
    text.resize(static_cast<size_t>(std::max<LRESULT>(got, 0)));
    return text;
}

void TRemoteApp::Click(HWND button) {
    SendMessageA(button, BM_CLICK, 0, 0);
}

void TRemoteApp::ClickLater(HWND button) {
    PostMessageA(button, BM_CLICK, 0, 0);
}

bool TRemoteApp::Checked(HWND button) {
    return SendMessageA(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

std::vector<std::string> TRemoteApp::ComboItems(HWND combo) const {
    std::vector<std::string> items;
    LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
    // Across processes the system copies the item back into a buffer it
    // sizes itself, as UTF-16 even for an ANSI request: ask for the wide
    // text, with room for far more than any item holds.
    std::vector<wchar_t> text(32768);
    for (LRESULT i = 0; i < count; ++i) {
        std::fill(text.begin(), text.end(), L'\0');
        LRESULT got = SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i),
                                   reinterpret_cast<LPARAM>(text.data()));
        std::string item;
        if (got > 0) {
            const int length = static_cast<int>(wcsnlen(text.data(), text.size() - 1));
            item.resize(static_cast<size_t>(length) * 4 + 1);
            int n = WideCharToMultiByte(CP_ACP, 0, text.data(), length, &item[0],
                                        static_cast<int>(item.size()), nullptr, nullptr);
            item.resize(static_cast<size_t>(std::max(n, 0)));
        }
        items.push_back(item);
    }
    return items;
}

bool TRemoteApp::PickCombo(HWND combo, const std::string& prefix) const {
    const auto items = ComboItems(combo);
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].compare(0, prefix.size(), prefix) != 0)
            continue;
        SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
        SendMessageA(GetParent(combo), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(combo));
        return true;
    }
    return false;
}

int TRemoteApp::ListCount(HWND list) const {
    return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
}

std::string TRemoteApp::ListText(HWND list, int row, int column) const {
    constexpr int Capacity = 512;
    TRemoteMemory remote(Process.hProcess, sizeof(LVITEMA) + Capacity);
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = remote.At(sizeof(LVITEMA));
    item.cchTextMax = Capacity;
    remote.Write(0, &item, sizeof item);
    LRESULT length = SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row),
                                  reinterpret_cast<LPARAM>(remote.At()));
    std::string text(Capacity, '\0');
    if (length <= 0 || !remote.Read(sizeof(LVITEMA), &text[0], Capacity))
        return "";
    text.resize(std::min<size_t>(static_cast<size_t>(length), Capacity));
    return text;
}

int TRemoteApp::ListStateIndex(HWND list, int row) {
    UINT state = static_cast<UINT>(
        SendMessageA(list, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_STATEIMAGEMASK));
    return static_cast<int>((state & LVIS_STATEIMAGEMASK) >> 12) - 1;
}

void TRemoteApp::SelectRow(HWND list, int row) const {
    TRemoteMemory remote(Process.hProcess, sizeof(LVITEMA));
    LVITEMA state{};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    remote.Write(0, &state, sizeof state);
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(remote.At()));
}

int TRemoteApp::FindRow(HWND list, int column, const std::string& text) const {
    for (int row = 0; row < ListCount(list); ++row)
        if (ListText(list, row, column) == text)
            return row;
    return -1;
}

std::vector<std::string> TRemoteApp::ListColumn(HWND list, int column) const {
    std::vector<std::string> texts;
    for (int row = 0; row < ListCount(list); ++row)
        texts.push_back(ListText(list, row, column));
    return texts;
}

bool TRemoteApp::ClickColumnHeader(HWND list, int column) const {
    HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
    if (!header)
        return false;
    TRemoteMemory remote(Process.hProcess, sizeof(RECT));
    RECT r{};
    if (!SendMessageA(header, HDM_GETITEMRECT, static_cast<WPARAM>(column),
                      reinterpret_cast<LPARAM>(remote.At())) ||
        !remote.Read(0, &r, sizeof r))
        return false;
    // A press and a release on the middle of the item, as the mouse makes them.
    const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    SendMessageA(header, WM_MOUSEMOVE, 0, at);
    SendMessageA(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageA(header, WM_LBUTTONUP, 0, at);
    Settle();
    return true;
}

int TRemoteApp::ProgressPos(HWND bar) {
    return static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0));
}

int TRemoteApp::ProgressMax(HWND bar) {
    return static_cast<int>(SendMessageA(bar, PBM_GETRANGE, FALSE, 0));
}

// ---- message boxes ----

HWND TRemoteApp::MessageBoxWindow() const {
    if (!Process.hProcess)
        return nullptr;
    TTopLevelSearch search{Process.dwProcessId, "#32770", ""};
    EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

std::string TRemoteApp::BoxText(HWND box) {
    std::string text;
    for (HWND window : Descendants(box)) {
        if (!SameText(ClassOf(window), "Static"))
            continue;
        std::string piece = Text(window);
        if (piece.empty())
            continue;
        if (!text.empty())
            text += '\n';
        text += piece;
    }
    return text;
}

bool TRemoteApp::AnswerBox(HWND box, const std::string& caption) {
    for (HWND window : Descendants(box)) {
        std::string text = Text(window);
        text.erase(std::remove(text.begin(), text.end(), '&'), text.end());
        if (SameText(ClassOf(window), "Button") && SameText(text, caption)) {
            Click(window);
            return true;
        }
    }
    return false;
}

HWND TRemoteApp::DialogWindow(const std::string& title) const {
    if (!Process.hProcess)
        return nullptr;
    TTopLevelSearch search{Process.dwProcessId, "#32770", title};
    EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

bool TRemoteApp::ChooseInOpenDialog(HWND dialog, const std::string& path) {
    // The file name field: an edit (edt1) or a combo box with an edit (cmb13).
    HWND field = GetDlgItem(dialog, 0x480);
    if (!field)
        field = GetDlgItem(dialog, 0x47c);
    HWND open = GetDlgItem(dialog, IDOK);
    if (!field || !open)
        return false;
    SendMessageA(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    // Posted: the dialog may answer with a box of its own, which would hold
    // a sent message until someone closes it.
    return PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                        reinterpret_cast<LPARAM>(open)) != FALSE;
}

void TRemoteApp::Settle() const {
    DWORD_PTR result = 0;
    if (MainWindow)
        SendMessageTimeoutA(MainWindow, WM_NULL, 0, 0, SMTO_NORMAL, HangGuardMs, &result);
}

// ---- shared steps ----

bool TRemoteApp::PickPort(const std::string& serial) {
    HWND combo = OfClass("ComboBox", SettingsPage());
    const std::string port = "USB:" + serial;
    if (combo && WaitFor([&] { return PickCombo(combo, port); }) &&
        Text(combo).compare(0, port.size(), port) == 0)
        return true;
    std::fprintf(stderr, "port %s not picked; the port list holds:", port.c_str());
    for (const std::string& item : ComboItems(combo))
        std::fprintf(stderr, " [%s]", item.c_str());
    std::fprintf(stderr, "\n");
    return false;
}

bool TRemoteApp::SearchFor(const std::string& serial) {
    if (!PickPort(serial))
        return false;
    Click(Button("Search", SettingsPage()));
    HWND serialEdit = EditBeside("Serial Number:");
    return WaitFor([&] { return Text(serialEdit) == serial || MessageBoxWindow(); }) &&
           Text(serialEdit) == serial;
}

// ---- the screen ----

uint32_t TScreenShot::At(int x, int y) const {
    if (x < 0 || y < 0 || x >= Width || y >= Height)
        return 0;
    const size_t i =
        (static_cast<size_t>(y) * static_cast<size_t>(Width) + static_cast<size_t>(x)) * 3;
    return static_cast<uint32_t>(Rgb[i]) << 16 | static_cast<uint32_t>(Rgb[i + 1]) << 8 |
           Rgb[i + 2];
}

namespace {

// The screen rectangle `r` as the screen shows it now.
TScreenShot CaptureScreen(const RECT& r) {
    TScreenShot shot;
    shot.Width = r.right - r.left;
    shot.Height = r.bottom - r.top;
    if (shot.Width <= 0 || shot.Height <= 0)
        return shot;
    HDC screen = GetDC(nullptr);
    png::CopyPixels(screen, r.left, r.top, shot.Width, shot.Height, shot.Rgb);
    ReleaseDC(nullptr, screen);
    return shot;
}

// Brings the top-level window of `window` up and has it paint everything.
void Repaint(HWND window) {
    HWND top = GetAncestor(window, GA_ROOT);
    SetWindowPos(top, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    RedrawWindow(top, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_FRAME);
    DWORD_PTR result = 0;
    SendMessageTimeoutA(top, WM_NULL, 0, 0, SMTO_NORMAL, HangGuardMs, &result);
    // The painting reaches the screen a little after the program drew it.
    Sleep(300);
}

} // namespace

TScreenShot CaptureClient(HWND window) {
    Repaint(window);
    RECT client;
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    RECT r{origin.x, origin.y, origin.x + client.right, origin.y + client.bottom};
    return CaptureScreen(r);
}

uint32_t CentreColour(HWND control) {
    Repaint(control);
    RECT r;
    GetWindowRect(control, &r);
    const LONG x = (r.left + r.right) / 2, y = (r.top + r.bottom) / 2;
    RECT one{x, y, x + 1, y + 1};
    return CaptureScreen(one).At(0, 0);
}

std::string ScreenshotFolder() {
    // The test program lives in build\win32\tests\e2e.
    const std::string relative = OwnFolder() + "..\\..\\screenshots";
    char full[MAX_PATH] = {};
    DWORD n = GetFullPathNameA(relative.c_str(), MAX_PATH, full, nullptr);
    std::string folder = n > 0 && n < MAX_PATH ? std::string(full, n) : relative;
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder + "\\";
}

bool SavePng(const std::string& path, const TScreenShot& shot) {
    return shot.Width > 0 && shot.Height > 0 && png::Write(path, shot.Width, shot.Height, shot.Rgb);
}

// ---- registry ----

void DeleteSettings() {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, SettingsKey);
}

bool RegistryDword(const std::string& key, const std::string& name, DWORD& value) {
    HKEY handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    DWORD type = 0, size = sizeof value;
    LONG rc = RegQueryValueExA(handle, name.c_str(), nullptr, &type,
                               reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(handle);
    return rc == ERROR_SUCCESS && type == REG_DWORD && size == sizeof value;
}

bool RegistryString(const std::string& key, const std::string& name, std::string& value) {
    HKEY handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    char data[1024] = {};
    DWORD type = 0, size = sizeof data - 1;
    LONG rc = RegQueryValueExA(handle, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data),
                               &size);
    RegCloseKey(handle);
    if (rc != ERROR_SUCCESS || type != REG_SZ)
        return false;
    value.assign(data, strnlen(data, size));
    return true;
}

} // namespace qvx::e2e
