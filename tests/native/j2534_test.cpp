// Pass-thru: the library probe over fake entry points and the driver
// installer, each with a view that records what it is told; then the J2534
// page: the catalogue list, the page as both views, and the installation
// from the simulated adapter.
#include "j2534/installer.h"
#include "j2534/library_image.h"
#include "j2534/probe.h"
#include "tests/native/sim_window_fixture.h"

#include <cstring>
#include <functional>

namespace qvx {
namespace {

const std::string Catalogue = "SOFTWARE\\PassThruSupport.04.04";
const std::string SettingsKey = "SOFTWARE\\Morveklink";

// The fake library's behaviour and what it was asked; entry points are plain
// functions, so they reach it through one pointer.
struct TFakePassThru {
    int32_t OpenStatus = 0;
    int32_t CloseStatus = 0;
    int32_t VersionStatus = 0;
    uint32_t Id = 7;
    std::string Firmware = "FW 1.2";
    std::string Library = "DLL 3.4";
    std::string Api = "04.04";
    std::vector<std::string> Calls;
};
TFakePassThru* g_fake = nullptr;

int32_t QVX_STDCALL FakeOpen(void* name, uint32_t* id) {
    g_fake->Calls.push_back(name ? "Open(name)" : "Open");
    if (g_fake->OpenStatus == 0)
        *id = g_fake->Id;
    return g_fake->OpenStatus;
}
int32_t QVX_STDCALL FakeClose(uint32_t id) {
    g_fake->Calls.push_back("Close " + std::to_string(id));
    return g_fake->CloseStatus;
}
int32_t QVX_STDCALL FakeReadVersion(uint32_t id, char* fw, char* dll, char* api) {
    g_fake->Calls.push_back("ReadVersion " + std::to_string(id));
    if (g_fake->VersionStatus != 0)
        return g_fake->VersionStatus;
    // Texts of exactly 80 bytes have no zero byte: the buffer ends them.
    std::memcpy(fw, g_fake->Firmware.data(), std::min<size_t>(80, g_fake->Firmware.size()));
    std::memcpy(dll, g_fake->Library.data(), std::min<size_t>(80, g_fake->Library.size()));
    std::memcpy(api, g_fake->Api.data(), std::min<size_t>(80, g_fake->Api.size()));
    return 0;
}
int32_t QVX_STDCALL FakeUnused() {
    return 1;
}

TFakeLibraries::Symbols FakeSymbols() {
    TFakeLibraries::Symbols s;
    for (const char* name :
         {"PassThruConnect", "PassThruDisconnect", "PassThruReadMsgs", "PassThruWriteMsgs",
          "PassThruStartPeriodicMsg", "PassThruStopPeriodicMsg", "PassThruStartMsgFilter",
          "PassThruStopMsgFilter", "PassThruSetProgrammingVoltage", "PassThruGetLastError",
          "PassThruIoctl"})
        s[name] = reinterpret_cast<void*>(&FakeUnused);
    s["PassThruOpen"] = reinterpret_cast<void*>(&FakeOpen);
    s["PassThruClose"] = reinterpret_cast<void*>(&FakeClose);
    s["PassThruReadVersion"] = reinterpret_cast<void*>(&FakeReadVersion);
    return s;
}

void AddDevice(TMemoryRegistry& registry, const std::string& name, const std::string& dll,
               const std::string& config) {
    const std::string key = Catalogue + "\\" + name;
    registry.SetString(key, "Vendor", "Vendor of " + name);
    registry.SetString(key, "Name", "Name of " + name);
    registry.SetString(key, "FunctionLibrary", dll);
    if (!config.empty())
        registry.SetString(key, "ConfigApplication", config);
}

// Three entries of the catalogue; only Bravo's library exists.
void AddDevices(TMemoryRegistry& registry, TFakeLibraries& libraries) {
    AddDevice(registry, "Alpha - A1", "C:\\A\\a1.dll", "C:\\A\\a1cfg.exe");
    AddDevice(registry, "Bravo - B2", "C:\\B\\b2.dll", "C:\\B\\Tools\\b2cfg.exe");
    AddDevice(registry, "Charlie - C3", "C:\\C\\c3.dll", "");
    libraries.Add("C:\\B\\b2.dll", FakeSymbols());
}

// ---- The probe ----

class TProbeViewLog : public IProbeView {
public:
    std::vector<std::string> Lines;
    std::vector<std::string> States;
    void ClearProbeLog() override { Lines.clear(); }
    void AddProbeLine(const std::string& line) override { Lines.push_back(line); }
    void ShowLibraryLoaded() override { States.push_back("loaded"); }
    void ShowLibraryUnloaded() override { States.push_back("unloaded"); }
    void ShowDeviceOpen() override { States.push_back("open"); }
    void ShowDeviceClosed() override { States.push_back("closed"); }
};

class ProbeTest : public ::testing::Test, protected TMemoryPlatform {
protected:
    ProbeTest() {
        g_fake = &Fake;
        AddDevices(Registry, Libraries);
    }
    ~ProbeTest() override { g_fake = nullptr; }

