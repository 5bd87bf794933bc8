// The fault campaign (tests/faults) under Wine, over three links: the
// simulated link; the real window bound to real controls with the real
// device link (its reader and writer threads) and the real port-list threads
// over the stand-in D2XX library, whose simulated adapter misbehaves; and the
// same over the COM port of the pty fixture, whose line a simulated adapter in
// this process serves through the fixture's relay. Requests start from real
// button clicks and run on real window timers; deadlines only guard against a
// hang.
#include <winsock2.h>

#include "tests/faults/fault_rig.h"

#include "app/win32/win_form.h"
#include "platform/memory/static_version.h"
#include "platform/win32/win_libraries.h"
#include "platform/win32/win_registry.h"
#include "platform/win32/win_timers.h"
#include "serdev/portlists.h"
#include "serdev/win32/Serdev.h"
#include "sim/sim_config.h"
#include "tests/win32/win_probe.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
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

// The real window and TSerDev, over the port that the link's rig provides.
class TWindowRig : public TFaultRig {
public:
    TWindowRig() {
        HKEY key = nullptr;
        HadSettings =
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, SettingsKey, 0, KEY_READ, &key) == ERROR_SUCCESS;
        if (key)
            RegCloseKey(key);
        StandIn.Reset();
        Files.SetProgramPath("C:\\Quorvelix\\Configurator.exe");
    }
    ~TWindowRig() override {
        Window.reset();
        Main.reset();
        Link.reset();
        StandIn.Reset();
        if (!HadSettings)
            RegDeleteTreeA(HKEY_LOCAL_MACHINE, SettingsKey);
    }

    void Start(const std::string& config) override {
        ASSERT_NE(StandIn.Module, nullptr) << "mvd2xx.dll stand-in not found beside the tests";
        ASSERT_NO_FATAL_FAILURE(Plug(config));
        auto lists = std::make_unique<TWatchedLists>(
            std::make_unique<TPortListThreads>(Registry, Libraries, UserIo, 6));
        Lists = lists.get();
        Link = std::make_unique<TCountingLink<TSerDev>>(UserIo, Libraries, std::move(lists));
        Main = std::make_unique<TfrmMain>(Platform, Link.get());
        Window =
            std::make_unique<TWin32Form>(*Main, std::vector<const TImageList*>{&Main->ilIcons});
        Window->OnError = [this](const std::string& message) { Errors.push_back(message); };
        Window->Show(SW_SHOWNOACTIVATE);
        SelectPort();
    }
    TfrmMain& Form() override { return *Main; }
    void Run(int ms) override {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        do {
            probe::Pump();
            Sleep(2);
        } while (std::chrono::steady_clock::now() < until);
    }
    bool RunUntil(const std::function<bool()>& condition, int maxMs) override {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxMs);
        while (std::chrono::steady_clock::now() < deadline) {
            probe::Pump();
            if (condition())
                return true;
            Sleep(2);
        }
        return condition();
    }
    void Click(TControl& control) override { SendMessageA(H(control), BM_CLICK, 0, 0); }
    void SelectPage(int index) override { probe::SelectTab(H(Main->pcOptions), index); }
    void SelectRow(size_t row) override {
        probe::SelectRow(H(Main->lvModes), static_cast<int>(row));
        probe::Pump();
    }
    std::string Text(const TControl& control) override {
        HWND window = H(control);
        std::string text(static_cast<size_t>(GetWindowTextLengthA(window)) + 1, '\0');
        text.resize(
            static_cast<size_t>(GetWindowTextA(window, &text[0], static_cast<int>(text.size()))));
        return text;
    }
    bool Enabled(const TControl& control) override { return IsWindowEnabled(H(control)); }
    TSettingsSnapshot Settings() override {
        TSettingsSnapshot out;
        SnapshotKey(HKEY_LOCAL_MACHINE, SettingsKey, out);
        return out;
    }
    bool LinkOpen() override { return Link->IsOpen(); }
    bool& Ended() override { return Link->Ended; }
    std::vector<Bytes>& WritesAfterEnd() override { return Link->WritesAfterEnd; }
    bool RealWindow() override { return true; }
    std::string PortText() override { return Port; }
    void ExpectDeviceClosed() override {
        EXPECT_EQ(Lists->Pauses.load(), Lists->Resumes.load()) << "the port lists stay paused";
        EXPECT_TRUE(Errors.empty()) << Errors.front();
    }
    // The port-list threads run: a USB device plugged in now is listed.
    void ExpectPortListRuns() override {
        StandIn.Add("QV2F0099");
        SelectPage(Main->tsSettings.PageIndex()); // "Refresh" is on the Settings page
        Click(Main->btRefresh);
        EXPECT_TRUE(RunUntil([&] { return PortIndex("USB:QV2F0099 ") >= 0; }, 30000))
            << "the port lists no longer run";
    }

