// Fault campaign under Wine: the real window bound to real controls, the real
// device link with its reader and writer threads and the real port-list
// threads, over the stand-in D2XX library whose simulated adapter
// misbehaves. Requests start from real button clicks and run on real window
// timers; each must end with the window usable, the link and the device
// closed, the port lists running, nothing written after the request ended
// and the settings key as it was. Deadlines only guard against a hang.
#include "app/Unitmain.h"
#include "platform/memory/watched.h"
#include "app/win32/win_form.h"
#include "platform/memory/memory_files.h"
#include "platform/memory/scripted_userio.h"
#include "platform/memory/static_version.h"
#include "platform/win32/win_libraries.h"
#include "platform/win32/win_registry.h"
#include "platform/win32/win_timers.h"
#include "serdev/portlists.h"
#include "serdev/win32/Serdev.h"
#include "sim/sim_adapter.h"
#include "tests/win32/win_probe.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>

namespace qvx {
namespace {

const char* const Serial = "QV2A0017";
const char* const SettingsKey = "SOFTWARE\\Morveklink";

// The stand-in's control exports and its device list.
struct TStandIn {
    HMODULE Module = LoadLibraryA("mvd2xx.dll");
    template <typename Fn> Fn Get(const char* name) {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(Module, name)));
    }
    void Reset() { Get<void (*)()>("QvxStandIn_Reset")(); }
    bool AddSim(const char* serial, const std::string& config) {
        char error[256] = {};
        return Get<int (*)(const char*, const char*, const char*, char*, int)>(
                   "QvxStandIn_AddSimDevice")(serial, "Quorvelix Adapter", config.c_str(), error,
                                              sizeof error) == 1;
    }
    void Add(const char* serial) {
        Get<int (*)(const char*, const char*)>("QvxStandIn_AddDevice")(serial, "Other");
    }
    size_t Taken(const char* serial) {
        return static_cast<size_t>(
            Get<int (*)(const char*, char*, int)>("QvxStandIn_Taken")(serial, nullptr, 0));
    }
    // The device's "opened" flag as the listing reports it.
    bool DeviceOpen(const char* serial) {
        auto create = Get<DWORD(WINAPI*)(LPDWORD)>("FT_CreateDeviceInfoList");
        auto list = Get<DWORD(WINAPI*)(void*, LPDWORD)>("FT_GetDeviceInfoList");
        DWORD count = 0;
        create(&count);
        std::vector<unsigned char> records(100 * (count + 1));
        list(records.data(), &count);
        for (DWORD i = 0; i < count; ++i) {
            const unsigned char* r = records.data() + i * 100;
            if (std::string(reinterpret_cast<const char*>(r + 16)) == serial)
                return r[0] & 1;
        }
        return false;
    }
};

// The real port-list threads, with a count of pauses and resumes.
class TWatchedLists : public IPortListControl {
public:
    explicit TWatchedLists(std::unique_ptr<IPortListControl> inner) : Inner(std::move(inner)) {}
    std::atomic<int> Pauses{0}, Resumes{0};
    void PauseLists() override {
        ++Pauses;
        Inner->PauseLists();
    }
    void ResumeLists() override {
        ++Resumes;
        Inner->ResumeLists();
    }
    void RequestUsbRescan() override { Inner->RequestUsbRescan(); }
    void GetPortLists(TPortLists& lists) override { Inner->GetPortLists(lists); }

private:
    std::unique_ptr<IPortListControl> Inner;
};

using TSettingsSnapshot = std::map<std::string, std::string>;