    TFakePassThru Fake;
    TSettingsStore Settings{Platform};
    TProbeViewLog View;
    TPassThruProbe Probe{Settings, Libraries, View};
};

TEST_F(ProbeTest, ReadInfoWhenTheLoadFails) {
    Probe.ReadInfo("Alpha - A1"); // a1.dll does not exist
    // Open and Version do nothing; the closing Load tries again.
    EXPECT_EQ(View.Lines,
              (std::vector<std::string>{"Device:\tAlpha - A1", "DLL:\tC:\\A\\a1.dll - ERROR", ""}));
    EXPECT_EQ(Libraries.Attempts(), (std::vector<std::string>{"C:\\A\\a1.dll", "C:\\A\\a1.dll"}));
    EXPECT_FALSE(Probe.Loaded());
    EXPECT_TRUE(View.States.empty());

    // The entry gone since the list was filled: no path at all.
    Registry.DeleteKey(Catalogue + "\\Alpha - A1");
    Probe.Load("Alpha - A1");
    EXPECT_EQ(View.Lines, (std::vector<std::string>{"Device:\tAlpha - A1", "DLL:\t - ERROR", ""}));
    // An empty path is never handed to the loader.
    AddDevice(Registry, "Delta - D4", "", "");
    Probe.Load("Delta - D4");
    EXPECT_EQ(Libraries.Attempts().size(), 2u);
    EXPECT_FALSE(Probe.Loaded());
}

TEST_F(ProbeTest, ReadInfoEndsWithItsFirstFailure) {
    const auto outcomeOf = [this](const std::string& device) {
        Probe.ReadInfo(device);
        return Probe.Outcome();
    };
    EXPECT_EQ(outcomeOf("Bravo - B2"), poDone);
    EXPECT_EQ(outcomeOf("Alpha - A1"), poLibraryMissing);
    Fake.CloseStatus = 3;
    EXPECT_EQ(outcomeOf("Bravo - B2"), poCloseFailed);
    Fake.Id = 0;
    EXPECT_EQ(outcomeOf("Bravo - B2"), poOpenFailed);
    Fake.Id = 7;
    Fake.OpenStatus = 8;
    EXPECT_EQ(outcomeOf("Bravo - B2"), poOpenFailed);
    EXPECT_STREQ(ProbeOutcomeName(poLibraryMissing), "passthru_library_missing");
    EXPECT_EQ(ProbeOutcomeText(poOpenFailed, "Bravo - B2"),
              "The pass-thru library of \"Bravo - B2\" failed");
}

TEST_F(ProbeTest, OpenFailureKeepsTheDeviceClosed) {
    Fake.OpenStatus = 8;
    Probe.Load("Bravo - B2");
    Probe.OpenOrClose();
    EXPECT_EQ(View.Lines.at(View.Lines.size() - 2), "Open Device - ERROR");
    EXPECT_EQ(View.States, (std::vector<std::string>{"loaded"}));
    EXPECT_EQ(Probe.DeviceId(), 0u);
}

TEST_F(ProbeTest, DeviceIdZeroCountsAsNotOpen) {
    Fake.Id = 0;
    Probe.Load("Bravo - B2");
    Probe.OpenOrClose();
    Probe.OpenOrClose();
    EXPECT_EQ(Fake.Calls, (std::vector<std::string>{"Open", "Open"}));
    // Unloading has no device to close.
    Probe.Unload();
    EXPECT_EQ(Fake.Calls.size(), 2u);
    EXPECT_EQ(View.States, (std::vector<std::string>{"loaded", "unloaded"}));
}

TEST_F(ProbeTest, UnloadWithADeviceOpenClosesItFirst) {
    Fake.CloseStatus = 3;
    Probe.LoadOrUnload("Bravo - B2");
    Probe.OpenOrClose();
    EXPECT_EQ(Probe.DeviceId(), 7u);
    auto expected = View.Lines;
    Probe.LoadOrUnload("Bravo - B2");
    for (const char* line : {"Close Device - ERROR", "", "Unload DLL", ""})
        expected.push_back(line);
    EXPECT_EQ(View.Lines, expected);
    EXPECT_EQ(Fake.Calls.back(), "Close 7");
    EXPECT_EQ(Probe.DeviceId(), 0u);
    EXPECT_EQ(View.States, (std::vector<std::string>{"loaded", "open", "closed", "unloaded"}));
    EXPECT_EQ(Libraries.LoadedCount("C:\\B\\b2.dll"), 0);
}

TEST_F(ProbeTest, VersionTextsAndFailures) {
    Fake.Firmware = std::string(80, 'F'); // fills the buffer: no zero byte
    Probe.Load("Bravo - B2");
    Probe.Open();
    Probe.ReadVersion();
    EXPECT_EQ(View.Lines.at(View.Lines.size() - 4), "Firmware:\t" + std::string(80, 'F'));

    const size_t lines = View.Lines.size();
    Fake.VersionStatus = 0x1A;
    Probe.ReadVersion();
    EXPECT_EQ(View.Lines.size(), lines);
}

TEST_F(ProbeTest, MissingEntryPointsAreFailedCalls) {
    TFakeLibraries::Symbols partial = FakeSymbols();
    partial.erase("PassThruOpen");
    partial.erase("PassThruReadVersion");
    Libraries.Add("C:\\C\\c3.dll", partial);
    Probe.ReadInfo("Charlie - C3");
    EXPECT_EQ(View.Lines.at(5), "Open Device - ERROR");
    EXPECT_EQ(View.Lines.at(7), "Unload DLL");
    EXPECT_TRUE(Fake.Calls.empty());
}

TEST(FindDllVersion, TextAfterTheFirstMarker) {
    const std::string withZero("xxMkdV105\0MkdV999", 17);
    EXPECT_EQ(FindDllVersion(withZero.data(), withZero.size()), "105");
    EXPECT_EQ(FindDllVersion("abcMkdV2.0", 10), "2.0");
    EXPECT_EQ(FindDllVersion("MkdV", 4), "");
    EXPECT_EQ(FindDllVersion("MkdX105", 7), "");
    EXPECT_EQ(FindDllVersion("Mkd", 3), "");
}

TEST(LibraryImage, EachRuleHasItsResult) {
    const Bytes library = SimDriverLibrary("105");
    EXPECT_EQ(CheckLibraryImage(library.data(), library.size()), liLibrary);
    // The byte at `at` set to `value`, or the image cut to `at` bytes.
    const auto with = [&](size_t at, int value) {
        Bytes image = library;
        if (value < 0)
            image.resize(at);
        else
            image[at] = static_cast<char>(value);
        return CheckLibraryImage(image.data(), image.size());
    };
    const size_t pe = 0x40, file = pe + 4, optional = file + 20, section = optional + 0xE0;
    EXPECT_EQ(with(0, -1), liEmpty);
    EXPECT_EQ(with(1, 'X'), liNoDosHeader);
    EXPECT_EQ(with(63, -1), liNoDosHeader);
    EXPECT_EQ(with(0x3C, 0xF0), liNoPeHeader);      // e_lfanew at 0xF0: zeros there
    EXPECT_EQ(with(0x3F, 0x80), liNoPeHeader);      // e_lfanew far outside
    EXPECT_EQ(with(pe + 23, -1), liNoPeHeader);     // file header cut
    EXPECT_EQ(with(file + 1, 0x86), liNotX86);      // machine 0x864C
    EXPECT_EQ(with(file + 19, 0x01), liNotLibrary); // no DLL flag: a program
    EXPECT_EQ(with(file + 18, 0x00), liNotLibrary); // not an executable image
    EXPECT_EQ(with(optional, 0x07), liNotPe32);     // magic 0x107
    EXPECT_EQ(with(optional + 1, 0x02), liNotPe32); // 0x20B: PE32+
    EXPECT_EQ(with(file + 16, 0x5F), liNotPe32);    // shorter than a PE32 header
    EXPECT_EQ(with(section - 1, -1), liNotPe32);
    EXPECT_EQ(with(file + 2, 0), liBadSections);    // no section
    EXPECT_EQ(with(file + 3, 0x10), liBadSections); // 4097 sections: table outside
    EXPECT_EQ(with(section + 39, -1), liBadSections);
    EXPECT_EQ(with(0x200 + 0x1FF, -1), liBadSections);  // raw data cut by a byte
    EXPECT_EQ(with(section + 21, 0x10), liBadSections); // raw data at 0x1000
    EXPECT_STREQ(LibraryImageCheckText(liBadSections), "sections outside the image");
}

// ---- The driver installer ----

class TDriverViewLog : public IDriverView {
public:
    bool Offered = true;
    std::string Version = "<none>";
    std::string Marks = "hidden";
    std::string Hint = "<unset>"; // "" when hidden
    int Position = 55;
    std::vector<int> Positions;
    int EntriesWritten = 0;
    std::function<void()> OnProgress;

