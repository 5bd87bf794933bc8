#include "serdev/portlists.h"

#include "platform/memory/fake_libraries.h"
#include "platform/memory/memory_registry.h"
#include "serdev/d2xx.h"
#include "serdev/memory/stepped_list_clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>

namespace qvx {
namespace {

const std::string Services = "SYSTEM\\CurrentControlSet\\Services\\";
const std::string Enum = "SYSTEM\\CurrentControlSet\\Enum\\";
const std::string SerialComm = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

// A box that stays open until the test closes it, as a person would.
// Going away, it closes whatever is still open and waits until every box
// call has returned, so that even a failing test ends cleanly.
class TBlockingUserIo : public IUserIo {
public:
    ~TBlockingUserIo() override {
        std::unique_lock<std::mutex> lock(Lock);
        Closed = SIZE_MAX;
        Changed.notify_all();
        Changed.wait(lock, [&] { return Inside == 0; });
    }
    int ShowBox(const std::string& text, const std::string& caption, unsigned flags,
                TBoxOwner owner) override {
        std::unique_lock<std::mutex> lock(Lock);
        Shown.push_back({text, caption, flags, owner});
        const size_t n = Shown.size();
        ++Inside;
        Changed.notify_all();
        Changed.wait(lock, [&] { return Closed >= n; });
        --Inside;
        Changed.notify_all();
        return idbutton::Ok;
    }
    bool OpenFileDialog(TOpenFileRequest&) override { return false; }
    bool SetClipboardText(const std::string&) override { return false; }
    bool ShellOpen(const std::string&, const std::string&, const std::string&) override {
        return false;
    }

    // True once n boxes have opened (false after a generous guard time).
    bool WaitShown(size_t n) {
        std::unique_lock<std::mutex> lock(Lock);
        return Changed.wait_for(lock, std::chrono::seconds(30), [&] { return Shown.size() >= n; });
    }
    void CloseBox() {
        std::lock_guard<std::mutex> guard(Lock);
        ++Closed;
        Changed.notify_all();
    }
    struct TBox {
        std::string Text, Caption;
        unsigned Flags;
        TBoxOwner Owner;
    };
    int OpenBoxes() {
        std::lock_guard<std::mutex> guard(Lock);
        return Inside;
    }
    std::vector<TBox> Boxes() {
        std::lock_guard<std::mutex> guard(Lock);
        return Shown;
    }

private:
    std::mutex Lock;
    std::condition_variable Changed;
    std::vector<TBox> Shown;
    size_t Closed = 0;
    int Inside = 0;
};

// The D2XX listing functions over a device table the test fills.
struct TFakeD2xx {
    std::mutex Lock;
    std::vector<std::pair<std::string, std::string>> Devices; // serial, description
    FtStatus CreateStatus = 0;
    FtStatus ReadStatus = 0;
    int Scans = 0;
    int Reads = 0;
    // Devices the count claims beyond the table.
    uint32_t ExtraCount = 0;
    // While Hold is set, a scan waits inside the listing call.
    std::condition_variable Changed;
    bool Hold = false;
    bool InScan = false;
};
TFakeD2xx& D2xx() {
    static TFakeD2xx fake;
    return fake;
}

FtStatus QVX_STDCALL FakeCreateDeviceInfoList(uint32_t* count) {
    std::unique_lock<std::mutex> lock(D2xx().Lock);
    D2xx().InScan = true;
    D2xx().Changed.notify_all();
    D2xx().Changed.wait(lock, [] { return !D2xx().Hold; });
    D2xx().InScan = false;
    ++D2xx().Scans;
    *count = static_cast<uint32_t>(D2xx().Devices.size()) + D2xx().ExtraCount;
    return D2xx().CreateStatus;
}

FtStatus QVX_STDCALL FakeGetDeviceInfoList(void* records, uint32_t* count) {
    std::lock_guard<std::mutex> guard(D2xx().Lock);
    ++D2xx().Reads;
    auto* out = static_cast<uint8_t*>(records);
    const size_t n = std::min<size_t>(*count, D2xx().Devices.size());
    for (size_t i = 0; i < n; ++i) {
        uint8_t* record = out + i * d2xxrecord::Size;
        std::memset(record, 0x5A, d2xxrecord::Size); // no terminators beyond the texts
        const auto& device = D2xx().Devices[i];
        std::memset(record + d2xxrecord::SerialOffset, 0, d2xxrecord::SerialLength);
        std::memcpy(record + d2xxrecord::SerialOffset, device.first.data(),
                    std::min(device.first.size(), d2xxrecord::SerialLength));
        std::memset(record + d2xxrecord::DescriptionOffset, 0, d2xxrecord::DescriptionLength);
        std::memcpy(record + d2xxrecord::DescriptionOffset, device.second.data(),
                    std::min(device.second.size(), d2xxrecord::DescriptionLength));
    }
    *count = static_cast<uint32_t>(n);
    return D2xx().ReadStatus;
}

TFakeLibraries::Symbols D2xxSymbols() {
    return {{"FT_CreateDeviceInfoList", reinterpret_cast<void*>(&FakeCreateDeviceInfoList)},
            {"FT_GetDeviceInfoList", reinterpret_cast<void*>(&FakeGetDeviceInfoList)}};
}

class PortLists : public ::testing::Test {
protected:
    PortLists() {
        std::lock_guard<std::mutex> guard(D2xx().Lock);
        D2xx().Devices.clear();
        D2xx().CreateStatus = 0;
        D2xx().ReadStatus = 0;
        D2xx().Scans = 0;
        D2xx().Reads = 0;
        D2xx().ExtraCount = 0;
        D2xx().Hold = false;
        D2xx().InScan = false;
    }