void SnapshotKey(HKEY root, const std::string& path, TSettingsSnapshot& out) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    out[path + "\\"] = "";
    for (DWORD i = 0;; ++i) {
        char name[512];
        DWORD nameLength = sizeof name;
        BYTE data[4096];
        DWORD dataLength = sizeof data;
        DWORD type = 0;
        if (RegEnumValueA(key, i, name, &nameLength, nullptr, &type, data, &dataLength) !=
            ERROR_SUCCESS)
            break;
        out[path + "|" + std::string(name, nameLength)] =
            std::to_string(type) + ":" +
            std::string(reinterpret_cast<const char*>(data), dataLength);
    }
    std::vector<std::string> subkeys;
    for (DWORD i = 0;; ++i) {
        char name[512];
        DWORD nameLength = sizeof name;
        if (RegEnumKeyExA(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        subkeys.push_back(std::string(name, nameLength));
    }
    RegCloseKey(key);
    for (const std::string& sub : subkeys)
        SnapshotKey(root, path + "\\" + sub, out);
}

TSettingsSnapshot Settings() {
    TSettingsSnapshot out;
    SnapshotKey(HKEY_LOCAL_MACHINE, SettingsKey, out);
    return out;
}

class WineFaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(StandIn.Module, nullptr) << "mvd2xx.dll stand-in not found beside the tests";
        HKEY key = nullptr;
        HadSettings =
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, SettingsKey, 0, KEY_READ, &key) == ERROR_SUCCESS;
        if (key)
            RegCloseKey(key);
        StandIn.Reset();
        UserIo.OnBox = [this] { Link->Ended = true; };
    }
    void TearDown() override {
        Window.reset();
        Form.reset();
        Link.reset();
        StandIn.Reset();
        if (!HadSettings)
            RegDeleteTreeA(HKEY_LOCAL_MACHINE, SettingsKey);
    }

    // The program's pieces over the adapter configured by `config`, with its
    // port selected in the combo.
    void Start(const std::string& config) {
        ASSERT_TRUE(StandIn.AddSim(Serial, config)) << config;
        auto lists = std::make_unique<TWatchedLists>(
            std::make_unique<TPortListThreads>(Registry, Libraries, UserIo, 6));
        Lists = lists.get();
        Link = std::make_unique<TWatchedLink<TSerDev>>(UserIo, Libraries, std::move(lists));
        Files.SetProgramPath("C:\\Quorvelix\\Configurator.exe");
        Form = std::make_unique<TfrmMain>(Platform, Link.get());
        Window =
            std::make_unique<TWin32Form>(*Form, std::vector<const TImageList*>{&Form->ilIcons});
        Window->OnError = [this](const std::string& message) { Errors.push_back(message); };
        Window->Show(SW_SHOWNOACTIVATE);
        ASSERT_TRUE(PumpUntil([&] { return PortIndex() >= 0; })) << "the adapter is not listed";
        probe::SelectComboItem(H(Form->cbCOM), PortIndex());
        ASSERT_EQ(Form->cbCOM.Text(), "USB:QV2A0017 (Quorvelix Adapter)");
    }
    int PortIndex() const {
        for (size_t i = 0; i < Form->cbCOM.Items().size(); ++i)
            if (Form->cbCOM.Items()[i].rfind("USB:QV2A0017 ", 0) == 0)
                return static_cast<int>(i);
        return -1;
    }
    HWND H(const TControl& control) const { return Window->HandleOf(control); }
    bool PumpUntil(const std::function<bool()>& condition, int seconds = 60) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < deadline) {
            probe::Pump();
            if (condition())
                return true;
            Sleep(2);
        }
        return condition();
    }
    void PumpFor(int ms) {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < until) {
            probe::Pump();
            Sleep(2);
        }
    }
    bool Idle() const { return Form->Session.Idle() && !Form->Updater.IsUploading(); }
    void Click(const TControl& control) { SendMessageA(H(control), BM_CLICK, 0, 0); }
    void Snapshot() {
        Before = Settings();
        UserIo.Clear();
        Link->Ended = false;
        Link->WritesAfterEnd.clear();
    }
    void Search() {
        Click(Form->btSearch);
        ASSERT_TRUE(PumpUntil([&] { return Idle(); }));
    }
    void SearchAndSnapshot() {
        Search();
        ASSERT_TRUE(UserIo.Boxes().empty());
        ASSERT_EQ(probe::Text(H(Form->edSerial)), "QV2A0017");
        Snapshot();
    }
    void ExpectNotFoundBox() {
        ASSERT_EQ(UserIo.Boxes().size(), 1u);
        EXPECT_EQ(UserIo.Boxes()[0].Text, "Quorvelix Adapter is not found on Communication Port "
                                          "USB:QV2A0017 (Quorvelix Adapter)");
    }
    // The identity reply of the configured adapter, in bytes.
    static uint64_t IdentityReplySize(const std::string& config) {
        TSimConfig parsed;
        std::string error;
        EXPECT_TRUE(ParseSimConfig(config, parsed, error)) << error;
        TSimAdapter adapter(parsed);
        adapter.HostWrite("!Morvek_SC_I");
        adapter.Advance(1000000);
        return adapter.HostRead(SIZE_MAX).size();
    }
    static uint64_t FrameSize(const std::string& line) {
        return std::string("\r\nCR:" + TSimConfig().Copyright + "\r\n" + line + "\r\n\r\n").size();
    }
    void PrepareUpload(size_t pages) {
        Bytes image(80 + pages * 64, '\0');
        for (size_t i = 0; i < image.size(); ++i)
            image[i] = static_cast<char>(i * 31 + 7);
        Files.Put("C:\\fw\\fault.rfw", image);
        probe::SelectTab(H(Form->pcOptions), 1);
        Form->edFW_File.SetText("C:\\fw\\fault.rfw");
        probe::Pump();
        ASSERT_TRUE(IsWindowEnabled(H(Form->btUpdateRun)));
    }

    void ExpectRecovered() {
        EXPECT_TRUE(Idle());
        PumpFor(300); // anything that would still go out after the end
        EXPECT_FALSE(Link->IsOpen());
        EXPECT_FALSE(StandIn.DeviceOpen(Serial)) << "the stand-in still has the device open";
        EXPECT_EQ(Lists->Pauses.load(), Lists->Resumes.load()) << "the port lists stay paused";
        EXPECT_TRUE(Link->WritesAfterEnd.empty())
            << "written after the request ended: '"
            << (Link->WritesAfterEnd.empty() ? "" : Link->WritesAfterEnd[0]) << "'";
        for (const TControl* c : std::initializer_list<const TControl*>{
                 &Form->pcOptions, &Form->btSearch, &Form->cbCOM, &Form->btRefresh, &Form->cbShow,
                 &Form->lvModes})
            EXPECT_TRUE(IsWindowEnabled(H(*c))) << c->Name();
        EXPECT_EQ(probe::Text(H(Form->btUpdateRun)), "Run");
        EXPECT_TRUE(Errors.empty()) << Errors.front();
        EXPECT_EQ(Settings(), Before) << "the settings changed";
        // The port-list threads run: a device plugged in now is listed.
        StandIn.Add("QV2F0099");
        probe::SelectTab(H(Form->pcOptions), 0); // "Refresh" is on the Settings page
        Click(Form->btRefresh);
        EXPECT_TRUE(PumpUntil(
            [&] {
                for (const std::string& item : Form->cbCOM.Items())
                    if (item.rfind("USB:QV2F0099 ", 0) == 0)
                        return true;
                return false;
            },
            30))
            << "the port lists no longer run";
    }

    TStandIn StandIn;
    bool HadSettings = false;
    TWinRegistry Registry;
    TWinLibraries Libraries;
    TWatchedUserIo UserIo;
    TMemoryFiles Files;
    TStaticVersion Version = TStaticVersion::Product();
    TWinTimers Timers;
    TPlatform Platform{Registry, Libraries, UserIo, Files, Version, Timers};
    TWatchedLists* Lists = nullptr;
    std::unique_ptr<TWatchedLink<TSerDev>> Link;
    std::unique_ptr<TfrmMain> Form;
    std::unique_ptr<TWin32Form> Window;
    std::vector<std::string> Errors;
    TSettingsSnapshot Before;
};