    bool DriverOffered() override { return Offered; }
    void ShowInstalledVersion(const std::string& text) override { Version = text; }
    void HideVersionMarks() override { Marks = "hidden"; }
    void ShowVersionMarks(bool current) override { Marks = current ? "current" : "stale"; }
    void ShowDriverHint(const std::string& text) override { Hint = text; }
    void HideDriverHint() override { Hint.clear(); }
    int InstallProgress() override { return Position; }
    int InstallProgressMax() override { return 100; }
    void SetInstallProgress(int position) override {
        Position = position;
        Positions.push_back(position);
        if (OnProgress)
            OnProgress();
    }
    void MakerEntryWritten() override { ++EntriesWritten; }
};

class InstallerTest : public ::testing::Test, protected TMemoryPlatform {
protected:
    InstallerTest() {
        Files.SetSystemFolder("C:\\Windows\\system32");
        Files.SetProgramPath("C:\\Quorvelix\\Configurator.exe");
    }
    bool Installed(std::string& content) { return Files.Get(Dll, content); }
    // A library of an earlier version and its catalogue entry.
    void PutOldInstallation() {
        Files.Put(Dll, OldLibrary);
        Registry.SetString(Entry, "Vendor", "Morveklink");
        Registry.SetString(Entry, "FunctionLibrary", Dll);
        Registry.SetDword(Entry, "CAN", 1);
        OldEntry = EntryValues();
    }
    std::vector<std::string> EntryValues() const {
        std::vector<std::string> out;
        for (const std::string& name : Registry.ValueNamesOf(Entry)) {
            TMemoryRegistry::Value v;
            Registry.GetValue(Entry, name, v);
            out.push_back(name + "=" + v.Text + "/" + std::to_string(v.Number));
        }
        return out;
    }
    // The old library whole, its entry as it was, no other file.
    void ExpectOldInstallationKept() {
        std::string content;
        EXPECT_TRUE(Installed(content) && content == OldLibrary) << "the old library is gone";
        EXPECT_EQ(Files.Paths(), std::vector<std::string>{Dll});
        EXPECT_EQ(EntryValues(), OldEntry);
        EXPECT_EQ(View.EntriesWritten, 0);
    }
    void ExpectErrorBox() {
        ASSERT_EQ(UserIo.Boxes().size(), 1u);
        EXPECT_EQ(UserIo.Boxes()[0].Text, "Installing of Passthru driver Error");
        EXPECT_EQ(UserIo.Boxes()[0].Caption, "Configurator - Error...");
        EXPECT_EQ(UserIo.Boxes()[0].Flags, 16u);
    }