    // Device index of a service: its instance path in the service's Enum key,
    // its friendly name and its port name below the system's Enum tree.
    void AddDevice(const std::string& service, int index, const std::string& id,
                   const std::string& port, const std::string& friendly) {
        Registry.SetString(Services + service + "\\Enum", std::to_string(index), id);
        Registry.SetString(Enum + id, "FriendlyName", friendly);
        Registry.SetString(Enum + id + "\\Device Parameters", "PortName", port);
    }
    void SetCount(const std::string& service, uint32_t count) {
        Registry.SetDword(Services + service + "\\Enum", "Count", count);
    }
    static int Scans() {
        std::lock_guard<std::mutex> guard(D2xx().Lock);
        return D2xx().Scans;
    }
    static TPortLists Copy(TListThread& thread) {
        TPortLists lists;
        thread.CopyLists(lists);
        return lists;
    }

    TMemoryRegistry Registry;
    TFakeLibraries Libraries;
    TBlockingUserIo UserIo;
    TSteppedListClock ComClock;
    TSteppedListClock UsbClock;
    std::atomic<bool> Listed{true};
};

// Ends sleep n of a thread; returns the length of the sleep that follows.
uint32_t Next(TSteppedListClock& clock, size_t n) {
    clock.Release(n);
    return clock.WaitSleep(n + 1);
}

TPortLists Lists(std::vector<std::string> names, std::vector<std::string> descriptions,
                 std::vector<std::string> ids) {
    TPortLists lists;
    for (size_t i = 0; i < names.size(); ++i)
        lists.Add(names[i], descriptions.at(i), ids.at(i));
    return lists;
}

// --- COM list: building and change detection -------------------------------

TEST_F(PortLists, FirstCycleBuildsFromEveryServiceThenPausesThenAsksForUsbScan) {
    SetCount("serenum", 2);
    AddDevice("serenum", 0, "FTDIBUS\\A\\0000", "COM3", "USB Serial Port (COM3)");
    AddDevice("serenum", 1, "FTDIBUS\\B\\0000", "COM4", "USB Serial Port (COM4)");
    TListCOM com(Registry, UserIo, 5, ComClock, &Listed);

    // The rebuild's pause comes before the USB thread is asked to scan.
    ASSERT_EQ(ComClock.WaitSleep(1), TListCOM::RebuildPause);
    EXPECT_TRUE(Listed);
    ASSERT_EQ(Next(ComClock, 1), TListThread::PollInterval);
    EXPECT_FALSE(Listed);
    EXPECT_EQ(Copy(com), Lists({"COM3", "COM4"}, {"USB Serial Port", "USB Serial Port"},
                               {"FTDIBUS\\A\\0000", "FTDIBUS\\B\\0000"}));
}

TEST_F(PortLists, RebuildReadsAllServicesInOrderAndThenOnlyOnChange) {
    SetCount("serenum", 1);
    AddDevice("serenum", 0, "ACPI\\PNP0501\\1", "COM1", "Communications Port (COM1)");
    SetCount("WudfRd", 1);
    AddDevice("WudfRd", 0, "BTH\\MODEM\\7", "COM7", "Standard Serial over Bluetooth (COM7)");
    TListCOM com(Registry, UserIo, 6, ComClock, &Listed);

    ASSERT_EQ(ComClock.WaitSleep(1), TListCOM::RebuildPause);
    ASSERT_EQ(Next(ComClock, 1), TListThread::PollInterval);
    const TPortLists both =
        Lists({"COM1", "COM7"}, {"Communications Port", "Standard Serial over Bluetooth"},
              {"ACPI\\PNP0501\\1", "BTH\\MODEM\\7"});
    EXPECT_EQ(Copy(com), both);

    // The first check stopped at "serenum"; the second is the first to reach
    // "WudfRd"'s key, so it rebuilds once more. After that nothing changes.
    Listed = true;
    ASSERT_EQ(Next(ComClock, 2), TListCOM::RebuildPause);
    ASSERT_EQ(Next(ComClock, 3), TListThread::PollInterval);
    EXPECT_FALSE(Listed);
    Listed = true;
    for (size_t n = 4; n < 7; ++n) {
        ComClock.Release(n);
        ASSERT_EQ(ComClock.WaitSleep(n + 1), TListThread::PollInterval);
    }
    EXPECT_TRUE(Listed);
    EXPECT_EQ(Copy(com), both);

    // A new device raises the count: rebuilt, USB asked again.
    SetCount("serenum", 2);
    AddDevice("serenum", 1, "ACPI\\PNP0501\\2", "COM2", "Communications Port (COM2)");
    ASSERT_EQ(Next(ComClock, 7), TListCOM::RebuildPause);
    ASSERT_EQ(Next(ComClock, 8), TListThread::PollInterval);
    EXPECT_FALSE(Listed);
    EXPECT_EQ(Copy(com).Names(), (std::vector<std::string>{"COM1", "COM2", "COM7"}));
}

TEST_F(PortLists, WithoutServiceDevicesTheDeviceMapIsListed) {
    SetCount("serenum", 0);
    Registry.SetString(SerialComm, "\\Device\\Serial0", "COM1");
    Registry.SetString(SerialComm, "\\Device\\VCP0", "COM9");
    TListCOM com(Registry, UserIo, 5, ComClock, &Listed);

    // No rebuild pause on this path.
    ASSERT_EQ(ComClock.WaitSleep(1), TListThread::PollInterval);
    EXPECT_FALSE(Listed);
    EXPECT_EQ(Copy(com),
              Lists({"COM1", "COM9"}, {"\\Device\\Serial0", "\\Device\\VCP0"}, {"", ""}));

    Listed = true;
    ASSERT_EQ(Next(ComClock, 1), TListThread::PollInterval);
    EXPECT_TRUE(Listed);

    Registry.SetString(SerialComm, "\\Device\\Serial1", "COM2");
    ASSERT_EQ(Next(ComClock, 2), TListThread::PollInterval);
    EXPECT_FALSE(Listed);
    EXPECT_EQ(Copy(com).Names(), (std::vector<std::string>{"COM1", "COM9", "COM2"}));
}

TEST_F(PortLists, DevicesWithoutPortAreSkippedAndNamesAreCutByLength) {
    SetCount("usbser", 7);
    AddDevice("usbser", 0, "USB\\NOPORT", "", "Modem");
    Registry.RemoveValue(Enum + "USB\\NOPORT\\Device Parameters", "PortName");
    AddDevice("usbser", 1, "USB\\EMPTYPORT", "", "Modem (COM5)");
    AddDevice("usbser", 2, "USB\\SHORT", "COM12", "Modem");              // 5 - 5 - 3 < 0
    AddDevice("usbser", 3, "USB\\EXACT", "COM6", "A (COM6)");            // 8 - 4 - 3 = 1
    AddDevice("usbser", 4, "USB\\NOTAIL", "COM8", "Serial Device XYZW"); // loses 7 all the same
    Registry.SetString(Services + "usbser\\Enum", "5", "USB\\NOPARAMS");
    Registry.SetString(Enum + "USB\\NOPARAMS", "FriendlyName", "x (COM9)");
    Registry.SetString(Services + "usbser\\Enum", "6", "USB\\GONE");
    TListCOM com(Registry, UserIo, 5, ComClock);

    ASSERT_EQ(ComClock.WaitSleep(1), TListCOM::RebuildPause);
    ASSERT_EQ(Next(ComClock, 1), TListThread::PollInterval);
    EXPECT_EQ(Copy(com), Lists({"COM12", "COM6", "COM8"}, {"", "A", "Serial Devi"},
                               {"USB\\SHORT", "USB\\EXACT", "USB\\NOTAIL"}));
    EXPECT_EQ(com.FaultReports(), 0u);
}

TEST_F(PortLists, LegacySystemsReadTheDeviceMapOnlyWhileTheListIsEmpty) {
    SetCount("serenum", 1); // not looked at on these systems
    AddDevice("serenum", 0, "ACPI\\PNP0501\\1", "COM1", "Communications Port (COM1)");
    Registry.CreateKey(SerialComm);
    TListCOM com(Registry, UserIo, 4, ComClock, &Listed);

    ASSERT_EQ(ComClock.WaitSleep(1), TListThread::PollInterval);
    EXPECT_EQ(Copy(com).Count(), 0u);

    Registry.SetString(SerialComm, "\\Device\\Serial1", "COM2");
    Listed = true;
    ASSERT_EQ(Next(ComClock, 1), TListThread::PollInterval);
    EXPECT_FALSE(Listed);
    EXPECT_EQ(Copy(com), Lists({"COM2"}, {"\\Device\\Serial1"}, {""}));

    Registry.SetString(SerialComm, "\\Device\\Serial2", "COM3");
    Listed = true;
    ASSERT_EQ(Next(ComClock, 2), TListThread::PollInterval);
    EXPECT_TRUE(Listed);
    EXPECT_EQ(Copy(com), Lists({"COM2"}, {"\\Device\\Serial1"}, {""}));
}

// --- COM list: read errors --------------------------------------------------

TEST_F(PortLists, BrokenKeyShowsTheBoxEveryCycleOnceTheLastWasClosed) {
    SetCount("serenum", 0);
    Registry.SetString(SerialComm, "\\Device\\Serial0", "COM1");
    TListCOM com(Registry, UserIo, 5, ComClock);
    ASSERT_EQ(ComClock.WaitSleep(1), TListThread::PollInterval);
    const TPortLists before = Copy(com);
    ASSERT_EQ(before.Names(), std::vector<std::string>{"COM1"});

    Registry.RemoveValue(Services + "serenum\\Enum", "Count");
    ComClock.Release(1);
    ASSERT_TRUE(UserIo.WaitShown(1));
    const auto box = UserIo.Boxes().at(0);
    EXPECT_EQ(box.Text, "Error reading COM-List");
    EXPECT_EQ(box.Caption, "Error...");
    EXPECT_EQ(box.Flags, mb::IconInformation);
    EXPECT_EQ(box.Owner, TBoxOwner::None);

    // The box is open: the window can still copy the lists and open a port
    // (which pauses them), while the thread waits for the box before it sleeps.
    EXPECT_EQ(Copy(com), before);
    com.RequestPause();
    com.WaitIdle();
    com.Resume();
    EXPECT_EQ(ComClock.SleepCount(), 1u);
    UserIo.CloseBox();

    // Closed: the next cycle meets the same fault and shows the box again.
    ASSERT_EQ(ComClock.WaitSleep(2), TListThread::PollInterval);
    ComClock.Release(2);
    ASSERT_TRUE(UserIo.WaitShown(2));
    EXPECT_EQ(com.FaultReports(), 2u);
    EXPECT_EQ(Copy(com), before);
    UserIo.CloseBox();

    // Mended: a good cycle shows nothing.
    SetCount("serenum", 1);
    AddDevice("serenum", 0, "ACPI\\PNP0501\\3", "COM3", "Communications Port (COM3)");
    ASSERT_EQ(Next(ComClock, 3), TListCOM::RebuildPause);
    ASSERT_EQ(Next(ComClock, 4), TListThread::PollInterval);
    EXPECT_EQ(com.FaultReports(), 2u);
    EXPECT_EQ(Copy(com).Names(), std::vector<std::string>{"COM3"});
}

TEST_F(PortLists, HalfDoneRebuildKeepsListsParallelAndIsRetried) {
    SetCount("serenum", 2);
    AddDevice("serenum", 0, "ACPI\\PNP0501\\1", "COM1", "Communications Port (COM1)");
    AddDevice("serenum", 1, "ACPI\\PNP0501\\2", "COM2", "Communications Port (COM2)");
    Registry.SetDword(Enum + "ACPI\\PNP0501\\2", "FriendlyName", 7); // wrongly typed
    TListCOM com(Registry, UserIo, 5, ComClock, &Listed);

    // Failed before the rebuild's pause: no USB scan asked for.
    ASSERT_TRUE(UserIo.WaitShown(1));
    EXPECT_TRUE(Listed);
    EXPECT_EQ(Copy(com), Lists({"COM1"}, {"Communications Port"}, {"ACPI\\PNP0501\\1"}));
    UserIo.CloseBox();
    ASSERT_EQ(ComClock.WaitSleep(1), TListThread::PollInterval);

    // Nothing the change check looks at changes, yet the rebuild is retried.
    Registry.SetString(Enum + "ACPI\\PNP0501\\2", "FriendlyName", "Communications Port (COM2)");
    ASSERT_EQ(Next(ComClock, 1), TListCOM::RebuildPause);
    ASSERT_EQ(Next(ComClock, 2), TListThread::PollInterval);
    EXPECT_FALSE(Listed);
    EXPECT_EQ(Copy(com).Names(), (std::vector<std::string>{"COM1", "COM2"}));
    EXPECT_EQ(com.FaultReports(), 1u);
}

TEST_F(PortLists, DestroyingWhileTheBoxIsOpenDoesNotWaitForTheUser) {
    Registry.CreateKey(Services + "serenum\\Enum");
    auto com = std::make_unique<TListCOM>(Registry, UserIo, 5, ComClock);
    ASSERT_TRUE(UserIo.WaitShown(1));
    com.reset();
    EXPECT_EQ(UserIo.OpenBoxes(), 1); // returned with the box open; closed as the test ends
}

// --- Pause and resume ------------------------------------------------------

TEST_F(PortLists, PauseDuringTheRebuildPauseWaitsForTheRestOfTheCycle) {
    SetCount("serenum", 1);
    AddDevice("serenum", 0, "ACPI\\PNP0501\\1", "COM1", "Communications Port (COM1)");
    Libraries.Add("mvd2xx.dll", D2xxSymbols());
    TPortListThreads lists(Registry, Libraries, UserIo, 5, ComClock, UsbClock);
    ASSERT_EQ(UsbClock.WaitSleep(1), TListThread::PollInterval);
    ASSERT_EQ(ComClock.WaitSleep(1), TListCOM::RebuildPause);

    bool listedWhenPaused = true;
    std::thread pauser([&] {
        lists.PauseLists();
        listedWhenPaused = lists.Usb().ListedFlag();
    });
    ComClock.Release(1);
    pauser.join();
    EXPECT_FALSE(listedWhenPaused); // the cycle ran to its end first

    // Paused after their sleeps; no cycle runs.
    UsbClock.Release(1);
    ComClock.Release(2);
    EXPECT_EQ(UsbClock.WaitSleep(2), IListClock::Forever);
    EXPECT_EQ(ComClock.WaitSleep(3), IListClock::Forever);
    EXPECT_EQ(Scans(), 1);

    // Resumed: a full sleep, then the USB thread does the scan it was asked for.
    lists.ResumeLists();
    ASSERT_EQ(UsbClock.WaitSleep(3), TListThread::PollInterval);
    ASSERT_EQ(ComClock.WaitSleep(4), TListThread::PollInterval);
    EXPECT_EQ(Scans(), 1);
    ASSERT_EQ(Next(UsbClock, 3), TListThread::PollInterval);
    EXPECT_EQ(Scans(), 2);
}

TEST_F(PortLists, ResumeBeforeTheThreadPausedIsNotLost) {
    SetCount("serenum", 0);
    TListCOM com(Registry, UserIo, 5, ComClock);
    ASSERT_EQ(ComClock.WaitSleep(1), TListThread::PollInterval);
    com.RequestPause();
    com.WaitIdle();
    com.Resume();
    ComClock.Release(1);
    // Went on with a cycle and its sleep, not into a pause.
    EXPECT_EQ(ComClock.WaitSleep(2), TListThread::PollInterval);
}

TEST_F(PortLists, ThreadsOnTheSystemClockListAndEnd) {
    Registry.SetString(SerialComm, "\\Device\\Serial0", "COM1");
    Libraries.Add("mvd2xx.dll", D2xxSymbols());
    D2xx().Devices = {{"A1", "Quorvelix USB"}};
    TPortListThreads lists(Registry, Libraries, UserIo, 5);
    lists.PauseLists(); // returns after both first cycles
    TPortLists merged;
    lists.GetPortLists(merged);
    EXPECT_EQ(merged.Names(), (std::vector<std::string>{"COM1", "USB:A1"}));
}

// --- USB list ---------------------------------------------------------------

TEST_F(PortLists, UsbDevicesFollowTheComEntriesInTheLibrarysOrder) {
    SetCount("serenum", 1);
    AddDevice("serenum", 0, "ACPI\\PNP0501\\1", "COM1", "Communications Port (COM1)");
    Libraries.Add("mvd2xx.dll", D2xxSymbols());
    D2xx().Devices = {{"A1", "Adapter one"}, {"B2", "Adapter two"}, {"C3", "Adapter three"}};
    TPortListThreads lists(Registry, Libraries, UserIo, 5, ComClock, UsbClock);
    ASSERT_EQ(UsbClock.WaitSleep(1), TListThread::PollInterval);
    ASSERT_EQ(Next(ComClock, 1), TListThread::PollInterval);

    TPortLists merged;
    merged.Entries = {{"kept", "kept", "kept"}};
    lists.GetPortLists(merged);
    EXPECT_EQ(merged,
              Lists({"kept", "COM1", "USB:A1", "USB:B2", "USB:C3"},
                    {"kept", "Communications Port", "Adapter one", "Adapter two", "Adapter three"},
                    {"kept", "ACPI\\PNP0501\\1", "", "", ""}));
    EXPECT_EQ(Libraries.Attempts(), std::vector<std::string>{"mvd2xx.dll"});

    // The COM rebuild asked for a scan; then only a rescan request brings one.
    EXPECT_EQ(Scans(), 1);
    ASSERT_EQ(Next(UsbClock, 1), TListThread::PollInterval);
    EXPECT_EQ(Scans(), 2);
    ASSERT_EQ(Next(UsbClock, 2), TListThread::PollInterval);
    EXPECT_EQ(Scans(), 2);
    lists.RequestUsbRescan();
    ASSERT_EQ(Next(UsbClock, 3), TListThread::PollInterval);
    EXPECT_EQ(Scans(), 3);
}

TEST_F(PortLists, RescanAskedForDuringAScanIsNotLost) {
    Libraries.Add("mvd2xx.dll", D2xxSymbols());
    {
        std::lock_guard<std::mutex> guard(D2xx().Lock);
        D2xx().Hold = true;
    }
    TListUSB usb(Libraries, UsbClock);
    {
        std::unique_lock<std::mutex> lock(D2xx().Lock);
        ASSERT_TRUE(
            D2xx().Changed.wait_for(lock, std::chrono::seconds(30), [] { return D2xx().InScan; }));
    }
    usb.RequestRescan(); // e.g. the COM list was just rebuilt
    {
        std::lock_guard<std::mutex> guard(D2xx().Lock);
        D2xx().Hold = false;
        D2xx().Changed.notify_all();
    }
    ASSERT_EQ(UsbClock.WaitSleep(1), TListThread::PollInterval);
    ASSERT_EQ(Next(UsbClock, 1), TListThread::PollInterval);
    EXPECT_EQ(Scans(), 2);
}

TEST_F(PortLists, WithoutTheLibraryUsbListsStayEmptyAndNothingIsShown) {
    SetCount("serenum", 0);
    Registry.SetString(SerialComm, "\\Device\\Serial0", "COM1");
    TPortListThreads lists(Registry, Libraries, UserIo, 5, ComClock, UsbClock);
    ASSERT_EQ(UsbClock.WaitSleep(1), TListThread::PollInterval);
    ASSERT_EQ(ComClock.WaitSleep(1), TListThread::PollInterval);
    TPortLists merged;
    lists.GetPortLists(merged);
    EXPECT_EQ(merged.Names(), std::vector<std::string>{"COM1"});
    EXPECT_EQ(Libraries.Attempts(), (std::vector<std::string>{"mvd2xx.dll", "ftd2xx.dll"}));
    EXPECT_TRUE(UserIo.Boxes().empty());
    EXPECT_EQ(lists.Com().FaultReports(), 0u);
}

TEST_F(PortLists, SecondLibraryNameIsUsedWhenTheFirstIsMissing) {
    Libraries.Add("ftd2xx.dll", D2xxSymbols());
    D2xx().Devices = {{"0123456789ABCDEF", std::string(64, 'd')}}; // both fields full
    TListUSB usb(Libraries, UsbClock);
    ASSERT_EQ(UsbClock.WaitSleep(1), TListThread::PollInterval);
    EXPECT_EQ(Copy(usb), Lists({"USB:0123456789ABCDEF"}, {std::string(64, 'd')}, {""}));
    EXPECT_EQ(Libraries.Attempts(), (std::vector<std::string>{"mvd2xx.dll", "ftd2xx.dll"}));
    EXPECT_EQ(Libraries.LoadedCount("ftd2xx.dll"), 1);
}

TEST_F(PortLists, FailedListingEmptiesTheUsbListAndAnIncompleteLibraryIsReleased) {
    Libraries.Add("mvd2xx.dll", D2xxSymbols());
    D2xx().Devices = {{"A1", "Adapter one"}};
    TListUSB usb(Libraries, UsbClock);
    ASSERT_EQ(UsbClock.WaitSleep(1), TListThread::PollInterval);
    ASSERT_EQ(Copy(usb).Count(), 1u);

    D2xx().ReadStatus = 4;
    usb.RequestRescan();
    ASSERT_EQ(Next(UsbClock, 1), TListThread::PollInterval);
    EXPECT_EQ(Copy(usb).Count(), 0u);

    D2xx().ReadStatus = 0;
    usb.RequestRescan();
    ASSERT_EQ(Next(UsbClock, 2), TListThread::PollInterval);
    ASSERT_EQ(Copy(usb).Count(), 1u);

    // A library without the listing functions: unloaded, lists emptied.
    TFakeLibraries bare;
    bare.Add("mvd2xx.dll",
             {{"FT_CreateDeviceInfoList", reinterpret_cast<void*>(&FakeCreateDeviceInfoList)}});
    TSteppedListClock bareClock;
    TListUSB incomplete(bare, bareClock);
    ASSERT_EQ(bareClock.WaitSleep(1), TListThread::PollInterval);
    EXPECT_EQ(Copy(incomplete).Count(), 0u);
    EXPECT_EQ(bare.LoadedCount("mvd2xx.dll"), 0);
}

// A count from the library sizes the record buffer: one beyond the bound is a
// failed listing, read no further, instead of an allocation of any size.
TEST_F(PortLists, DeviceCountBeyondTheBoundIsAFailedListing) {
    Libraries.Add("mvd2xx.dll", D2xxSymbols());
    D2xx().Devices = {{"A1", "Adapter one"}};
    D2xx().ExtraCount = TListUSB::MaxDevices; // one more than the bound
    TListUSB usb(Libraries, UsbClock);
    ASSERT_EQ(UsbClock.WaitSleep(1), TListThread::PollInterval);
    EXPECT_EQ(Copy(usb).Count(), 0u);
    EXPECT_EQ(D2xx().Reads, 0);

    // At the bound the listing is read.
    D2xx().ExtraCount = TListUSB::MaxDevices - 1;
    usb.RequestRescan();
    ASSERT_EQ(Next(UsbClock, 1), TListThread::PollInterval);
    EXPECT_EQ(D2xx().Reads, 1);
    EXPECT_EQ(Copy(usb).Names(), (std::vector<std::string>{"USB:A1"}));
}

} // namespace
} // namespace qvx