TEST_F(WineFaultTest, DeviceGoneInTheMiddleOfTheIdentityReply) {
    Start("line.rate=11520;line.chunk=16;fault.disconnect.bytes=60");
    Snapshot();
    Search();
    ExpectNotFoundBox();
    EXPECT_EQ(probe::Text(H(Form->edSerial)), "");
    ExpectRecovered();
    // The device is gone: the next search cannot open it and says so.
    UserIo.Clear();
    Search();
    ASSERT_EQ(UserIo.Boxes().size(), 1u);
    EXPECT_EQ(UserIo.Boxes()[0].Text, "USB Device Error: 2 (Device is not found)");
    EXPECT_EQ(UserIo.Boxes()[0].Caption, "Open Port(USB:QV2A0017) Error...");
    EXPECT_FALSE(Link->IsOpen());
    EXPECT_TRUE(IsWindowEnabled(H(Form->btSearch)));
    EXPECT_EQ(Lists->Pauses.load(), Lists->Resumes.load());
}

TEST_F(WineFaultTest, DeviceGoneWhileTheSelfTestStreams) {
    const std::string base = "line.rate=11520;line.chunk=32;test.steps=8";
    const uint64_t cut = IdentityReplySize(base) + 150;
    Start(base + ";fault.disconnect.bytes=" + std::to_string(cut));
    SearchAndSnapshot();
    probe::SelectTab(H(Form->pcOptions), Form->tsTest.PageIndex());
    Click(Form->btRunTest);
    ASSERT_TRUE(PumpUntil([&] { return Idle(); }));
    ExpectNotFoundBox();
    const std::string log = probe::Text(H(Form->memLogTest));
    EXPECT_EQ(log.rfind("CR:" + TSimConfig().Copyright, 0), 0u) << log;
    EXPECT_EQ(log.find("RESULT"), std::string::npos);
    EXPECT_EQ(probe::Text(H(Form->edTest_Result)), "");
    EXPECT_TRUE(IsWindowEnabled(H(Form->btRunTest)));
    ExpectRecovered();
}