    const std::string Dll = "C:\\Windows\\system32\\mvpass32.dll";
    const std::string Entry = Catalogue + "\\Morveklink - Quorvelix";
    const Bytes OldLibrary = SimDriverLibrary("104");
    const Bytes NewLibrary = SimDriverLibrary("105");
    std::vector<std::string> OldEntry;
    TSettingsStore Settings{Platform};
    TDriverViewLog View;
    TDriverInstaller Installer{Settings, Files, View};
};

TEST_F(InstallerTest, EqualVersionsAreCurrent) {
    Files.Put(Dll, std::string("MZ\0\0MkdV105\0rest", 16));
    Installer.CheckVersion("105");
    EXPECT_EQ(Installer.DriverDllPath(), Dll);
    EXPECT_EQ(View.Version, "105");
    EXPECT_EQ(View.Marks, "current");
    EXPECT_EQ(View.Hint, "");
}

TEST_F(InstallerTest, MissingMarkerAsksForAnUpdate) {
    Files.Put(Dll, "MZ plain library");
    Installer.CheckVersion("105");
    EXPECT_EQ(View.Version, "");
    EXPECT_EQ(View.Marks, "stale");
    EXPECT_EQ(View.Hint, "- Update is required ->");
}

TEST_F(InstallerTest, MissingFileAndMissingSystemFolder) {
    View.Marks = "current";
    Installer.CheckVersion("105");
    EXPECT_EQ(View.Version, "Not installed");
    EXPECT_EQ(View.Marks, "hidden");

    Files.SetSystemFolder("");
    Installer.CheckVersion("105");
    EXPECT_EQ(View.Version, "Access Error");
    EXPECT_EQ(Installer.DriverDllPath(), "");
}

TEST_F(InstallerTest, NoOfferedDriverLeavesTheMarksHidden) {
    Files.Put(Dll, std::string("MkdV104\0", 8));
    View.Offered = false;
    Installer.CheckVersion("105");
    EXPECT_EQ(View.Version, "104");
    EXPECT_EQ(View.Marks, "hidden");
    EXPECT_EQ(View.Hint, "<unset>");
}

TEST_F(InstallerTest, InstallWritesTheLibraryAndTheMakersEntry) {
    // No version check before: the installation finds the system folder.
    const Bytes image = SimDriverLibrary("105", 40000);
    ASSERT_EQ(image.size(), 40000u);
    Files.Put(Dll, OldLibrary);
    // Each step of the catalogue entry finds the new library in place and on
    // the disk.
    int entrySteps = 0;
    View.OnProgress = [&] {
        std::string content;
        if (View.Position > 30 && Installed(content) && content == image && Files.Flushed(Dll))
            ++entrySteps;
    };
    EXPECT_EQ(Installer.Install(image, "105"), irInstalled);
    EXPECT_TRUE(UserIo.Boxes().empty());
    std::string content;
    ASSERT_TRUE(Installed(content));
    EXPECT_EQ(content, image);
    EXPECT_EQ(Files.Paths(), std::vector<std::string>{Dll});
    EXPECT_EQ(entrySteps, 4 + 20 + 1);

    std::vector<int> expected = {0, 30, 40, 50, 60, 70};
    for (int p = 71; p <= 90; ++p)
        expected.push_back(p);
    expected.push_back(100);
    EXPECT_EQ(View.Positions, expected);

    std::vector<std::string> names = {"Vendor", "Name", "ConfigApplication", "FunctionLibrary"};
    for (const TPassThruProtocolFlag& flag : PassThruProtocolTable)
        names.push_back(flag.Name);
    EXPECT_EQ(Registry.ValueNamesOf(Entry), names);
    TMemoryRegistry::Value v;
    ASSERT_TRUE(Registry.GetValue(Entry, "FunctionLibrary", v));
    EXPECT_EQ(v.Text, Dll);
    ASSERT_TRUE(Registry.GetValue(Entry, "ConfigApplication", v));
    EXPECT_EQ(v.Text, "C:\\Quorvelix\\Configurator.exe");
    ASSERT_TRUE(Registry.GetValue(Entry, "SCI_B_TRANS", v));
    EXPECT_EQ(v.Type, RegValueType::Dword);
    EXPECT_EQ(v.Number, 0u);
    ASSERT_TRUE(Registry.GetValue(Entry, "UART_ECHO_BYTE_PS", v));
    EXPECT_EQ(v.Number, 1u);

    EXPECT_EQ(View.EntriesWritten, 1);
    EXPECT_EQ(View.Version, "105");
    EXPECT_EQ(View.Marks, "current");
}

TEST_F(InstallerTest, ATextImageChangesNothing) {
    PutOldInstallation();
    EXPECT_EQ(Installer.Install("MZ, then a text that is no library\r\n", "105"), irNotALibrary);
    ExpectErrorBox();
    ExpectOldInstallationKept();
    EXPECT_TRUE(View.Positions.empty());
}

TEST_F(InstallerTest, AnEmptyImageChangesNothing) {
    PutOldInstallation();
    EXPECT_EQ(Installer.Install("", "105"), irEmptyImage);
    ExpectErrorBox();
    ExpectOldInstallationKept();
    EXPECT_TRUE(View.Positions.empty());
    EXPECT_EQ(View.Version, "<none>");
}

TEST_F(InstallerTest, ALockedTargetFileIsAnError) {
    PutOldInstallation();
    Files.Lock(Dll);
    EXPECT_EQ(Installer.Install(NewLibrary, "105"), irNotReplaced);
    ExpectErrorBox();
    Files.Lock(Dll, false);
    ExpectOldInstallationKept();

    // Without a system folder there is nowhere to write either.
    Files.SetSystemFolder("");
    TDriverInstaller fresh(Settings, Files, View);
    EXPECT_EQ(fresh.Install(NewLibrary, "105"), irNoSystemFolder);
    EXPECT_EQ(UserIo.Boxes().size(), 2u);
    EXPECT_EQ(View.Version, "Access Error");
}

TEST_F(InstallerTest, AFailingTemporaryWriteChangesNothing) {
    PutOldInstallation();
    Files.FailWritesAfter(100);
    EXPECT_EQ(Installer.Install(NewLibrary, "105"), irNotWritten);
    ExpectErrorBox();
    ExpectOldInstallationKept();

    // Written whole, but not to the disk.
    Files.FailWritesAfter(-1);
    Files.SetFlushFails(true);
    EXPECT_EQ(Installer.Install(NewLibrary, "105"), irNotWritten);
    EXPECT_EQ(UserIo.Boxes().size(), 2u);
    ExpectOldInstallationKept();
}

TEST_F(InstallerTest, AFailedCatalogueWriteIsAnError) {
    Registry.MakeReadOnly(Catalogue);
    EXPECT_EQ(Installer.Install(NewLibrary, "105"), irCatalogueNotWritten);
    ExpectErrorBox();
    // The library is written all the same, and the list read again.
    std::string content;
    EXPECT_TRUE(Installed(content));
    EXPECT_EQ(View.EntriesWritten, 1);
    EXPECT_EQ(View.Positions.back(), 100);
}

// ---- The page ----

class J2534Test : public WindowTest {
protected:
    J2534Test() {
        g_fake = &Fake;
        Form.pcOptions.SetActivePage(&Form.J2534);
        Form.Settings.AppDir = "C:\\Quorvelix\\";
        AddDevices(Registry, Libraries);
    }
    ~J2534Test() override { g_fake = nullptr; }
    void Choose(const std::string& device) {
        Registry.SetString(SettingsKey, "Device", device);
        Form.btJ2534_Refresh.UserClick();
    }
    std::vector<std::string> Memo() const { return Form.memJ2534.Lines(); }