protected:
    // The adapter of this configuration on the rig's port.
    virtual void Plug(const std::string& config) = 0;
    // The start of the port's text in the combo.
    virtual std::string PortPrefix() = 0;

    HWND H(const TControl& control) const { return Window->HandleOf(control); }
    int PortIndex(const std::string& prefix) const {
        for (size_t i = 0; i < Main->cbCOM.Items().size(); ++i)
            if (Main->cbCOM.Items()[i].rfind(prefix, 0) == 0)
                return static_cast<int>(i);
        return -1;
    }
    void SelectPort() {
        ASSERT_TRUE(RunUntil([&] { return PortIndex(PortPrefix()) >= 0; }, 60000))
            << "the adapter's port is not listed";
        probe::SelectComboItem(H(Main->cbCOM), PortIndex(PortPrefix()));
        Port = Main->cbCOM.Text();
        fflush(stderr);
        ASSERT_EQ(Port.rfind(PortPrefix(), 0), 0u) << Port;
    }

    TStandIn StandIn;
    bool HadSettings = false;
    TWinRegistry Registry;
    TWinLibraries Libraries;
    TStaticVersion Version = TStaticVersion::Product();
    TWinTimers Timers;
    TPlatform Platform{Registry, Libraries, UserIo, Files, Version, Timers};
    TWatchedLists* Lists = nullptr;
    std::unique_ptr<TCountingLink<TSerDev>> Link;
    std::unique_ptr<TfrmMain> Main;
    std::unique_ptr<TWin32Form> Window;
    std::vector<std::string> Errors;
    std::string Port;
};

// The stand-in's simulated adapter, on its USB port.
class TD2xxRig : public TWindowRig {
public:
    uint64_t BytesWritten() override { return static_cast<uint64_t>(StandIn.Taken(Serial)); }
    TSimAdapter* Sim() override { return nullptr; }
    std::string PortText() override { return "USB:QV2A0017 (Quorvelix Adapter)"; }
    void ExpectDeviceClosed() override {
        TWindowRig::ExpectDeviceClosed();
        EXPECT_FALSE(StandIn.DeviceOpen(Serial)) << "the stand-in still has the device open";
    }
    void ExpectUnpluggedSearchBox() override {
        ASSERT_EQ(UserIo.Boxes().size(), 1u);
        EXPECT_EQ(UserIo.Boxes()[0].Text, "USB Device Error: 2 (Device is not found)");
        EXPECT_EQ(UserIo.Boxes()[0].Caption, "Open Port(USB:QV2A0017) Error...");
    }
    // A device pulled out stays gone: a new one with the same serial number.
    void Replug() override {
        StandIn.Reset();
        ASSERT_TRUE(StandIn.AddSim(Serial, ""));
        SelectPage(Main->tsSettings.PageIndex());
        Click(Main->btRefresh);
        SelectPort();
    }

protected:
    void Plug(const std::string& config) override {
        ASSERT_TRUE(StandIn.AddSim(Serial, config)) << config;
    }
    std::string PortPrefix() override { return "USB:QV2A0017 "; }
};

// Winsock, loaded here: the program itself never needs it.
struct TWinsock {
    HMODULE Module = LoadLibraryA("ws2_32.dll");
    template <typename Fn> Fn Get(const char* name) {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(Module, name)));
    }
    decltype(&::WSAStartup) Startup = Get<decltype(&::WSAStartup)>("WSAStartup");
    decltype(&::socket) Socket = Get<decltype(&::socket)>("socket");
    decltype(&::connect) Connect = Get<decltype(&::connect)>("connect");
    decltype(&::ioctlsocket) Ioctl = Get<decltype(&::ioctlsocket)>("ioctlsocket");
    decltype(&::send) Send = Get<decltype(&::send)>("send");
    decltype(&::recv) Recv = Get<decltype(&::recv)>("recv");
    decltype(&::closesocket) CloseSocket = Get<decltype(&::closesocket)>("closesocket");
};

