#include "serdev/portlists.h"

#include "serdev/d2xx.h"

#include <algorithm>
#include <functional>
#include <new>
#include <stdexcept>

namespace qvx {

// ---------------------------------------------------------------------------
// The cycle loop

TListThread::TListThread(IListClock& clock) : Clock(clock) {}

TListThread::~TListThread() {
    Stop();
}

void TListThread::Start() {
    Thread = std::thread(&TListThread::Execute, this);
}

void TListThread::Stop() {
    Terminate();
    if (Thread.joinable())
        Thread.join();
}

void TListThread::Execute() {
    std::unique_lock<std::mutex> lock(State);
    const auto terminated = [this] { return Terminated; };
    const auto resumed = [this] { return Terminated || !PauseRequest; };
    while (!Terminated) {
        lock.unlock();
        Cycle();
        lock.lock();
        Idle = true;
        lock.unlock();
        Wake.notify_all();
        lock.lock();
        // Idle already, so that a pause asked for meanwhile is granted.
        Wake.wait(lock, [this] { return Terminated || !Held; });
        for (;;) {
            if (Clock.SleepFor(lock, Wake, PollInterval, terminated) || !PauseRequest)
                break;
            // Paused. The request is looked at under the same lock that
            // ResumeLists clears it under, so a resume that came first is
            // seen here and the thread simply goes on.
            Clock.SleepFor(lock, Wake, IListClock::Forever, resumed);
        }
        // Leaving idle under the lock that RequestPause sets its flag under:
        // a pause that was granted is never followed by another cycle.
        if (!Terminated)
            Idle = false;
    }
    Idle = true;
    Wake.notify_all();
}

void TListThread::HoldAfterCycle() {
    std::lock_guard<std::mutex> guard(State);
    Held = true;
}

void TListThread::ReleaseHold() {
    {
        std::lock_guard<std::mutex> guard(State);
        Held = false;
    }
    Wake.notify_all();
}

void TListThread::SleepInCycle(uint32_t ms) {
    std::unique_lock<std::mutex> lock(State);
    Clock.SleepFor(lock, Wake, ms, [this] { return Terminated; });
}

size_t TListThread::CopyLists(TPortLists& lists) {
    std::lock_guard<std::mutex> guard(ListLock);
    lists.Entries.insert(lists.Entries.end(), Lists.Entries.begin(), Lists.Entries.end());
    return Lists.Count();
}

void TListThread::RequestPause() {
    std::lock_guard<std::mutex> guard(State);
    PauseRequest = true;
}

void TListThread::WaitIdle() {
    std::unique_lock<std::mutex> lock(State);
    Wake.wait(lock, [this] { return Idle; });
}

// The flags change under the lock, and the wake-up follows its release: a
// thread woken while the lock is still held would only wait for it again.
void TListThread::Resume() {
    {
        std::lock_guard<std::mutex> guard(State);
        PauseRequest = false;
    }
    Wake.notify_all();
}

void TListThread::Terminate() {
    {
        std::lock_guard<std::mutex> guard(State);
        Terminated = true;
    }
    Wake.notify_all();
}

// ---------------------------------------------------------------------------
// The COM list's error box
//
// A failed COM cycle shows "Error reading COM-List" and its thread waits
// until the box is closed; while the key stays broken, the next cycle shows
// it again. The box is shown only after the cycle has released the list lock,
// so the window's list refresh never waits for the user, and the waiting
// thread is idle, so a port open (which pauses the lists) does not wait for
// the user either. The box runs on a thread of its own, which ends the list
// thread's hold when the box is closed: a list thread asked to end never
// waits for the user.

class TFaultBox {
public:
    TFaultBox(IUserIo& userIo, std::function<void()> closed)
        : UserIo(userIo), Shared(std::make_shared<TShared>()) {
        Shared->Closed = std::move(closed);
    }

    ~TFaultBox() {
        bool showing;
        {
            std::lock_guard<std::mutex> guard(Shared->Lock);
            Shared->Stop = true;
            showing = Shared->Showing;
            Shared->Wake.notify_all();
        }
        if (!Thread.joinable())
            return;
        // Never wait for the user: a box that is open is left to its thread,
        // which touches only the shared block (kept alive by its own
        // reference) once the box is closed.
        if (showing)
            Thread.detach();
        else
            Thread.join();
    }