    TFakePassThru Fake;
};

TEST_F(J2534Test, RefreshListsTheCatalogueAndSelectsTheStoredDevice) {
    Choose("Bravo - B2");
    EXPECT_EQ(Form.cbJ2534_Devices.Items(),
              (std::vector<std::string>{"Alpha - A1", "Bravo - B2", "Charlie - C3"}));
    EXPECT_EQ(Form.cbJ2534_Devices.ItemIndex(), 1);
    EXPECT_EQ(Form.edJ2534_DLL.Text(), "C:\\B\\b2.dll");
    EXPECT_EQ(Form.edJ2534_Config.Text(), "C:\\B\\Tools\\b2cfg.exe");
    EXPECT_TRUE(Form.btJ2534_Load.Enabled());
    EXPECT_TRUE(Form.btJ2534_Info.Enabled());
    EXPECT_TRUE(Form.btJ2534_Config.Enabled());

    // An entry without a configuration program: Config off, and nothing is
    // added to the vendor's entry; the choice is stored at once.
    const auto before = Registry.ValueNamesOf(Catalogue + "\\Charlie - C3");
    Form.cbJ2534_Devices.UserSelect(2);
    EXPECT_EQ(Form.edJ2534_Config.Text(), "");
    EXPECT_FALSE(Form.btJ2534_Config.Enabled());
    EXPECT_EQ(Registry.ValueNamesOf(Catalogue + "\\Charlie - C3"), before);
    EXPECT_EQ(Setting("Device"), "Charlie - C3");
}

TEST_F(J2534Test, StoredDeviceMustMatchExactly) {
    Choose("bravo - b2");
    EXPECT_EQ(Form.cbJ2534_Devices.Items().size(), 3u);
    EXPECT_EQ(Form.cbJ2534_Devices.ItemIndex(), -1);
    EXPECT_FALSE(Form.btJ2534_Load.Enabled());
    EXPECT_FALSE(Form.btJ2534_Info.Enabled());
    EXPECT_FALSE(Form.btJ2534_Config.Enabled());
}

TEST_F(J2534Test, MissingCatalogueGivesAnEmptyListAndCreatesNothing) {
    Registry.DeleteKey(Catalogue);
    Form.cbJ2534_Devices.AddItem("stale");
    Form.btJ2534_Refresh.UserClick();
    EXPECT_TRUE(Form.cbJ2534_Devices.Items().empty());
    EXPECT_FALSE(Registry.KeyExists(Catalogue));
    EXPECT_EQ(Setting("Device"), "<missing>");
    // Reading a value of an entry that is not there creates nothing either.
    EXPECT_EQ(Form.ReadCatalogueValue("Alpha - A1", "Vendor"), "");
    EXPECT_FALSE(Registry.KeyExists(Catalogue));
}

TEST_F(J2534Test, ConfigStartsTheProgramFromTheRegistryAndReturnsToAppDir) {
    Choose("Bravo - B2");
    Registry.SetString(Catalogue + "\\Bravo - B2", "ConfigApplication", "D:\\New\\cfg.exe");
    Files.SetCurrentDir("D:\\New");
    Form.btJ2534_Config.UserClick();
    ASSERT_EQ(UserIo.ShellCalls().size(), 1u);
    EXPECT_EQ(UserIo.ShellCalls()[0].Target, "D:\\New\\cfg.exe");
    EXPECT_EQ(UserIo.ShellCalls()[0].Parameters, "");
    EXPECT_EQ(UserIo.ShellCalls()[0].Directory, "D:\\New");
    EXPECT_EQ(Files.GetCurrentDir(), "C:\\Quorvelix\\");
}

TEST_F(J2534Test, ReadInfoOnAWorkingDevice) {
    Choose("Bravo - B2");
    Form.btJ2534_Info.UserClick();
    EXPECT_EQ(Memo(), (std::vector<std::string>{"Device:\tBravo - B2", "DLL:\tC:\\B\\b2.dll",
                                                "Vendor:\tVendor of Bravo - B2",
                                                "Name:\tName of Bravo - B2", "", "Open Device - OK",
                                                "", "Read Version", "Firmware:\tFW 1.2",
                                                "DLL:\tDLL 3.4", "API:\t04.04", "",
                                                "Close Device - OK", "", "Unload DLL", ""}));
    EXPECT_EQ(Fake.Calls, (std::vector<std::string>{"Open", "ReadVersion 7", "Close 7"}));
    EXPECT_EQ(Libraries.LoadedCount("C:\\B\\b2.dll"), 0);
    EXPECT_TRUE(Form.btJ2534_Copy.Enabled());
    Form.btJ2534_Copy.UserClick();
    EXPECT_EQ(UserIo.Clipboard(), Form.memJ2534.Text());
    EXPECT_TRUE(Form.memJ2534.AllSelected());
}

TEST_F(J2534Test, ButtonsFollowTheProbe) {
    Choose("Bravo - B2");
    Form.btJ2534_Load.UserClick();
    EXPECT_EQ(Form.btJ2534_Load.Caption(), "Unload");
    EXPECT_FALSE(Form.cbJ2534_Devices.Enabled());
    EXPECT_FALSE(Form.btJ2534_Refresh.Enabled());
    EXPECT_TRUE(Form.btJ2534_Open.Enabled());
    EXPECT_FALSE(Form.btJ2534_Version.Enabled());
    Form.btJ2534_Open.UserClick();
    EXPECT_EQ(Form.btJ2534_Open.Caption(), "Close");
    EXPECT_TRUE(Form.btJ2534_Version.Enabled());
    Form.btJ2534_Version.UserClick();
    EXPECT_EQ(Fake.Calls.back(), "ReadVersion 7");

    // Unloading with the device open.
    Form.btJ2534_Load.UserClick();
    EXPECT_FALSE(Form.Probe.Loaded());
    EXPECT_EQ(Form.btJ2534_Open.Caption(), "Open");
    EXPECT_FALSE(Form.btJ2534_Open.Enabled());
    EXPECT_FALSE(Form.btJ2534_Version.Enabled());
    EXPECT_EQ(Form.btJ2534_Load.Caption(), "Load");
    EXPECT_TRUE(Form.cbJ2534_Devices.Enabled());
    EXPECT_TRUE(Form.btJ2534_Refresh.Enabled());

    // The probe loads the device the list shows.
    Form.cbJ2534_Devices.UserSelect(0);
    Form.btJ2534_Load.UserClick();
    EXPECT_EQ(Memo().at(0), "Device:\tAlpha - A1");
    EXPECT_EQ(Form.btJ2534_Load.Caption(), "Load");
    EXPECT_FALSE(Form.btJ2534_Open.Enabled());
}

TEST_F(J2534Test, CopyWithAnEmptyMemoDoesNothing) {
    Form.memJ2534.Add("x");
    EXPECT_TRUE(Form.btJ2534_Copy.Enabled());
    Form.memJ2534.Clear();
    EXPECT_FALSE(Form.btJ2534_Copy.Enabled());
    Form.btJ2534_CopyClick();
    EXPECT_EQ(UserIo.Clipboard(), "");
}

TEST_F(J2534Test, RefreshWhileLoadedKeepsUnloadReachable) {
    Choose("Bravo - B2");
    Form.btJ2534_Load.UserClick();
    Registry.DeleteKey(Catalogue + "\\Bravo - B2");
    Form.btJ2534_RefreshClick();
    EXPECT_TRUE(Form.btJ2534_Load.Enabled());
    Form.btJ2534_Load.UserClick();
    EXPECT_FALSE(Form.Probe.Loaded());
}

TEST_F(J2534Test, ClosingTheWindowReleasesTheLibraryWithoutClosingTheDevice) {
    Choose("Bravo - B2");
    Form.btJ2534_Load.UserClick();
    Form.btJ2534_Open.UserClick();
    const auto lines = Memo();
    Form.FormClose();
    EXPECT_EQ(Libraries.LoadedCount("C:\\B\\b2.dll"), 0);
    EXPECT_EQ(Fake.Calls, (std::vector<std::string>{"Open"}));
    EXPECT_EQ(Memo(), lines);
    EXPECT_FALSE(Form.Probe.Loaded());
}

// ---- The driver group ----

class DriverCheckTest : public J2534Test {
protected:
    DriverCheckTest() {
        Files.SetSystemFolder("C:\\Windows\\system32");
        Form.Session.Identity.Info.DriverVersion = "105";
        Form.btJ2534_Install.SetEnabled(true);
    }
    const std::string Installed = "C:\\Windows\\system32\\mvpass32.dll";
};

TEST_F(DriverCheckTest, MarksAndHintOnThePage) {
    Files.Put(Installed, "MZ plain library");
    Form.btJ2534_Version_Check.UserClick();
    EXPECT_EQ(Form.Installer.DriverDllPath(), Installed);
    EXPECT_EQ(Form.shJ2534_Version_DLL.BrushColor(), clRed);
    EXPECT_EQ(Form.shJ2534_Install.BrushColor(), clGreen);
    EXPECT_TRUE(Form.shJ2534_Version_DLL.Visible());
    EXPECT_TRUE(Form.shJ2534_Install.Visible());
    EXPECT_TRUE(Form.lbJ2534_Message.Visible());
    EXPECT_EQ(Form.lbJ2534_Message.Caption(), "- Update is required ->");

    Files.Put(Installed, std::string("MZ\0\0MkdV105\0rest", 16));
    Form.btJ2534_Version_Check.UserClick();
    EXPECT_EQ(Form.edJ2534_Version_DLL.Text(), "105");
    EXPECT_EQ(Form.shJ2534_Version_DLL.BrushColor(), clGreen);
    EXPECT_FALSE(Form.lbJ2534_Message.Visible());

    // Without an offered driver the marks stay hidden.
    Form.btJ2534_Install.SetEnabled(false);
    Form.btJ2534_Version_Check.UserClick();
    EXPECT_FALSE(Form.shJ2534_Version_DLL.Visible());
    EXPECT_FALSE(Form.shJ2534_Install.Visible());
}

TEST_F(DriverCheckTest, OpeningThePage) {
    Registry.SetString(SettingsKey, "Device", "Bravo - B2");
    Form.pbJ2534_Install.SetPosition(55);
    Form.pcOptions.SetActivePage(&Form.tsSettings);
    // Another page: nothing.
    Form.pcOptions.UserSelectPage(3);
    EXPECT_TRUE(Form.cbJ2534_Devices.Items().empty());
    Form.pcOptions.UserSelectPage(2);
    EXPECT_EQ(Form.cbJ2534_Devices.ItemIndex(), 1);
    EXPECT_EQ(Form.pbJ2534_Install.Position(), 0);
    EXPECT_EQ(Form.edJ2534_Version_DLL.Text(), "Not installed");
}

TEST_F(DriverCheckTest, OpeningThePageWithoutAnOfferedDriver) {
    Form.Session.Identity.Info.DriverVersion.clear();
    Form.pcOptions.SetActivePage(&Form.tsSettings);
    Form.pcOptions.UserSelectPage(2);
    EXPECT_TRUE(Form.cbJ2534_Devices.Items().empty());
    EXPECT_FALSE(Form.lbJ2534_Message.Visible());
    EXPECT_EQ(Form.edJ2534_Version_DLL.Text(), "");

    Form.edVersion.SetText("2.31");
    Form.pcOptions.UserSelectPage(0);
    Form.pcOptions.UserSelectPage(2);
    EXPECT_TRUE(Form.lbJ2534_Message.Visible());
    EXPECT_EQ(Form.lbJ2534_Message.Caption(), "  Update Firmware !!!");
    EXPECT_TRUE(Form.cbJ2534_Devices.Items().empty());
}

// ---- Installation from the simulated adapter ----

class DriverInstallTest : public SimWindowTest {
protected:
    DriverInstallTest() { Files.SetSystemFolder("C:\\Windows\\system32"); }
    // Identifies the adapter, so that it offers its driver, and opens the page.
    void Identify() {
        Form.btSearch.UserClick();
        RunUntilIdle();
        ASSERT_EQ(Form.AdapterInfo().DriverVersion, "105");
        Form.pcOptions.UserSelectPage(2);
        ASSERT_EQ(Form.edJ2534_Version_DLL.Text(), "Not installed");
    }
    bool Installed(std::string& content) { return Files.Get(Dll, content); }

