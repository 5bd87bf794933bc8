// The pass-thru road as a user walks it: the adapter offers its driver, the
// J2534 page says it is not installed, "Install Driver" reads the library out
// of the adapter into the system folder and registers it in the catalogue,
// and the probe loads, opens and queries the installed library. The real
// Configurator.exe and the real registry and system folder of the Wine
// prefix; the adapter's driver image is the stand-in pass-thru library.
#include "tests/e2e/remote_app.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>

namespace qvx::e2e {
namespace {

constexpr const char* Serial = "QV2A0017";
constexpr int J2534Tab = 2;
constexpr const char* Catalogue = "SOFTWARE\\PassThruSupport.04.04";
constexpr const char* MakerKey = "SOFTWARE\\PassThruSupport.04.04\\Morveklink - Quorvelix";
constexpr const char* MakerDevice = "Morveklink - Quorvelix";
constexpr const char* StandInFile = "passthru_standin.dll";
// What the stand-in library answers to PassThruReadVersion in these runs
// (its library text stays the version after its marker).
constexpr const char* StandInConfig = "firmware=FW-2.31-e2e;api=04.04-e2e";
constexpr const char* AdapterConfig = "identity.serial=QV2A0017\n"
                                      "driver.version=105\n"
                                      "driver.image.file=passthru_standin.dll\n";
constexpr const char* DriverRequest = "!Morvek_SC_D";

struct TFlag {
    const char* Name;
    DWORD Value;
};
// The protocols the maker's entry announces.
const TFlag ProtocolFlags[] = {
    {"CAN", 1},         {"CAN_PS", 1},         {"ISO15765", 1},       {"ISO15765_PS", 1},
    {"SW_CAN_PS", 1},   {"SW_ISO15765_PS", 1}, {"J1850PWM", 1},       {"J1850PWM_PS", 1},
    {"J1850VPW", 1},    {"J1850VPW_PS", 1},    {"ISO9141", 1},        {"ISO9141_PS", 1},
    {"ISO14230", 1},    {"ISO14230_PS", 1},    {"HONDA_DIAGH_PS", 1}, {"SCI_A_ENGINE", 0},
    {"SCI_A_TRANS", 0}, {"SCI_B_ENGINE", 0},   {"SCI_B_TRANS", 0},    {"UART_ECHO_BYTE_PS", 1},
};

constexpr COLORREF Green = RGB(0, 128, 0);
constexpr COLORREF Red = RGB(255, 0, 0);

std::string TestName() {
    return ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

std::string SystemDll() {
    char folder[MAX_PATH] = {};
    UINT n = GetSystemDirectoryA(folder, MAX_PATH);
    return std::string(folder, n) + "\\mvpass32.dll";
}

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool KeyExists(const std::string& key) {
    HKEY handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The colour on screen at the middle of a painted control (a shape's fill).
COLORREF ScreenColour(HWND control) {
    RECT r;
    GetWindowRect(control, &r);
    HDC screen = GetDC(nullptr);
    const COLORREF colour = GetPixel(screen, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    ReleaseDC(nullptr, screen);
    return colour;
}

std::string Hex(COLORREF colour) {
    char text[16];
    std::snprintf(text, sizeof text, "%06lX", static_cast<unsigned long>(colour));
    return text;
}

// The user presses a button whose handler may show a modal box: the press
// is posted, so this process is free to answer the box.
void Press(HWND button) {
    PostMessageA(button, BM_CLICK, 0, 0);
}

// The memo's lines as the window shows them: each line ends with CR LF but
// the last.
std::string MemoText(std::initializer_list<std::string> lines) {
    std::string text;
    bool first = true;
    for (const std::string& line : lines) {
        if (!first)
            text += "\r\n";
        text += line;
        first = false;
    }
    return text;
}

// The controls of the J2534 page, found by their captions and places.
struct TJ2534Page {
    HWND Page = nullptr;
    HWND DriverGroup = nullptr;
    HWND CheckVersion = nullptr;
    HWND InstalledVersion = nullptr; // edit right of "Check Version"
    HWND InstalledShape = nullptr;   // right of that edit
    HWND Hint = nullptr;
    HWND Install = nullptr;
    HWND OfferedShape = nullptr; // right of the install button
    HWND Progress = nullptr;
    HWND Devices = nullptr; // the device list
    HWND Refresh = nullptr;
    HWND ConfigEdit = nullptr;
    HWND Config = nullptr;
    HWND DllEdit = nullptr;
    HWND Load = nullptr;
    HWND Open = nullptr;
    HWND Version = nullptr;
    HWND Info = nullptr;
    HWND Copy = nullptr;
    HWND Memo = nullptr;

    bool Find(const TRemoteApp& app, const std::string& installCaption) {
        CheckVersion = app.Button("Check Version");
        if (!CheckVersion)
            return false;
        DriverGroup = GetParent(CheckVersion);
        Page = GetParent(DriverGroup);
        InstalledVersion = app.Beside(CheckVersion, "Edit");
        InstalledShape = app.Beside(InstalledVersion, "QvxPainted");
        Hint = app.Find("Static", "- Update is required ->", DriverGroup);
        Install = app.Button(installCaption, DriverGroup);
        OfferedShape = app.Beside(Install, "QvxPainted");
        Progress = app.OfClass("msctls_progress32", DriverGroup);
        Devices = app.OfClass("ComboBox", Page);
        HWND devicesGroup = Devices ? GetParent(Devices) : nullptr;
        Refresh = app.Button("Refresh", devicesGroup);
        ConfigEdit = app.EditBeside("Config:", devicesGroup);
        Config = app.Button("Config", devicesGroup);
        DllEdit = app.EditBeside("DLL:", devicesGroup);
        Load = app.Button("Load", Page);
        Open = app.Button("Open", Page);
        Version = app.Button("Version", Page);
        Info = app.Button("Read Info", Page);
        Copy = app.Button("Copy to Buffer", Page);
        Memo = app.Largest("Edit", Page);
        for (HWND control :
             {InstalledVersion, InstalledShape, Hint, Install, OfferedShape, Progress, Devices,
              Refresh, ConfigEdit, Config, DllEdit, Load, Open, Version, Info, Copy, Memo})
            if (!control)
                return false;
        return true;
    }
};

class PassThruEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        // A clean machine: no library in the system folder, no maker's entry
        // in the catalogue, no settings.
        DeleteFileA(SystemDll().c_str());
        ASSERT_FALSE(FileExists(SystemDll())) << SystemDll() << " cannot be removed";
        CatalogueExisted = KeyExists(Catalogue);
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, MakerKey);
        ASSERT_FALSE(KeyExists(MakerKey));
        DeleteSettings();
    }

    void TearDown() override {
        if (Lock != INVALID_HANDLE_VALUE)
            CloseHandle(Lock);
        // The program may still hold the library it loaded: it ends first.
        if (App)
            App->Close();
        App.reset();
        WaitFor([] { return DeleteFileA(SystemDll().c_str()) || !FileExists(SystemDll()); }, 10000);
        EXPECT_FALSE(FileExists(SystemDll()));
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, MakerKey);
        // Only an empty catalogue that this test brought about goes too.
        if (!CatalogueExisted)
            RegDeleteKeyA(HKEY_LOCAL_MACHINE, Catalogue);
        DeleteSettings();
    }

    // Starts the program in a folder of its own beside the stand-in pass-thru
    // library (the adapter's driver image), searches for the adapter and opens
    // the J2534 page.
    void LaunchAndOpenThePage() {
        App = std::make_unique<TRemoteApp>(TestName(), AdapterConfig);
        StandInBytes = ReadFileBytes(OwnFolder() + "program\\" + StandInFile);
        ASSERT_FALSE(StandInBytes.empty()) << "the stand-in pass-thru library is missing";
        ASSERT_TRUE(CopyFileA((OwnFolder() + "program\\" + StandInFile).c_str(),
                              (App->Folder() + StandInFile).c_str(), FALSE));
        SetEnvironmentVariableA("QVX_PASSTHRU_CONFIG", StandInConfig);
        const bool started = App->Start();
        SetEnvironmentVariableA("QVX_PASSTHRU_CONFIG", nullptr);
        ASSERT_TRUE(started) << "the main window did not appear";
        ASSERT_TRUE(App->SearchFor(Serial));
        // The identity offered the driver: the button says which version.
        HWND install = App->Button("Install Driver v105");
        ASSERT_NE(install, nullptr);
        EXPECT_TRUE(IsWindowEnabled(install));
        EXPECT_EQ(App->Wire().find(DriverRequest), std::string::npos)
            << "the driver was asked for before Install";

        App->SelectTab(J2534Tab);
        ASSERT_EQ(App->ActiveTab(), J2534Tab);
        ASSERT_TRUE(Page.Find(*App, "Install Driver v105")) << "a control of the J2534 page";
        ASSERT_TRUE(IsWindowVisible(Page.Page));
        ASSERT_FALSE(IsWindowVisible(App->SettingsPage()));
    }

    // The fill colour of a visible shape once it has been painted.
    COLORREF FillOf(HWND shape, COLORREF expected) {
        COLORREF seen = CLR_INVALID;
        WaitFor(
            [&] {
                seen = ScreenColour(shape);
                return seen == expected;
            },
            5000);
        return seen;
    }

    // What the check shows for an installed library: its version, both marks
    // (the installed one in the given colour, the offered one green) and the
    // hint only when an update is due.
    void ExpectVersionMarks(const std::string& version, COLORREF installed, bool hint) {
        EXPECT_EQ(TRemoteApp::Text(Page.InstalledVersion), version);
        EXPECT_TRUE(IsWindowVisible(Page.InstalledShape));
        EXPECT_TRUE(IsWindowVisible(Page.OfferedShape));
        EXPECT_EQ(IsWindowVisible(Page.Hint) != FALSE, hint);
        EXPECT_EQ(Hex(FillOf(Page.InstalledShape, installed)), Hex(installed));
        EXPECT_EQ(Hex(FillOf(Page.OfferedShape, Green)), Hex(Green));
    }

    std::unique_ptr<TRemoteApp> App;
    TJ2534Page Page;
    std::string StandInBytes;
    bool CatalogueExisted = false;
    HANDLE Lock = INVALID_HANDLE_VALUE;
};

TEST_F(PassThruEndToEnd, InstallTheAdaptersDriverThenProbeTheInstalledLibrary) {
    ASSERT_NO_FATAL_FAILURE(LaunchAndOpenThePage());
    const std::string dll = SystemDll();

    // Nothing installed yet: the check says so and marks nothing.
    TRemoteApp::Click(Page.CheckVersion);
    EXPECT_EQ(TRemoteApp::Text(Page.InstalledVersion), "Not installed");
    EXPECT_FALSE(IsWindowVisible(Page.InstalledShape));
    EXPECT_FALSE(IsWindowVisible(Page.OfferedShape));
    EXPECT_FALSE(IsWindowVisible(Page.Hint));
    EXPECT_TRUE(IsWindowVisible(Page.Progress));
    EXPECT_EQ(TRemoteApp::ProgressPos(Page.Progress), 0);
    // Without the maker's entry there is nothing of ours to probe.
    const auto before = App->ComboItems(Page.Devices);
    EXPECT_EQ(std::find(before.begin(), before.end(), MakerDevice), before.end());
    EXPECT_FALSE(IsWindowEnabled(Page.Load));
    EXPECT_FALSE(IsWindowEnabled(Page.Info));

    // Install: the library comes out of the adapter into the system folder.
    Press(Page.Install);
    ASSERT_TRUE(WaitFor([&] {
        return TRemoteApp::Text(Page.InstalledVersion) == "105" || App->MessageBoxWindow();
    })) << "version: "
        << TRemoteApp::Text(Page.InstalledVersion);
    HWND box = App->MessageBoxWindow();
    ASSERT_EQ(box, nullptr) << TRemoteApp::Text(box) << ": " << TRemoteApp::BoxText(box);
    EXPECT_NE(App->Wire().find(DriverRequest), std::string::npos);
    EXPECT_EQ(TRemoteApp::ProgressPos(Page.Progress), TRemoteApp::ProgressMax(Page.Progress));
    EXPECT_EQ(TRemoteApp::ProgressMax(Page.Progress), 100);
    ASSERT_TRUE(FileExists(dll));
    EXPECT_TRUE(ReadFileBytes(dll) == StandInBytes)
        << "installed " << ReadFileBytes(dll).size() << " bytes, the image has "
        << StandInBytes.size();

    // The catalogue entry: the four strings and the protocol flags.
    std::string value;
    EXPECT_TRUE(RegistryString(MakerKey, "Vendor", value));
    EXPECT_EQ(value, "Morveklink");
    EXPECT_TRUE(RegistryString(MakerKey, "Name", value));
    EXPECT_EQ(value, "Quorvelix");
    EXPECT_TRUE(RegistryString(MakerKey, "ConfigApplication", value));
    EXPECT_EQ(value, App->Folder() + "Configurator.exe");
    std::string library;
    EXPECT_TRUE(RegistryString(MakerKey, "FunctionLibrary", library));
    EXPECT_EQ(Lower(library), Lower(dll));
    for (const TFlag& flag : ProtocolFlags) {
        DWORD data = 99;
        EXPECT_TRUE(RegistryDword(MakerKey, flag.Name, data)) << flag.Name;
        EXPECT_EQ(data, flag.Value) << flag.Name;
    }

    // The installed version is the offered one: both marks green, no hint.
    TRemoteApp::Click(Page.CheckVersion);
    ExpectVersionMarks("105", Green, false);

    // The device list offers the new entry; picking it shows its paths.
    TRemoteApp::Click(Page.Refresh);
    const auto devices = App->ComboItems(Page.Devices);
    EXPECT_NE(std::find(devices.begin(), devices.end(), MakerDevice), devices.end());
    ASSERT_TRUE(App->PickCombo(Page.Devices, MakerDevice));
    EXPECT_EQ(TRemoteApp::Text(Page.Devices), MakerDevice);
    EXPECT_EQ(TRemoteApp::Text(Page.ConfigEdit), App->Folder() + "Configurator.exe");
    EXPECT_EQ(TRemoteApp::Text(Page.DllEdit), library);
    EXPECT_TRUE(IsWindowEnabled(Page.Config));
    EXPECT_TRUE(IsWindowEnabled(Page.Load));
    EXPECT_TRUE(IsWindowEnabled(Page.Info));
    EXPECT_FALSE(IsWindowEnabled(Page.Open));
    EXPECT_FALSE(IsWindowEnabled(Page.Version));
    std::string chosen;
    EXPECT_TRUE(RegistryString(SettingsKey, "Device", chosen));
    EXPECT_EQ(chosen, MakerDevice);

    // Load: the list is locked to the loaded device.
    const std::string loaded = MemoText({std::string("Device:\t") + MakerDevice, "DLL:\t" + library,
                                         "Vendor:\tMorveklink", "Name:\tQuorvelix", ""});
    TRemoteApp::Click(Page.Load);
    EXPECT_EQ(TRemoteApp::Text(Page.Memo), loaded);
    EXPECT_EQ(TRemoteApp::Text(Page.Load), "Unload");
    EXPECT_FALSE(IsWindowEnabled(Page.Devices));
    EXPECT_FALSE(IsWindowEnabled(Page.Refresh));
    EXPECT_TRUE(IsWindowEnabled(Page.Open));
    EXPECT_FALSE(IsWindowEnabled(Page.Version));
    EXPECT_TRUE(IsWindowEnabled(Page.Copy));

    // Open, Version, Close, Unload, each adding its lines.
    TRemoteApp::Click(Page.Open);
    EXPECT_EQ(TRemoteApp::Text(Page.Open), "Close");
    EXPECT_TRUE(IsWindowEnabled(Page.Version));
    TRemoteApp::Click(Page.Version);
    TRemoteApp::Click(Page.Open);
    EXPECT_EQ(TRemoteApp::Text(Page.Open), "Open");
    EXPECT_FALSE(IsWindowEnabled(Page.Version));
    TRemoteApp::Click(Page.Load);
    EXPECT_EQ(TRemoteApp::Text(Page.Load), "Load");
    EXPECT_FALSE(IsWindowEnabled(Page.Open));
    EXPECT_TRUE(IsWindowEnabled(Page.Devices));
    EXPECT_TRUE(IsWindowEnabled(Page.Refresh));
    const std::string probed = MemoText(
        {std::string("Device:\t") + MakerDevice, "DLL:\t" + library, "Vendor:\tMorveklink",
         "Name:\tQuorvelix", "", "Open Device - OK", "", "Read Version", "Firmware:\tFW-2.31-e2e",
         "DLL:\t105", "API:\t04.04-e2e", "", "Close Device - OK", "", "Unload DLL", ""});
    EXPECT_EQ(TRemoteApp::Text(Page.Memo), probed);

    // "Read Info" runs the same road in one press and starts a fresh memo.
    TRemoteApp::Click(Page.Info);
    EXPECT_EQ(TRemoteApp::Text(Page.Memo), probed);
    EXPECT_EQ(TRemoteApp::Text(Page.Load), "Load");
    EXPECT_EQ(TRemoteApp::Text(Page.Open), "Open");
    EXPECT_FALSE(IsWindowEnabled(Page.Open));
    EXPECT_TRUE(IsWindowEnabled(Page.Devices));

    EXPECT_EQ(App->MessageBoxWindow(), nullptr);
    // Nothing holds the library any more: the program closes and the file
    // can go.
    EXPECT_TRUE(App->Close());
    EXPECT_TRUE(DeleteFileA(dll.c_str()));
}

TEST_F(PassThruEndToEnd, InstallOverALockedLibraryReportsTheErrorAndKeepsTheOldFile) {
    const std::string dll = SystemDll();
    const std::string old = std::string("MZ old pass-thru\0MkdV104\0tail", 30);
    ASSERT_TRUE(WriteFileBytes(dll, old));
    ASSERT_NO_FATAL_FAILURE(LaunchAndOpenThePage());

    // Opening the page checked the version: an older one is installed.
    ExpectVersionMarks("104", Red, true);

    // Another program holds the file, sharing nothing.
    Lock = CreateFileA(dll.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(Lock, INVALID_HANDLE_VALUE);

    Press(Page.Install);
    HWND box = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (box = App->MessageBoxWindow()) != nullptr; }));
    const std::string title = TRemoteApp::Text(box);
    EXPECT_GE(title.size(), 8u);
    EXPECT_EQ(title.substr(title.size() >= 8 ? title.size() - 8 : 0), "Error...") << title;
    EXPECT_NE(TRemoteApp::BoxText(box).find("Installing of Passthru driver Error"),
              std::string::npos)
        << TRemoteApp::BoxText(box);
    // The image was fetched from the adapter before the write failed.
    EXPECT_NE(App->Wire().find(DriverRequest), std::string::npos);
    ASSERT_TRUE(TRemoteApp::AnswerBox(box, "OK"));
    EXPECT_TRUE(WaitFor([&] { return App->MessageBoxWindow() == nullptr; }));
    // The check after the failure cannot read the held file either. It runs
    // once the box has returned, which may be after the window is enabled.
    EXPECT_TRUE(WaitFor([&] { return IsWindowEnabled(App->Main()); }));
    EXPECT_TRUE(WaitFor([&] { return TRemoteApp::Text(Page.InstalledVersion) == "Not installed"; }))
        << TRemoteApp::Text(Page.InstalledVersion);

    // Nothing is lost: the old file is whole and the catalogue untouched.
    CloseHandle(Lock);
    Lock = INVALID_HANDLE_VALUE;
    EXPECT_TRUE(ReadFileBytes(dll) == old);
    EXPECT_FALSE(KeyExists(MakerKey));
    TRemoteApp::Click(Page.CheckVersion);
    ExpectVersionMarks("104", Red, true);

    // Once the file is free the same press installs the offered version.
    Press(Page.Install);
    ASSERT_TRUE(WaitFor([&] {
        return TRemoteApp::Text(Page.InstalledVersion) == "105" || App->MessageBoxWindow();
    }));
    box = App->MessageBoxWindow();
    ASSERT_EQ(box, nullptr) << TRemoteApp::BoxText(box);
    EXPECT_TRUE(ReadFileBytes(dll) == StandInBytes);
    EXPECT_TRUE(KeyExists(MakerKey));
    ExpectVersionMarks("105", Green, false);
}

} // namespace
} // namespace qvx::e2e