    // Called from the COM thread only, which waits until the box is closed
    // before its next cycle.
    void Post() {
        std::lock_guard<std::mutex> guard(Shared->Lock);
        if (!Thread.joinable())
            Thread = std::thread(&TFaultBox::Run, Shared, &UserIo);
        Shared->Pending = true;
        Shared->Wake.notify_all();
    }

private:
    struct TShared {
        std::mutex Lock;
        std::condition_variable Wake;
        std::function<void()> Closed; // called under Lock, never after Stop
        bool Pending = false;
        bool Showing = false;
        bool Stop = false;
    };

    static void Run(std::shared_ptr<TShared> shared, IUserIo* userIo) {
        std::unique_lock<std::mutex> lock(shared->Lock);
        for (;;) {
            shared->Wake.wait(lock, [&] { return shared->Pending || shared->Stop; });
            if (shared->Stop)
                return;
            shared->Pending = false;
            shared->Showing = true;
            lock.unlock();
            userIo->ShowBox("Error reading COM-List", "Error...", mb::Ok | mb::IconInformation,
                            TBoxOwner::None);
            lock.lock();
            shared->Showing = false;
            if (shared->Stop)
                return;
            shared->Closed();
        }
    }

    IUserIo& UserIo;
    std::shared_ptr<TShared> Shared;
    std::thread Thread;
};

// ---------------------------------------------------------------------------
// Registry reads of the COM list

namespace {

const char* const ServicesRoot = "SYSTEM\\CurrentControlSet\\Services\\";
const char* const EnumRoot = "SYSTEM\\CurrentControlSet\\Enum\\";
const char* const SerialCommPath = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
const char* const LegacySerialCommPath = "Hardware\\DeviceMap\\SerialComm";

// A read that fails ends the cycle; what() names the key and the value.
class TListReadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A key opened read-only, with the reads a cycle makes.
class TReadKey {
public:
    TReadKey(IRegistry& registry, std::string path)
        : Path(std::move(path)), Key(registry.OpenKey(Path, RegAccess::Read)) {}

    explicit operator bool() const { return Key != nullptr; }

    // A missing or wrongly typed integer fails.
    int32_t Integer(const std::string& name) const {
        uint32_t value = 0;
        if (!Key->ReadDword(name, value))
            Fail(name);
        return static_cast<int32_t>(value);
    }
    // A missing text reads as empty; one of another type fails.
    std::string Text(const std::string& name) const {
        std::string value;
        if (Key->TypeOf(name) != RegValueType::Missing && !Key->ReadString(name, value))
            Fail(name);
        return value;
    }
    std::vector<std::string> ValueNames() const { return Key->ValueNames(); }
    // True (and the new time stored) when the last-write time differs from stored.
    bool Changed(uint64_t& stored) const {
        uint64_t time = 0;
        if (!Key->LastWriteTime(time))
            Fail("(last write time)");
        if (time == stored)
            return false;
        stored = time;
        return true;
    }

private:
    [[noreturn]] void Fail(const std::string& name) const {
        throw TListReadError(Path + " / " + name);
    }