    const std::string Dll = "C:\\Windows\\system32\\mvpass32.dll";
};

TEST_F(DriverInstallTest, InstallsTheImageTheAdapterSends) {
    TSimConfig config;
    config.Garbage = "xy";
    config.DriverImage = SimDriverLibrary("104", 40000);
    Adapter.SetConfig(config);
    Identify();
    Form.pbJ2534_Install.SetPosition(55);
    Form.btJ2534_Install.UserClick();
    EXPECT_TRUE(UserIo.Boxes().empty());
    std::string content;
    ASSERT_TRUE(Installed(content));
    ASSERT_EQ(content.size(), 40000u);
    EXPECT_EQ(content, Adapter.Config().DriverImage);
    EXPECT_EQ(Form.pbJ2534_Install.Position(), 100);
    // The refresh lists the new entry; the image is not the offered version.
    EXPECT_EQ(Form.cbJ2534_Devices.Items(), (std::vector<std::string>{"Morveklink - Quorvelix"}));
    EXPECT_EQ(Form.edJ2534_Version_DLL.Text(), "104");
    EXPECT_EQ(Form.shJ2534_Version_DLL.BrushColor(), clRed);
    EXPECT_FALSE(Link.IsOpen());
}

TEST_F(DriverInstallTest, WithoutAWholeImageNothingIsChangedAndTheErrorShown) {
    Configure("driver.image=");
    Identify();
    Form.btJ2534_Install.UserClick();
    ASSERT_EQ(UserIo.Boxes().size(), 1u);
    EXPECT_EQ(UserIo.Boxes()[0].Text, "Installing of Passthru driver Error");
    EXPECT_EQ(UserIo.Boxes()[0].Caption, "Quorvelix Configurator Version 2.3.1.8 - Error...");
    EXPECT_EQ(UserIo.Boxes()[0].Flags, 16u);
    std::string content;
    EXPECT_FALSE(Installed(content));
    EXPECT_TRUE(Form.cbJ2534_Devices.Items().empty());
    EXPECT_FALSE(Link.IsOpen());
}

TEST_F(DriverInstallTest, NoAdapterOnThePort) {
    Identify();
    Link.SetOpenFails(true);
    Form.btJ2534_Install.UserClick();
    ASSERT_EQ(UserIo.Boxes().size(), 1u);
    EXPECT_EQ(UserIo.Boxes()[0].Text,
              "Quorvelix Adapter is not found on Communication Port " + Form.cbCOM.Text());
    EXPECT_NE(Form.cbCOM.Text(), "");
    EXPECT_EQ(UserIo.Boxes()[0].Flags, 16u);
}

TEST_F(DriverInstallTest, NeverTakesTheLinkFromASession) {
    Identify();
    Form.btSearchClick(); // a session holds the link
    ASSERT_FALSE(Form.Session.Idle());
    const int opens = Link.OpenCount();
    Form.btJ2534_Install.UserClick();
    EXPECT_EQ(Link.OpenCount(), opens);
    RunUntilIdle();
}

TEST_F(DriverInstallTest, UsesTheSelectedPortWhenNoSessionSetOne) {
    Form.Session.Identity.Info.DriverVersion = "105";
    Form.btJ2534_Install.SetEnabled(true);
    Link.SetAdapterPort("USB:QV2A0017");
    Form.pcOptions.SetActivePage(&Form.J2534);
    ASSERT_EQ(Link.PortName(), "");
    Form.btJ2534_Install.UserClick();
    EXPECT_EQ(Link.PortName(), "USB:QV2A0017");
    std::string content;
    EXPECT_TRUE(Installed(content));
}

} // namespace
} // namespace qvx
