#pragma once
// The port-list threads: TListCOM keeps the serial ports the registry knows,
// TListUSB the devices the D2XX library sees. Each refreshes three parallel
// lists (name, description, device id) in a cycle of its own, so that the
// window can ask for a current list at any time without touching the
// registry or the USB library itself. TPortListThreads owns both for the
// device link, which pauses them while a port is open.
#include "platform/library.h"
#include "platform/registry.h"
#include "platform/userio.h"
#include "serdev/link.h"
#include "serdev/port_list_control.h"
#include "serdev/listclock.h"

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qvx {

// The cycle loop shared by both threads: one cycle, then idle: sleep
// PollInterval; a thread asked to pause stays paused until woken and then
// sleeps PollInterval again before it looks at the request once more.
class TListThread {
public:
    static constexpr uint32_t PollInterval = 1131;

    TListThread(const TListThread&) = delete;
    TListThread& operator=(const TListThread&) = delete;
    virtual ~TListThread();

    // Appends every entry, index by index, under the list lock; returns the
    // number of entries appended.
    size_t CopyLists(TPortLists& lists);

    // Pausing is two steps so that an owner of several threads can ask all of
    // them before it waits for any.
    void RequestPause();
    // Returns once the thread is between cycles (or has ended).
    void WaitIdle();
    // Clears the pause request and wakes the thread; a request cleared before
    // the thread paused simply lets it go on.
    void Resume();
    // Asks the loop to end and wakes it out of any sleep or pause; returns at
    // once. The thread ends after the cycle it is in.
    void Terminate();
    // Terminate, then wait for the thread to end.
    void Stop();

protected:
    explicit TListThread(IListClock& clock);
    // Derived constructors start the thread last, derived destructors stop it
    // first, so that no cycle ever runs on a part-built or part-destroyed object.
    void Start();
    virtual void Cycle() = 0;
    // A sleep inside a cycle; ends early on the terminate request.
    void SleepInCycle(uint32_t ms);
    // Called by a cycle: when it has ended, the thread goes idle as after any
    // cycle but begins its sleep only after ReleaseHold (or on the terminate
    // request). ReleaseHold may come from any thread, also before the cycle
    // has ended.
    void HoldAfterCycle();
    void ReleaseHold();

    std::mutex ListLock;
    TPortLists Lists; // guarded by ListLock

private:
    void Execute();

    IListClock& Clock;
    std::mutex State; // guards the four flags below
    std::condition_variable Wake;
    bool PauseRequest = false;
    bool Idle = false;
    bool Terminated = false;
    bool Held = false;
    std::thread Thread;
};

// One cycle of the COM list on the calling thread: reads what changed in the
// registry and rebuilds the lists it is given when it must. It remembers what
// it saw between cycles, so it is given the same lists every cycle. TListCOM
// runs it under its list lock; the fuzz targets call it directly.
class TComListReader {
public:
    static constexpr int32_t MaxServices = 16;

    enum class TOutcome {
        Unchanged,       // the lists keep what they had
        Rebuilt,         // rebuilt from the device map
        ServicesRebuilt, // rebuilt from the watched services' devices
        Failed,          // a read failed; a rebuild it interrupted is done again next cycle
    };

    // majorVersion: the system's major version; 4 and lower take the legacy
    // path through the device map only.
    TComListReader(IRegistry& registry, uint32_t majorVersion);

    TOutcome Cycle(TPortLists& lists);

private:
    struct TService {
        int32_t Count = -1;     // as last seen; -1 = never read
        uint64_t LastWrite = 0; // of the service's Enum key, as last seen
        std::string Name;
    };

    TOutcome LegacyCycle(TPortLists& lists);
    TOutcome ServiceCycle(TPortLists& lists);
    int32_t ReadServiceEnum(TPortLists& lists, const std::string& path);

    IRegistry& Registry;
    int32_t ServiceCount = 0;
    std::array<TService, MaxServices> Services;
    uint64_t SerialCommLastWrite = 0;
    // A rebuild that failed half-way is done again in the next cycle even
    // though the change memory no longer shows a change.
    bool RebuildPending = false;
};

class TFaultBox;

class TListCOM : public TListThread {
public:
    static constexpr int32_t MaxServices = TComListReader::MaxServices;
    static constexpr uint32_t RebuildPause = 673;

    // majorVersion as for TComListReader; usbRescanFlag as for SetUsbRescanFlag.
    TListCOM(IRegistry& registry, IUserIo& userIo, uint32_t majorVersion,
             IListClock& clock = SystemListClock(), std::atomic<bool>* usbRescanFlag = nullptr);
    ~TListCOM() override;

    // The USB thread's Listed flag, cleared after every rebuild of these lists.
    void SetUsbRescanFlag(std::atomic<bool>* listed);
    // How many cycles failed and showed the error box.
    size_t FaultReports() const { return Reports; }

private:
    void Cycle() override;
    void ClearUsbRescanFlag();

    TComListReader Reader; // guarded by ListLock, as the lists it rebuilds
    std::atomic<std::atomic<bool>*> UsbRescanFlag{nullptr};
    std::atomic<size_t> Reports{0};
    std::unique_ptr<TFaultBox> Box;
};

// One scan of the D2XX devices on the calling thread. Keeps the library
// loaded from the first scan that loads it until a scan finds its listing
// functions missing, or until it goes.
class TUsbListReader {
public:
    // A listing that reports more devices than this has failed: its count
    // would size the record buffer (100 bytes a device) without any bound.
    static constexpr uint32_t MaxDevices = 1024;

    explicit TUsbListReader(ILibraryLoader& libraries);
    ~TUsbListReader();
    TUsbListReader(const TUsbListReader&) = delete;
    TUsbListReader& operator=(const TUsbListReader&) = delete;

    // Replaces the lists with the devices listed (none when the listing
    // fails); false, with the lists untouched, when the library does not load.
    bool Scan(TPortLists& lists);

private:
    ILibraryLoader& Libraries;
    LibraryHandle D2xxLibrary = nullptr;
    uint32_t DeviceCount = 0;
    std::vector<uint8_t> DeviceInfo;
};

class TListUSB : public TListThread {
public:
    static constexpr uint32_t MaxDevices = TUsbListReader::MaxDevices;

    explicit TListUSB(ILibraryLoader& libraries, IListClock& clock = SystemListClock());
    ~TListUSB() override;

    // Clearing it makes the next cycle scan the D2XX devices.
    std::atomic<bool>& ListedFlag() { return Listed; }
    void RequestRescan() { Listed = false; }

private:
    void Cycle() override;

    TUsbListReader Reader; // used by the thread only
    std::atomic<bool> Listed{false};
};

// Both threads as the device link uses them. The COM thread is created
// first, then the USB thread; both start at once. The destructor asks both to
// terminate, wakes them and waits for them; it never waits for the user.
class TPortListThreads : public IPortListControl {
public:
    TPortListThreads(IRegistry& registry, ILibraryLoader& libraries, IUserIo& userIo,
                     uint32_t majorVersion, IListClock& comClock = SystemListClock(),
                     IListClock& usbClock = SystemListClock());
    ~TPortListThreads() override;

    // Returns once neither thread is inside a cycle; neither starts a new one
    // until ResumeLists.
    void PauseLists() override;
    void ResumeLists() override;
    void RequestUsbRescan() override;
    // Appends the COM entries, then the USB entries.
    void GetPortLists(TPortLists& lists) override;

    TListCOM& Com() { return ComList; }
    TListUSB& Usb() { return UsbList; }

private:
    TListCOM ComList;
    TListUSB UsbList;
};

// The port lists read when asked, on the calling thread, without threads of
// their own: for a program that lists the ports once and then works on one.
// A failed COM read shows "Error reading COM-List" and lists no COM ports.
class TPortListsOnDemand : public IPortListControl {
public:
    TPortListsOnDemand(IRegistry& registry, ILibraryLoader& libraries, IUserIo& userIo,
                       uint32_t majorVersion)
        : Com(registry, majorVersion), Usb(libraries), UserIo(userIo) {}

    void PauseLists() override {}
    void ResumeLists() override {}
    void RequestUsbRescan() override {}
    void GetPortLists(TPortLists& lists) override;

private:
    TComListReader Com;
    TUsbListReader Usb;
    IUserIo& UserIo;
    TPortLists ComLists; // what the COM reader rebuilds from
};

} // namespace qvx
