// The J2534 page on the real system: the stand-in pass-thru library loaded
// through LoadLibrary, and the whole road of the maker's driver from the
// simulated adapter into the system folder and the registry catalogue.
#include "app/Unitmain.h"
#include "j2534/probe.h"
#include "platform/memory/manual_timers.h"
#include "platform/memory/memory_files.h"
#include "platform/memory/memory_registry.h"
#include "platform/memory/scripted_userio.h"
#include "platform/memory/static_version.h"
#include "platform/win32/win_files.h"
#include "platform/win32/win_libraries.h"
#include "platform/win32/win_registry.h"
#include "serdev/win32/Serdev.h"
#include "sim/sim_link.h"
#include "tests/win32/link_test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace qvx {
namespace {

const std::string Catalogue = "SOFTWARE\\PassThruSupport.04.04";
const std::string MakerEntry = Catalogue + "\\Morveklink - Quorvelix";
const std::string SettingsKey = "SOFTWARE\\Morveklink";

std::string StandInPath() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.find_last_of('\\') + 1) + "passthru_standin.dll";
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The stand-in's test controls, in the module the probe loads.
struct TStandInControls {
    HMODULE Module = LoadLibraryA(StandInPath().c_str());
    ~TStandInControls() {
        if (Module)
            FreeLibrary(Module);
    }
    void Configure(const char* text) {
        auto fn = reinterpret_cast<void(__cdecl*)(const char*)>(
            reinterpret_cast<void*>(GetProcAddress(Module, "QvxPassThru_Configure")));
        ASSERT_NE(fn, nullptr);
        fn(text);
    }
    long Calls(int index) {
        auto fn = reinterpret_cast<long(__cdecl*)(int)>(
            reinterpret_cast<void*>(GetProcAddress(Module, "QvxPassThru_Calls")));
        return fn ? fn(index) : -1;
    }
};

TEST(PassThruStandIn, CarriesItsVersionAndFitsIntoAReply) {
    const std::string image = ReadFile(StandInPath());
    ASSERT_FALSE(image.empty());
    EXPECT_EQ(FindDllVersion(image.data(), image.size()), "105");
    // The adapter's reply holds at most 65,536 bytes with its markers.
    EXPECT_LT(image.size(), 65524u);
    EXPECT_EQ(image.find("[END]"), std::string::npos);
}

TEST(PassThruStandIn, ExportsTheFourteenEntryPointsByPlainName) {
    TWinLibraries libraries;
    LibraryHandle lib = libraries.Load(StandInPath());
    ASSERT_NE(lib, nullptr);
    TPassThruApi api;
    api.Resolve(libraries, lib);
    const void* all[] = {reinterpret_cast<void*>(api.PassThruOpen),
                         reinterpret_cast<void*>(api.PassThruClose),
                         reinterpret_cast<void*>(api.PassThruConnect),
                         reinterpret_cast<void*>(api.PassThruDisconnect),
                         reinterpret_cast<void*>(api.PassThruReadMsgs),
                         reinterpret_cast<void*>(api.PassThruWriteMsgs),
                         reinterpret_cast<void*>(api.PassThruStartPeriodicMsg),
                         reinterpret_cast<void*>(api.PassThruStopPeriodicMsg),
                         reinterpret_cast<void*>(api.PassThruStartMsgFilter),
                         reinterpret_cast<void*>(api.PassThruStopMsgFilter),
                         reinterpret_cast<void*>(api.PassThruSetProgrammingVoltage),
                         reinterpret_cast<void*>(api.PassThruReadVersion),
                         reinterpret_cast<void*>(api.PassThruGetLastError),
                         reinterpret_cast<void*>(api.PassThruIoctl)};
    for (const void* entry : all)
        EXPECT_NE(entry, nullptr);
    // Standard call: a call through the typed pointer leaves the stack right
    // (a mismatch would crash or corrupt the caller here).
    uint32_t id = 0;
    EXPECT_EQ(api.PassThruOpen(nullptr, &id), 0);
    EXPECT_NE(id, 0u);
    uint32_t channel = 0;
    EXPECT_NE(api.PassThruConnect(id, 6, 0, 500000, &channel), 0);
    EXPECT_EQ(api.PassThruClose(id), 0);
    EXPECT_NE(api.PassThruClose(id), 0); // already closed
    libraries.Free(lib);
}