// The COM port of the pty fixture, its line served by a simulated adapter in
// this process: the fixture relays the line to a socket while one is
// connected, and a thread here moves the bytes and the adapter's clock along
// in real time.
class TComRig : public TWindowRig {
public:
    ~TComRig() override {
        Stop = true;
        if (Relay.joinable())
            Relay.join();
        if (Connection != INVALID_SOCKET)
            Sock.CloseSocket(Connection);
    }
    uint64_t BytesWritten() override { return Received.load(); }
    TSimAdapter* Sim() override { return &Adapter; }
    // The port opens whether the adapter is there or not: nothing answers.
    void ExpectUnpluggedSearchBox() override {
        ASSERT_EQ(UserIo.Boxes().size(), 1u);
        EXPECT_EQ(UserIo.Boxes()[0].Text,
                  "Quorvelix Adapter is not found on Communication Port " + Port);
    }
    void Replug() override {
        Adapter.Reconnect();
        Adapter.SetConfig(TSimConfig());
    }
    bool NoticesLostDevice() override { return false; }
    bool CanHoldWrites() override { return false; }

protected:
    void Plug(const std::string& config) override {
        fflush(stderr);
        TSimConfig parsed;
        std::string error;
        ASSERT_TRUE(ParseSimConfig(config, parsed, error)) << error;
        Adapter.SetConfig(parsed);
        fflush(stderr);
        // The fixture's relay port, in the file beside its link.
        std::ifstream file("Z:" + std::string(std::getenv("QVX_TEST_COM_LINK")) + "-relay");
        int port = 0;
        ASSERT_TRUE(file >> port) << "the pty fixture names no relay port";
        fflush(stderr);
        WSADATA data;
        ASSERT_EQ(Sock.Startup(MAKEWORD(2, 2), &data), 0);
        Connection = Sock.Socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = static_cast<u_short>(((port & 0xFF) << 8) | ((port >> 8) & 0xFF));
        address.sin_addr.s_addr = 0x0100007F; // 127.0.0.1, in network order
        ASSERT_EQ(Sock.Connect(Connection, reinterpret_cast<sockaddr*>(&address), sizeof address),
                  0);
        u_long nonBlocking = 1;
        Sock.Ioctl(Connection, static_cast<long>(FIONBIO), &nonBlocking);
        fflush(stderr);
        Relay = std::thread([this] { Serve(); });
    }
    std::string PortPrefix() override {
        return std::string(std::getenv("QVX_TEST_COM_PORT")) + " ";
    }

private:
    void Serve() {
        auto last = std::chrono::steady_clock::now();
        Bytes out;
        char buffer[65536];
        while (!Stop) {
            int n = Sock.Recv(Connection, buffer, sizeof buffer, 0);
            if (n > 0) {
                Adapter.HostWrite(Bytes(buffer, static_cast<size_t>(n)));
                Received += static_cast<uint64_t>(n);
                fflush(stderr);
            }
            const auto now = std::chrono::steady_clock::now();
            Adapter.Advance(static_cast<uint64_t>(
                std::chrono::duration_cast<std::chrono::microseconds>(now - last).count()));
            last = now;
            out += Adapter.HostRead(SIZE_MAX);
            if (!out.empty()) {
                int sent = Sock.Send(Connection, out.data(), static_cast<int>(out.size()), 0);
                fflush(stderr);
                if (sent > 0)
                    out.erase(0, static_cast<size_t>(sent));
            }
            if (n <= 0)
                Sleep(1);
        }
    }

    TWinsock Sock;
    SOCKET Connection = INVALID_SOCKET;
    TSimAdapter Adapter;
    std::atomic<uint64_t> Received{0};
    std::atomic<bool> Stop{false};
    std::thread Relay;
};

template <typename TRig> TRigMaker Maker(const char* name) {
    return {name, [] { return std::unique_ptr<TFaultRig>(new TRig); }};
}

// The COM port only where the test script provides the pty fixture.
std::vector<TRigMaker> Rigs() {
    std::vector<TRigMaker> rigs = {{"Sim", MakeSimRig}, Maker<TD2xxRig>("D2xx")};
    const char* port = std::getenv("QVX_TEST_COM_PORT");
    if (port && *port && std::getenv("QVX_TEST_COM_LINK"))
        rigs.push_back(Maker<TComRig>("Com"));
    return rigs;
}

} // namespace

INSTANTIATE_TEST_SUITE_P(Link, FaultTest, ::testing::ValuesIn(Rigs()), RigName);

} // namespace qvx
