#pragma once
// Drives the real Configurator.exe from outside, as a person would: it starts
// the program in a folder of its own beside the stand-in D2XX library and its
// simulated adapter, finds the main window by its title and works the
// controls through Win32 messages only. Waits poll with generous deadlines
// that only guard against a hang; nothing depends on how fast a step is.
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qvx::e2e {

constexpr const char* MainTitle = "Quorvelix Configurator Version 2.3.1.8";
constexpr const char* SettingsKey = "SOFTWARE\\Morveklink";
constexpr DWORD HangGuardMs = 60000;

// Polls `done` every 20 ms until it holds or the hang guard runs out.
bool WaitFor(const std::function<bool()>& done, DWORD deadlineMs = HangGuardMs);

// The folder of the test program itself (with a trailing backslash).
std::string OwnFolder();
bool WriteFileBytes(const std::string& path, const std::string& bytes);
std::string ReadFileBytes(const std::string& path);

// A control of the program as seen from outside.
struct TControlInfo {
    HWND Window = nullptr;
    std::string Class;
    std::string Text;
    RECT Rect{}; // screen coordinates
};

// Memory inside the program's process, for messages whose parameters point
// at structures (the system copies none of them across processes).
class TRemoteMemory {
public:
    TRemoteMemory(HANDLE process, size_t size);
    ~TRemoteMemory();
    TRemoteMemory(const TRemoteMemory&) = delete;
    TRemoteMemory& operator=(const TRemoteMemory&) = delete;
    char* At(size_t offset = 0) const { return static_cast<char*>(Base) + offset; }
    bool Write(size_t offset, const void* data, size_t size);
    bool Read(size_t offset, void* data, size_t size) const;
    // Reads memory of the process at any address.
    static bool ReadAt(HANDLE process, const void* address, void* data, size_t size);

private:
    HANDLE Process;
    void* Base;
};

// One run of the program: its folder, its process and its main window.
class TRemoteApp {
public:
    // Prepares <own folder>\runs\<name>\ with the program, the stand-in
    // library and `simConfig` as mvd2xx.cfg.
    TRemoteApp(const std::string& name, const std::string& simConfig);
    ~TRemoteApp();
    TRemoteApp(const TRemoteApp&) = delete;
    TRemoteApp& operator=(const TRemoteApp&) = delete;

    const std::string& Folder() const { return Dir; }
    std::string TracePath() const { return Dir + "wire.bin"; }
    // The bytes the program wrote to the adapter so far.
    std::string Wire() const { return ReadFileBytes(TracePath()); }
    // How many there are, without reading them.
    uint64_t WireSize() const;

    // Starts the program (quoted `argument` when not empty) in `workingFolder`
    // (its own folder when empty) and waits for its main window. False when it
    // did not come up.
    bool Start(const std::string& argument = "", const std::string& workingFolder = "");
    // WM_CLOSE, then waits for the process to end; terminates it only as a
    // last resort (false then).
    bool Close();
    bool Running() const;
    HWND Main() const { return MainWindow; }

    // ---- finding controls ----
    std::vector<TControlInfo> Controls(HWND scope = nullptr) const;
    // The first control below `scope` (the main window without one) of that
    // window class (case ignored) with that text; null when there is none.
    HWND Find(const std::string& windowClass, const std::string& text, HWND scope = nullptr) const;
    HWND Button(const std::string& caption, HWND scope = nullptr) const {
        return Find("Button", caption, scope);
    }
    // The first control of that class in the same parent on the same row,
    // right of `label`.
    HWND Beside(HWND label, const std::string& windowClass) const;
    // The nearest control of that class in the same parent below `control`.
    HWND Below(HWND control, const std::string& windowClass) const;
    HWND OfClass(const std::string& windowClass, HWND scope = nullptr) const;
    // The control of that class with the largest area (the main list of a
    // page rather than a legend beside it).
    HWND Largest(const std::string& windowClass, HWND scope = nullptr) const;
    // The edit field right of the label with this caption.
    HWND EditBeside(const std::string& label, HWND scope = nullptr) const {
        return Beside(Find("Static", label, scope), "Edit");
    }

    // ---- the pages ----
    HWND Tabs() const { return OfClass("SysTabControl32"); }
    int ActiveTab() const;
    // The user picks a tab; the tab control notifies its parent itself.
    void SelectTab(int index);
    HWND SettingsPage() const; // the parent of the "Search" button
    HWND UpdatePage() const;   // the parent of "Upload New Firmware"
    // The captions of the tabs as shown, in order (hidden pages have none).
    std::vector<std::string> TabCaptions() const;
    // Selects the tab with this caption; false when there is none.
    bool SelectTabNamed(const std::string& caption);
    // The page the tab control shows now (its one visible child).
    HWND ActivePage() const;

    // ---- reading and working controls ----
    static std::string Text(HWND control);
    static void Click(HWND button);
    // Clicks without waiting for the program to handle it: for buttons that
    // open a modal box or dialog.
    static void ClickLater(HWND button);
    static bool Checked(HWND button);
    std::vector<std::string> ComboItems(HWND combo) const;
    // Picks the first item that starts with `prefix`; false without one.
    bool PickCombo(HWND combo, const std::string& prefix) const;
    int ListCount(HWND list) const;
    std::string ListText(HWND list, int row, int column) const;
    // The state picture index of a row (-1 without a picture).
    static int ListStateIndex(HWND list, int row);
    // The user selects a row (the list view tells its parent itself).
    void SelectRow(HWND list, int row) const;
    // The row whose column holds `text`, or -1.
    int FindRow(HWND list, int column, const std::string& text) const;
    // One column's texts, top row first.
    std::vector<std::string> ListColumn(HWND list, int column) const;
    // The user clicks the header of that column (the list tells its parent).
    bool ClickColumnHeader(HWND list, int column) const;
    static int ProgressPos(HWND bar);
    static int ProgressMax(HWND bar);

    // ---- the program's message boxes ----
    // A visible "#32770" dialog of the program's process, or null.
    HWND MessageBoxWindow() const;
    // The texts of the box's static controls, joined by newlines.
    static std::string BoxText(HWND box);
    // Presses the box's button with this caption.
    static bool AnswerBox(HWND box, const std::string& caption);
    // The open-file dialog with that title, or null. The user types `path`
    // into its file name field and presses Open.
    HWND DialogWindow(const std::string& title) const;
    static bool ChooseInOpenDialog(HWND dialog, const std::string& path);

    // ---- steps most scenarios share ----
    // Waits for the adapter's port in the port list, picks it and searches;
    // false when the port never appeared.
    bool PickPort(const std::string& serial);
    // Search through the "Search" button until the serial number shows.
    bool SearchFor(const std::string& serial);

    // Waits until the program's GUI thread has handled everything sent so
    // far (a message box or dialog counts as idle).
    void Settle() const;

private:
    std::string Dir;
    PROCESS_INFORMATION Process{};
    HWND MainWindow = nullptr;
};

// ---- what the screen shows ----
struct TScreenShot {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Rgb; // rows top-down, 3 bytes a pixel
    // The colour at (x, y) as 0xRRGGBB.
    uint32_t At(int x, int y) const;
};
// The client area of `window` as the screen shows it (the window is brought
// to the top and repainted first).
TScreenShot CaptureClient(HWND window);
// The colour shown at the centre of `control`, 0xRRGGBB.
uint32_t CentreColour(HWND control);
// build/win32/screenshots, created when missing (with a trailing backslash).
std::string ScreenshotFolder();
bool SavePng(const std::string& path, const TScreenShot& shot);

// ---- the real registry (HKLM) ----
void DeleteSettings();
bool RegistryDword(const std::string& key, const std::string& name, DWORD& value);
bool RegistryString(const std::string& key, const std::string& name, std::string& value);

} // namespace qvx::e2e