// The probe's log, as the page would show it.
class TProbeLines : public IProbeView {
public:
    std::vector<std::string> Lines;
    void ClearProbeLog() override { Lines.clear(); }
    void AddProbeLine(const std::string& line) override { Lines.push_back(line); }
    void ShowLibraryLoaded() override {}
    void ShowLibraryUnloaded() override {}
    void ShowDeviceOpen() override {}
    void ShowDeviceClosed() override {}
};

// The probe over the real library loader; the catalogue in memory.
class StandInProbeTest : public ::testing::Test {
protected:
    StandInProbeTest() {
        const std::string key = Catalogue + "\\Stand-in";
        Registry.SetString(key, "Vendor", "Test vendor");
        Registry.SetString(key, "Name", "Stand-in");
        Registry.SetString(key, "FunctionLibrary", StandInPath());
    }
    ~StandInProbeTest() override { Controls.Configure(nullptr); }

    TStandInControls Controls;
    TMemoryRegistry Registry;
    TWinLibraries Libraries;
    TScriptedUserIo UserIo;
    TMemoryFiles Files;
    TStaticVersion Version = TStaticVersion::Product();
    TManualTimers Timers;
    TPlatform Platform{Registry, Libraries, UserIo, Files, Version, Timers};
    TSettingsStore Settings{Platform};
    TProbeLines View;
    TPassThruProbe Probe{Settings, Libraries, View};
};

TEST_F(StandInProbeTest, ReadInfo) {
    Controls.Configure("firmware=FW 9.9;api=04.04");
    Probe.ReadInfo("Stand-in");
    EXPECT_EQ(View.Lines, (std::vector<std::string>{
                              "Device:\tStand-in", "DLL:\t" + StandInPath(), "Vendor:\tTest vendor",
                              "Name:\tStand-in", "", "Open Device - OK", "", "Read Version",
                              "Firmware:\tFW 9.9", "DLL:\t105", "API:\t04.04", "",
                              "Close Device - OK", "", "Unload DLL", ""}));
    EXPECT_FALSE(Probe.Loaded());
}

TEST_F(StandInProbeTest, FailingOpenStillAsksForTheVersionWithIdZero) {
    Controls.Configure("open=8");
    Probe.ReadInfo("Stand-in");
    EXPECT_EQ(View.Lines.at(5), "Open Device - ERROR");
    EXPECT_EQ(View.Lines.at(7), "Unload DLL");
    EXPECT_EQ(Controls.Calls(0), 1);  // PassThruOpen
    EXPECT_EQ(Controls.Calls(11), 1); // PassThruReadVersion, refused
    EXPECT_EQ(Controls.Calls(1), 0);  // nothing to close
}

std::string InstalledPath() {
    char folder[MAX_PATH] = {};
    GetSystemDirectoryA(folder, MAX_PATH);
    return std::string(folder) + "\\mvpass32.dll";
}

// What an installation leaves behind, removed before and after a test: the
// library file, the maker's entry (and the catalogue when the test made it),
// and the stored "Device" choice put back.
class TInstallTraces {
public:
    explicit TInstallTraces(IRegistry& registry) : Registry(registry) {
        CleanUp();
        HadCatalogue = Registry.OpenKey(Catalogue, RegAccess::Read) != nullptr;
        if (auto key = Registry.OpenKey(SettingsKey, RegAccess::Read))
            HadDevice = key->ReadString("Device", SavedDevice);
    }
    ~TInstallTraces() {
        CleanUp();
        if (!HadCatalogue) {
            auto catalogue = Registry.OpenKey(Catalogue, RegAccess::Read);
            if (catalogue && catalogue->SubkeyNames().empty()) {
                catalogue.reset();
                Registry.DeleteKey(Catalogue);
            }
        }
        if (auto key = Registry.OpenKey(SettingsKey, RegAccess::AllAccess)) {
            if (HadDevice)
                key->WriteString("Device", SavedDevice);
            else
                key->DeleteValue("Device");
        }
    }
    TInstallTraces(const TInstallTraces&) = delete;
    TInstallTraces& operator=(const TInstallTraces&) = delete;

private:
    void CleanUp() {
        Registry.DeleteKey(MakerEntry);
        DeleteFileA(InstalledPath().c_str());
    }
    IRegistry& Registry;
    bool HadCatalogue = false;
    bool HadDevice = false;
    std::string SavedDevice;
};