    std::string Path;
    std::unique_ptr<IRegistryKey> Key;
};

std::string ServiceEnumPath(const std::string& service) {
    return ServicesRoot + service + "\\Enum";
}

// 'USB Serial Port (COM3)' with 'COM3' -> 'USB Serial Port'. Purely by
// length: whatever the name ends in, the length of " (" + port + ")" goes.
std::string CutFriendlyName(const std::string& friendly, const std::string& port) {
    const int64_t keep =
        static_cast<int64_t>(friendly.size()) - static_cast<int64_t>(port.size()) - 3;
    return keep <= 0 ? std::string() : friendly.substr(0, static_cast<size_t>(keep));
}

void AddEntry(TPortLists& lists, std::string name, std::string description, std::string id) {
    lists.Add(std::move(name), std::move(description), std::move(id));
}

void ClearLists(TPortLists& lists) {
    lists.Entries.clear();
}

// Replaces the lists with one entry per value of the device map: the value
// is the port name, its name the device object's name. pending stays set
// when a read fails half-way.
void ListDeviceMap(TPortLists& lists, bool& pending, const TReadKey& key) {
    pending = true;
    ClearLists(lists);
    for (const std::string& value : key.ValueNames())
        AddEntry(lists, key.Text(value), value, std::string());
    pending = false;
}

} // namespace

// ---------------------------------------------------------------------------
// TComListReader

TComListReader::TComListReader(IRegistry& registry, uint32_t majorVersion) : Registry(registry) {
    if (majorVersion < 5)
        return;
    static const char* const Watched[] = {"serenum", "usbser", "bthmodem", "BTDriver", "WudfRd"};
    for (const char* name : Watched)
        Services[ServiceCount++].Name = name;
}

TComListReader::TOutcome TComListReader::Cycle(TPortLists& lists) {
    try {
        return ServiceCount == 0 ? LegacyCycle(lists) : ServiceCycle(lists);
    } catch (const TListReadError&) {
        return TOutcome::Failed;
    }
}

TComListReader::TOutcome TComListReader::LegacyCycle(TPortLists& lists) {
    if (!lists.Entries.empty() && !RebuildPending)
        return TOutcome::Unchanged;
    TReadKey key(Registry, LegacySerialCommPath);
    if (!key)
        return TOutcome::Unchanged;
    ListDeviceMap(lists, RebuildPending, key);
    return TOutcome::Rebuilt;
}

TComListReader::TOutcome TComListReader::ServiceCycle(TPortLists& lists) {
    bool changed = RebuildPending;
    int64_t total = 0;
    for (int32_t i = 0; i < ServiceCount; ++i) {
        TService& service = Services[i];
        TReadKey key(Registry, ServiceEnumPath(service.Name));
        if (!key)
            continue;
        changed = key.Changed(service.LastWrite) || changed;
        const int32_t count = key.Integer("Count");
        changed = changed || count != service.Count;
        service.Count = count;
        total += count;
        if (changed && total > 0)
            break;
    }

    if (total == 0) {
        // No watched service has a device: the device map lists the ports.
        TReadKey key(Registry, SerialCommPath);
        if (!key)
            return TOutcome::Unchanged;
        changed = key.Changed(SerialCommLastWrite) || changed;
        if (!changed)
            return TOutcome::Unchanged;
        ListDeviceMap(lists, RebuildPending, key);
        return TOutcome::Rebuilt;
    }
    if (!changed)
        return TOutcome::Unchanged;
    RebuildPending = true;
    ClearLists(lists);
    for (int32_t i = 0; i < ServiceCount; ++i)
        Services[i].Count = ReadServiceEnum(lists, ServiceEnumPath(Services[i].Name));
    RebuildPending = false;
    return TOutcome::ServicesRebuilt;
}

int32_t TComListReader::ReadServiceEnum(TPortLists& lists, const std::string& path) {
    TReadKey service(Registry, path);
    if (!service)
        return 0;
    const int32_t count = service.Integer("Count");
    // A device is named by a value of the key, so no index beyond the key's
    // number of values can name one: a wild count costs no more than the key holds.
    const int64_t last =
        std::min<int64_t>(count, static_cast<int64_t>(service.ValueNames().size()));
    for (int64_t i = 0; i < last; ++i) {
        const std::string id = service.Text(std::to_string(i));
        if (id.empty())
            continue; // no instance path: nothing to open (it would be the Enum root)
        TReadKey device(Registry, EnumRoot + id);
        if (!device)
            continue;
        TReadKey parameters(Registry, EnumRoot + id + "\\Device Parameters");
        if (!parameters)
            continue;
        const std::string port = parameters.Text("PortName");
        if (port.empty())
            continue;
        // All reads before the first append, so that a failing read never
        // leaves the three lists of different lengths.
        const std::string friendly = device.Text("FriendlyName");
        AddEntry(lists, port, CutFriendlyName(friendly, port), id);
    }
    return count;
}

// ---------------------------------------------------------------------------
// TListCOM

TListCOM::TListCOM(IRegistry& registry, IUserIo& userIo, uint32_t majorVersion, IListClock& clock,
                   std::atomic<bool>* usbRescanFlag)
    : TListThread(clock), Reader(registry, majorVersion), UsbRescanFlag(usbRescanFlag),
      Box(std::make_unique<TFaultBox>(userIo, [this] { ReleaseHold(); })) {
    Start();
}

TListCOM::~TListCOM() {
    Stop();
    Box.reset();
}

void TListCOM::SetUsbRescanFlag(std::atomic<bool>* listed) {
    UsbRescanFlag = listed;
}

void TListCOM::ClearUsbRescanFlag() {
    if (std::atomic<bool>* listed = UsbRescanFlag.load())
        *listed = false;
}

void TListCOM::Cycle() {
    using TOutcome = TComListReader::TOutcome;
    TOutcome outcome;
    {
        std::lock_guard<std::mutex> guard(ListLock);
        outcome = Reader.Cycle(Lists);
        // Lets new devices settle before the USB list looks at them.
        if (outcome == TOutcome::ServicesRebuilt)
            SleepInCycle(RebuildPause);
        if (outcome == TOutcome::Rebuilt || outcome == TOutcome::ServicesRebuilt)
            ClearUsbRescanFlag();
    }
    if (outcome != TOutcome::Failed)
        return;
    ++Reports;
    HoldAfterCycle();
    Box->Post();
}

// ---------------------------------------------------------------------------
// TUsbListReader

TUsbListReader::TUsbListReader(ILibraryLoader& libraries) : Libraries(libraries) {}

TUsbListReader::~TUsbListReader() {
    if (D2xxLibrary)
        Libraries.Free(D2xxLibrary);
}

bool TUsbListReader::Scan(TPortLists& lists) {
    if (!D2xxLibrary)
        D2xxLibrary = LoadD2xxLibrary(Libraries);
    if (!D2xxLibrary)
        return false;

    auto create =
        ResolveAs<FtCreateDeviceInfoListFn>(Libraries, D2xxLibrary, "FT_CreateDeviceInfoList");
    auto read = ResolveAs<FtGetDeviceInfoListFn>(Libraries, D2xxLibrary, "FT_GetDeviceInfoList");
    DeviceCount = 0;
    if (create && read) {
        uint32_t count = 0;
        if (create(&count) == 0 && count > 0 && count <= MaxDevices) {
            try {
                DeviceInfo.assign(size_t(count) * d2xxrecord::Size, 0);
                uint32_t filled = count;
                if (read(DeviceInfo.data(), &filled) == 0)
                    DeviceCount = std::min(filled, count); // never more than there is room for
            } catch (const std::bad_alloc&) {
                DeviceCount = 0;
            }
        }
    } else {
        Libraries.Free(D2xxLibrary);
        D2xxLibrary = nullptr;
    }

    ClearLists(lists);
    for (uint32_t i = 0; i < DeviceCount; ++i) {
        const uint8_t* record = DeviceInfo.data() + size_t(i) * d2xxrecord::Size;
        AddEntry(lists,
                 "USB:" + D2xxField(record, d2xxrecord::SerialOffset, d2xxrecord::SerialLength),
                 D2xxField(record, d2xxrecord::DescriptionOffset, d2xxrecord::DescriptionLength),
                 std::string());
    }
    return true;
}

// ---------------------------------------------------------------------------
// TListUSB

TListUSB::TListUSB(ILibraryLoader& libraries, IListClock& clock)
    : TListThread(clock), Reader(libraries) {
    Start();
}

TListUSB::~TListUSB() {
    Stop();
}

void TListUSB::Cycle() {
    // Marked listed before the scan, not after it: a rescan request that
    // comes while the scan runs then leads to another scan instead of being
    // overwritten.
    if (Listed.exchange(true))
        return;
    TPortLists fresh;
    if (!Reader.Scan(fresh))
        return; // the lists keep what they had
    std::lock_guard<std::mutex> guard(ListLock);
    Lists = std::move(fresh);
}

// ---------------------------------------------------------------------------
// TPortListThreads

TPortListThreads::TPortListThreads(IRegistry& registry, ILibraryLoader& libraries, IUserIo& userIo,
                                   uint32_t majorVersion, IListClock& comClock,
                                   IListClock& usbClock)
    : ComList(registry, userIo, majorVersion, comClock), UsbList(libraries, usbClock) {
    ComList.SetUsbRescanFlag(&UsbList.ListedFlag());
}

TPortListThreads::~TPortListThreads() {
    // Both asked before either is waited for; the COM thread writes the USB
    // thread's flag, so neither object goes before both threads have ended.
    ComList.Terminate();
    UsbList.Terminate();
    ComList.Stop();
    UsbList.Stop();
}

void TPortListThreads::PauseLists() {
    ComList.RequestPause();
    UsbList.RequestPause();
    ComList.WaitIdle();
    UsbList.WaitIdle();
}

void TPortListThreads::ResumeLists() {
    ComList.Resume();
    UsbList.Resume();
}

void TPortListThreads::RequestUsbRescan() {
    UsbList.RequestRescan();
}

void TPortListThreads::GetPortLists(TPortLists& lists) {
    ComList.CopyLists(lists);
    UsbList.CopyLists(lists);
}

void TPortListsOnDemand::GetPortLists(TPortLists& lists) {
    if (Com.Cycle(ComLists) == TComListReader::TOutcome::Failed) {
        ComLists = TPortLists();
        UserIo.ShowBox("Error reading COM-List", "Error...", mb::Ok | mb::IconInformation,
                       TBoxOwner::None);
    }
    TPortLists usb;
    Usb.Scan(usb);
    lists.Entries.insert(lists.Entries.end(), ComLists.Entries.begin(), ComLists.Entries.end());
    lists.Entries.insert(lists.Entries.end(), usb.Entries.begin(), usb.Entries.end());
}

} // namespace qvx