TEST_F(WineFaultTest, DeviceGoneDuringTheUploadThenStop) {
    const std::string base = "boot.pagesize=64;line.rate=11520;line.chunk=8";
    // The update reply, the prompt, the connect and header answers, then
    // about five pages' requests and acknowledgements.
    const uint64_t cut = IdentityReplySize(base) + FrameSize("Boot loader started") + 1 + 2 +
                         (4 + 8 + TSimConfig().BootId.size()) + 3 + 7 * 5;
    Start(base + ";fault.disconnect.bytes=" + std::to_string(cut));
    SearchAndSnapshot();
    PrepareUpload(30);
    Click(Form->btUpdateRun);
    ASSERT_TRUE(PumpUntil([&] { return Form->Updater.IsUploading(); }));
    // Wait until the wire has been quiet for a second.
    size_t taken = StandIn.Taken(Serial);
    auto quietSince = std::chrono::steady_clock::now();
    ASSERT_TRUE(PumpUntil([&] {
        size_t now = StandIn.Taken(Serial);
        if (now != taken) {
            taken = now;
            quietSince = std::chrono::steady_clock::now();
        }
        return std::chrono::steady_clock::now() - quietSince > std::chrono::seconds(1);
    }));
    EXPECT_TRUE(Form->Updater.IsUploading()) << probe::Text(H(Form->edUpdateSatus));
    EXPECT_TRUE(IsWindowEnabled(H(Form->btUpdateRun)));
    EXPECT_EQ(probe::Text(H(Form->btUpdateRun)), "Stop");
    Click(Form->btUpdateRun);
    ASSERT_TRUE(PumpUntil([&] { return Idle(); }));
    EXPECT_EQ(Form->memUpdate.Lines().back(), "Firmware Update canceled...");
    EXPECT_TRUE(UserIo.Boxes().empty());
    ExpectRecovered();
}

TEST_F(WineFaultTest, EndlessNoiseWithoutAReplyEndsTheSearch) {
    Start("fault.babble=1;fault.identify.from=99;line.rate=115200");
    Snapshot();
    Search();
    ExpectNotFoundBox();
    ExpectRecovered();
}

TEST_F(WineFaultTest, RandomFloodBeforeTheReply) {
    Start("fault.flood=100000;line.rate=0");
    Snapshot();
    Search();
    EXPECT_TRUE(UserIo.Boxes().empty());
    EXPECT_EQ(probe::Text(H(Form->edSerial)), "QV2A0017");
}

TEST_F(WineFaultTest, IdentityReplyOf40000BytesWithoutAPause) {
    std::string config = "line.rate=0";
    for (int i = 0; i < 500; ++i)
        config += ";identity.extra=XX:" + std::string(76, static_cast<char>('a' + i % 26));
    Start(config);
    Search();
    EXPECT_TRUE(UserIo.Boxes().empty());
    EXPECT_EQ(probe::Text(H(Form->edSerial)), "QV2A0017");
    EXPECT_EQ(probe::ListCount(H(Form->lvModes)), 3);
    Snapshot();
    // The same again: nothing of the first reply is left over.
    Search();
    EXPECT_TRUE(UserIo.Boxes().empty());
    ExpectRecovered();
}

TEST_F(WineFaultTest, EchoingAdapterIsIdentifiedAndTested) {
    Start("fault.echo=1;line.rate=11520;test.errors=1");
    SearchAndSnapshot();
    probe::SelectTab(H(Form->pcOptions), Form->tsTest.PageIndex());
    Click(Form->btRunTest);
    ASSERT_TRUE(PumpUntil([&] { return Idle(); }));
    EXPECT_TRUE(UserIo.Boxes().empty());
    EXPECT_EQ(probe::Text(H(Form->edTest_Result)), "1/0");
    ExpectRecovered();
}

TEST_F(WineFaultTest, BootLoaderThatRefusesAPageForEver) {
    Start("boot.pagesize=64;line.rate=11520;fault.nak.page=1;fault.nak.count=-1");
    SearchAndSnapshot();
    PrepareUpload(4);
    Click(Form->btUpdateRun);
    ASSERT_TRUE(PumpUntil([&] { return Idle(); }));
    EXPECT_EQ(Form->memUpdate.Lines().back(), "Writing Page #1 : Error");
    EXPECT_EQ(probe::Text(H(Form->edUpdateSatus)), "Writing Page #1 : Error");
    const size_t taken = StandIn.Taken(Serial);
    ExpectRecovered();
    EXPECT_EQ(StandIn.Taken(Serial), taken) << "bytes reached the boot loader after the error";
}

} // namespace
} // namespace qvx