// The real registry, the real system folder and LoadLibrary; the adapter is
// simulated and carries the stand-in library as its driver.
class DriverRoadTest : public ::testing::Test {
protected:
    DriverRoadTest() {
        TSimConfig config;
        std::string error;
        EXPECT_TRUE(ParseSimConfig("driver.image.file=" + StandInPath(), config, error)) << error;
        Adapter.SetConfig(config);
        TPortLists lists;
        lists.Entries = {{"USB:QV2A0017", "Quorvelix Adapter", ""}};
        Link.SetPortLists(lists);
        Form.Settings.AppProductName = "Quorvelix";
        Form.RebuildPortList(true);
    }
    ~DriverRoadTest() override {
        // Unloaded before the traces go: a loaded library cannot be deleted.
        if (Form.Probe.Loaded())
            Form.btJ2534_Load.UserClick();
    }
    void Identify() {
        Form.btSearch.UserClick();
        for (int ms = 0; ms < 60000 && !Form.Session.Idle(); ++ms) {
            Link.Advance(1000);
            Timers.Advance(1);
        }
    }

    TWinRegistry Registry;
    TInstallTraces Traces{Registry};
    TWinLibraries Libraries;
    TScriptedUserIo UserIo;
    TWinFiles Files;
    TStaticVersion Version = TStaticVersion::Product();
    TManualTimers Timers;
    TPlatform Platform{Registry, Libraries, UserIo, Files, Version, Timers};
    TSimAdapter Adapter;
    TSimLink Link{Adapter};
    TfrmMain Form{Platform, &Link};
};

TEST_F(DriverRoadTest, IdentifyCheckInstallRefreshReadInfo) {
    Identify();
    ASSERT_EQ(Form.AdapterInfo().DriverVersion, "105");
    ASSERT_TRUE(Form.btJ2534_Install.Enabled());

    Form.pcOptions.UserSelectPage(2);
    EXPECT_EQ(Form.edJ2534_Version_DLL.Text(), "Not installed");
    EXPECT_EQ(Form.Installer.DriverDllPath(), InstalledPath());

    Form.btJ2534_Install.UserClick();
    EXPECT_TRUE(UserIo.Boxes().empty());
    EXPECT_EQ(ReadFile(InstalledPath()), ReadFile(StandInPath()));
    auto entry = Registry.OpenKey(MakerEntry, RegAccess::Read);
    ASSERT_NE(entry, nullptr);
    std::string text;
    EXPECT_TRUE(entry->ReadString("FunctionLibrary", text));
    EXPECT_EQ(text, InstalledPath());
    uint32_t flag = 2;
    EXPECT_TRUE(entry->ReadDword("ISO15765", flag));
    EXPECT_EQ(flag, 1u);
    EXPECT_EQ(entry->ValueNames().size(), 24u);
    entry.reset();
    EXPECT_EQ(Form.pbJ2534_Install.Position(), 100);
    EXPECT_EQ(Form.edJ2534_Version_DLL.Text(), "105");
    EXPECT_EQ(Form.shJ2534_Version_DLL.BrushColor(), clGreen);
    EXPECT_EQ(Form.shJ2534_Install.BrushColor(), clGreen);
    EXPECT_TRUE(Form.shJ2534_Version_DLL.Visible());
    EXPECT_FALSE(Form.lbJ2534_Message.Visible());

    const auto& items = Form.cbJ2534_Devices.Items();
    auto it = std::find(items.begin(), items.end(), "Morveklink - Quorvelix");
    ASSERT_NE(it, items.end());
    Form.cbJ2534_Devices.UserSelect(static_cast<int>(it - items.begin()));
    EXPECT_EQ(Form.edJ2534_DLL.Text(), InstalledPath());
    Form.btJ2534_Info.UserClick();
    const auto& lines = Form.memJ2534.Lines();
    ASSERT_EQ(lines.size(), 16u);
    EXPECT_EQ(lines[2], "Vendor:\tMorveklink");
    EXPECT_EQ(lines[3], "Name:\tQuorvelix");
    EXPECT_EQ(lines[5], "Open Device - OK");
    EXPECT_EQ(lines[9], "DLL:\t105");
    EXPECT_EQ(lines[12], "Close Device - OK");
}

TEST_F(DriverRoadTest, ALoadedLibraryCannotBeReplaced) {
    Identify();
    Form.pcOptions.UserSelectPage(2);
    Form.Settings.RegWriteStr("", "Device", "Morveklink - Quorvelix");
    Form.btJ2534_Install.UserClick();
    ASSERT_TRUE(UserIo.Boxes().empty());
    ASSERT_EQ(Form.cbJ2534_Devices.Text(), "Morveklink - Quorvelix");
    Form.btJ2534_Load.UserClick();
    ASSERT_TRUE(Form.Probe.Loaded());
    Form.btJ2534_Install.UserClick();
    ASSERT_EQ(UserIo.Boxes().size(), 1u);
    EXPECT_EQ(UserIo.Boxes()[0].Text, "Installing of Passthru driver Error");
    // The library in use is still the whole file.
    EXPECT_EQ(ReadFile(InstalledPath()), ReadFile(StandInPath()));
    Form.btJ2534_Load.UserClick();
}

} // namespace
} // namespace qvx

namespace qvx {
namespace {

// The demo's road: the image read over the real device link from the
// stand-in D2XX library's simulated adapter, at the demo's line rate.
class DriverOverUsbTest : public ::testing::Test {
protected:
    DriverOverUsbTest() {
        using TAddSim = int(__cdecl*)(const char*, const char*, const char*, char*, int);
        auto add = reinterpret_cast<TAddSim>(
            reinterpret_cast<void*>(GetProcAddress(D2xx, "QvxStandIn_AddSimDevice")));
        char error[256] = {};
        const std::string config =
            "driver.image.file=" + StandInPath() + ";line.rate=11520;line.chunk=64";
        Added = add && add("QV2A0017", "Quorvelix Adapter", config.c_str(), error, 256);
        EXPECT_TRUE(Added) << error;
        Link.SetPortName("USB:QV2A0017");
        Form.Settings.AppProductName = "Quorvelix";
        Form.Session.Identity.Info.DriverVersion = "105";
        Form.btJ2534_Install.SetEnabled(true);
        Form.pcOptions.SetActivePage(&Form.J2534);
    }
    ~DriverOverUsbTest() override {
        Link.Close();
        if (auto reset = reinterpret_cast<void(__cdecl*)()>(
                reinterpret_cast<void*>(GetProcAddress(D2xx, "QvxStandIn_Reset"))))
            reset();
        FreeLibrary(D2xx);
    }

    HMODULE D2xx = LoadLibraryA("mvd2xx.dll");
    bool Added = false;
    TWinRegistry Registry;
    TInstallTraces Traces{Registry};
    TWinLibraries Libraries;
    TScriptedUserIo UserIo;
    TWinFiles Files;
    TStaticVersion Version = TStaticVersion::Product();
    TManualTimers Timers;
    TPlatform Platform{Registry, Libraries, UserIo, Files, Version, Timers};
    TSerDev Link{UserIo, Libraries, std::make_unique<TCountingLists>()};
    TfrmMain Form{Platform, &Link};
};

TEST_F(DriverOverUsbTest, InstallsTheImageTheAdapterSends) {
    ASSERT_TRUE(Added);
    Form.btJ2534_Install.UserClick();
    EXPECT_TRUE(UserIo.Boxes().empty());
    EXPECT_EQ(ReadFile(InstalledPath()), ReadFile(StandInPath()));
    EXPECT_EQ(Form.edJ2534_Version_DLL.Text(), "105");
    EXPECT_EQ(Form.shJ2534_Version_DLL.BrushColor(), clGreen);
    EXPECT_FALSE(Link.IsOpen());
}

} // namespace
} // namespace qvx
