// Stand-in D2XX library for tests and the demo: serves simulated devices
// in-process through the FT_ listing functions and the FT_W32_ functions,
// which behave like their Win32 namesakes where the program relies on it:
// overlapped operations reset and then set the record's event, a pending
// operation leaves Internal at STATUS_PENDING and reports ERROR_IO_PENDING
// through the system's last error, a completed receive-event wait reports 4
// bytes (the mask's size), and the system's GetOverlappedResult completes
// them. A pump thread moves device output along once a millisecond (every
// 50 ms while nothing is open and no pushed output waits).
//
// Devices are added by the test through the QvxStandIn_ exports. Each one
// either plays bytes the test pushes (optionally paced in bytes per second)
// or runs a simulated adapter. When the library loads it also serves the
// simulated adapters configured by the environment variable QVX_SIM_CONFIG
// (configuration text, or "@" + a file name) or else by a file "mvd2xx.cfg"
// beside the library, one adapter or several separated by lines of "---";
// each adapter's USB serial number is its identity serial number, its
// description "Quorvelix Adapter".
//
// As a real library does, an open by serial number takes the serial number
// exactly as the listing gives it (at most 15 characters): no shorter or
// longer text opens the device; and a device that another process has open
// does not open (FT_DEVICE_NOT_OPENED).
//
// A simulated adapter's fault.write.delay completes each overlapped write that
// long after it was handed over (after its line time, with a line rate), and
// its fault.write.stall leaves every write pending until the handle is closed
// or the output purged.
//
// A simulated adapter that is disconnected (its fault.disconnect keys) acts
// as a device pulled out while open: what already reached the line can still
// be read, then receive-event waits and writes fail with FT_IO_ERROR (a wait
// or write pending at that moment completes with an error), and the device
// can no longer be opened. It stays listed.
//
// With the environment variable QVX_STANDIN_TRACE naming a file, every byte
// the host writes to any device is appended to that file as it is written, so
// a test in another process can see what crossed the wire. With
// QVX_STANDIN_STATS naming a file, every close of a device appends a line
// "serial bytes-from-host bytes-to-host" (counted since the library loaded).
#include "sim/sim_adapter.h"
#include "sim/sim_config.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr DWORD StatusPending = 0x103;           // STATUS_PENDING
constexpr DWORD StatusCancelled = 0xC0000120;    // STATUS_CANCELLED
constexpr DWORD StatusNotConnected = 0xC000009D; // STATUS_DEVICE_NOT_CONNECTED
constexpr DWORD OpenBySerialNumber = 1;
enum : DWORD {
    FtOk = 0,
    FtInvalidHandle = 1,
    FtDeviceNotFound = 2,
    FtDeviceNotOpened = 3,
    FtIoError = 4,
};

// Output the test pushed, released at a line rate.
struct TPushedOutput {
    std::deque<char> Queue;    // bytes not yet on the line
    std::string Available;     // bytes on the line, not yet read by the host
    double BytesPerSecond = 0; // 0 = at once
    double Credit = 0;
    // An endless stream of a counting pattern (for throughput runs).
    bool Streaming = false;
    uint64_t StreamLeft = 0;
    uint8_t NextPattern = 0;
    uint64_t Delivered = 0;

    void Advance(double seconds) {
        if (BytesPerSecond <= 0) {
            Available.append(Queue.begin(), Queue.end());
            Queue.clear();
            if (Streaming) {
                // Unpaced streams release a bounded amount per step.
                Produce(65536);
            }
            return;
        }
        Credit += seconds * BytesPerSecond;
        auto n = static_cast<uint64_t>(Credit);
        Credit -= static_cast<double>(n);
        uint64_t fromQueue = std::min<uint64_t>(n, Queue.size());
        Available.append(Queue.begin(), Queue.begin() + static_cast<std::ptrdiff_t>(fromQueue));
        Queue.erase(Queue.begin(), Queue.begin() + static_cast<std::ptrdiff_t>(fromQueue));
        if (Streaming)
            Produce(n - fromQueue);
    }
    void Produce(uint64_t n) {
        n = std::min(n, StreamLeft);
        for (uint64_t i = 0; i < n; ++i)
            Available.push_back(static_cast<char>(NextPattern++));
        StreamLeft -= n;
        if (StreamLeft == 0)
            Streaming = false;
    }
};

struct TDevice {
    std::string Serial;
    std::string Description;
    TPushedOutput Output;
    std::unique_ptr<qvx::TSimAdapter> Sim; // a simulated adapter, or pushed bytes
    std::string FromHost;
    std::vector<DWORD> WriteSizes;
    bool Open = false;
    HANDLE Held = nullptr; // the named mutex that says this process has it open
    DWORD Mask = 0;
    DCB LineState{};
    OVERLAPPED* PendingWait = nullptr;
    LPDWORD PendingMask = nullptr;
    DWORD LastStatus = FtOk;
    // A simulated adapter with a line rate takes the host's bytes at that
    // rate too: a write stays pending until its bytes have crossed the line.
    struct TPendingWrite {
        OVERLAPPED* Overlapped = nullptr;
        qvx::Bytes Data;
        double ReadyAt = 0; // seconds on the pump's clock; infinite = never
    };
    std::deque<TPendingWrite> PendingWrites;
    double LineFreeAt = 0;
};

std::mutex g_lock;
std::vector<std::unique_ptr<TDevice>> g_devices;
DWORD g_lastStatus = FtOk;     // of calls without a valid handle
DWORD g_failOpenStatus = FtOk; // next CreateFile fails with this (when not 0)
bool g_failOpenPending = false;
std::atomic<bool> g_pumpRunning{false};
std::thread* g_pump = nullptr;
std::string g_tracePath; // empty: no trace
std::string g_statsPath; // empty: no line counts at close

TDevice* FindDevice(HANDLE h) {
    for (auto& d : g_devices)
        if (d.get() == static_cast<TDevice*>(h))
            return d.get();
    return nullptr;
}

// The serial number as the listing records hold it: at most 15 characters.
std::string ListedSerial(const TDevice& d) {
    return d.Serial.substr(0, 15);
}

TDevice* FindSerial(const char* serial) {
    for (auto& d : g_devices)
        if (d->Serial == serial)
            return d.get();
    return nullptr;
}

void Complete(OVERLAPPED* ov, DWORD status, DWORD bytes) {
    ov->InternalHigh = bytes;
    MemoryBarrier();
    ov->Internal = status;
    if (ov->hEvent)
        SetEvent(ov->hEvent);
}

void Begin(OVERLAPPED* ov) {
    if (ov && ov->hEvent)
        ResetEvent(ov->hEvent);
}

// Completes a pending receive-event wait when input is on the line.
void Notify(TDevice& d) {
    if (d.PendingWait && (d.Mask & EV_RXCHAR) && !d.Output.Available.empty()) {
        if (d.PendingMask)
            *d.PendingMask = EV_RXCHAR;
        OVERLAPPED* ov = d.PendingWait;
        d.PendingWait = nullptr;
        d.PendingMask = nullptr;
        Complete(ov, 0, sizeof(DWORD));
    }
}

double PumpClock() {
    static const auto start = std::chrono::steady_clock::now();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Completes the host's writes whose bytes have crossed the line by now.
void FinishWrites(TDevice& d, double now) {
    while (!d.PendingWrites.empty() && d.PendingWrites.front().ReadyAt <= now) {
        TDevice::TPendingWrite w = std::move(d.PendingWrites.front());
        d.PendingWrites.pop_front();
        d.Sim->HostWrite(w.Data);
        Complete(w.Overlapped, 0, static_cast<DWORD>(w.Data.size()));
    }
}

void CancelWrites(TDevice& d, DWORD status = StatusCancelled) {
    for (auto& w : d.PendingWrites)
        Complete(w.Overlapped, status, 0);
    d.PendingWrites.clear();
    d.LineFreeAt = 0; // a stalled line is free again
}

// A simulated adapter that has been disconnected: the device is gone.
bool Gone(const TDevice& d) {
    return d.Sim && !d.Sim->Connected();
}

// Fails what is pending on a device that is gone, as the driver does when
// the device is pulled out; input already on the line is still delivered.
void FailIfGone(TDevice& d) {
    if (!d.Open || !Gone(d))
        return;
    CancelWrites(d, StatusNotConnected);
    if (d.PendingWait && d.Output.Available.empty()) {
        OVERLAPPED* ov = d.PendingWait;
        d.PendingWait = nullptr;
        d.PendingMask = nullptr;
        d.LastStatus = FtIoError;
        Complete(ov, StatusNotConnected, 0);
    }
}

// While no device is open and no pushed output waits for the line, the pump
// steps every PumpIdleMs instead of every millisecond, so that a program
// that merely lists the devices is not kept busy by us; an open or a push
// wakes it at once. A simulated adapter's clock goes by the real time
// either way, so what it does while closed does not change.
constexpr DWORD PumpIdleMs = 50;
HANDLE g_pumpWake = nullptr; // auto-reset

bool PumpBusy() {
    for (auto& d : g_devices)
        if (d->Open || !d->Output.Queue.empty() || d->Output.Streaming)
            return true;
    return false;
}

void WakePump() {
    if (g_pumpWake)
        SetEvent(g_pumpWake);
}

void PumpLoop() {
    auto last = std::chrono::steady_clock::now();
    while (g_pumpRunning.load()) {
        bool busy;
        {
            std::lock_guard<std::mutex> guard(g_lock);
            busy = PumpBusy();
        }
        if (busy)
            Sleep(1);
        else
            WaitForSingleObject(g_pumpWake, PumpIdleMs);
        auto now = std::chrono::steady_clock::now();
        double seconds = std::chrono::duration<double>(now - last).count();
        last = now;
        std::lock_guard<std::mutex> guard(g_lock);
        for (auto& d : g_devices) {
            if (d->Sim)
                FinishWrites(*d, PumpClock());
            if (d->Sim) {
                d->Sim->Advance(static_cast<uint64_t>(seconds * 1e6));
                if (size_t n = d->Sim->HostAvailable())
                    d->Output.Available += d->Sim->HostRead(n);
            } else {
                d->Output.Advance(seconds);
            }
            Notify(*d);
            FailIfGone(*d);
        }
    }
}

// Once the pump runs the library stays loaded until the process ends: a
// FreeLibrary of the last reference would have to join the thread inside
// DllMain, and the thread cannot end while DllMain holds the loader lock
// (the program hung at exit that way when only its port lists had used us).
void EnsurePump() {
    if (g_pump)
        return;
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&EnsurePump), &self);
    g_pumpWake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    g_pumpRunning.store(true);
    g_pump = new std::thread(PumpLoop);
}

} // namespace

extern "C" {

// ---- control exports for tests and the demo ----

__declspec(dllexport) void QvxStandIn_Reset() {
    std::lock_guard<std::mutex> guard(g_lock);
    for (auto& d : g_devices) {
        if (d->PendingWait)
            Complete(d->PendingWait, StatusCancelled, 0);
        CancelWrites(*d);
    }
    g_devices.clear();
    g_lastStatus = FtOk;
    g_failOpenPending = false;
}

__declspec(dllexport) int QvxStandIn_AddDevice(const char* serial, const char* description) {
    std::lock_guard<std::mutex> guard(g_lock);
    if (!serial || FindSerial(serial))
        return 0;
    auto d = std::make_unique<TDevice>();
    d->Serial = serial;
    d->Description = description ? description : "";
    d->LineState.DCBlength = sizeof(DCB);
    d->LineState.BaudRate = 115200;
    d->LineState.ByteSize = 7;
    d->LineState.fBinary = 1;
    g_devices.push_back(std::move(d));
    EnsurePump();
    return 1;
}

} // extern "C"

namespace {

// Lists a device that a simulated adapter with this configuration serves.
bool AddSimulated(const char* serial, const char* description, const qvx::TSimConfig& config) {
    if (!QvxStandIn_AddDevice(serial, description))
        return false;
    std::lock_guard<std::mutex> guard(g_lock);
    FindSerial(serial)->Sim = std::make_unique<qvx::TSimAdapter>(config);
    return true;
}

} // namespace

extern "C" {

// Adds a simulated adapter configured by text (see sim/sim_config.h; "@" +
// a file name reads the file). Returns 0 and fills error on a bad text.
__declspec(dllexport) int QvxStandIn_AddSimDevice(const char* serial, const char* description,
                                                  const char* config, char* error,
                                                  int errorCapacity) {
    qvx::TSimConfig parsed;
    std::string why;
    if (!qvx::LoadSimConfig(config ? config : "", parsed, why)) {
        if (error && errorCapacity > 0) {
            std::strncpy(error, why.c_str(), static_cast<size_t>(errorCapacity) - 1);
            error[errorCapacity - 1] = '\0';
        }
        return 0;
    }
    return AddSimulated(serial, description, parsed) ? 1 : 0;
}

// Queues bytes for the host, released at bytesPerSecond (0 = at once).
__declspec(dllexport) int QvxStandIn_Push(const char* serial, const char* data, int length,
                                          int bytesPerSecond) {
    std::lock_guard<std::mutex> guard(g_lock);
    TDevice* d = FindSerial(serial);
    if (!d || length < 0)
        return 0;
    d->Output.BytesPerSecond = bytesPerSecond;
    d->Output.Queue.insert(d->Output.Queue.end(), data, data + length);
    WakePump();
    return 1;
}

// Streams a counting byte pattern (0, 1, ... 255, 0, ...) at bytesPerSecond.
__declspec(dllexport) int QvxStandIn_Stream(const char* serial, int bytesPerSecond,
                                            unsigned totalBytes) {
    std::lock_guard<std::mutex> guard(g_lock);
    TDevice* d = FindSerial(serial);
    if (!d)
        return 0;
    d->Output.BytesPerSecond = bytesPerSecond;
    d->Output.Streaming = totalBytes > 0;
    d->Output.StreamLeft = totalBytes;
    d->Output.NextPattern = 0;
    WakePump();
    return 1;
}

// Copies what the host has written so far; returns the total count.
__declspec(dllexport) int QvxStandIn_Taken(const char* serial, char* buffer, int capacity) {
    std::lock_guard<std::mutex> guard(g_lock);
    TDevice* d = FindSerial(serial);
    if (!d)
        return -1;
    if (buffer && capacity > 0)
        std::memcpy(buffer, d->FromHost.data(),
                    std::min<size_t>(static_cast<size_t>(capacity), d->FromHost.size()));
    return static_cast<int>(d->FromHost.size());
}

// The byte counts of the host's WriteFile calls; returns how many there were.
__declspec(dllexport) int QvxStandIn_WriteSizes(const char* serial, unsigned* sizes, int capacity) {
    std::lock_guard<std::mutex> guard(g_lock);
    TDevice* d = FindSerial(serial);
    if (!d)
        return -1;
    for (int i = 0; i < capacity && i < static_cast<int>(d->WriteSizes.size()); ++i)
        sizes[i] = d->WriteSizes[static_cast<size_t>(i)];
    return static_cast<int>(d->WriteSizes.size());
}

// The next CreateFile fails and FT_W32_GetLastError then reports status.
__declspec(dllexport) void QvxStandIn_FailOpen(unsigned status) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_failOpenPending = true;
    g_failOpenStatus = status;
}

// Bytes released to the line so far and bytes on the line not yet read.
__declspec(dllexport) int QvxStandIn_Stats(const char* serial, unsigned* released,
                                           unsigned* unread) {
    std::lock_guard<std::mutex> guard(g_lock);
    TDevice* d = FindSerial(serial);
    if (!d)
        return 0;
    if (released)
        *released = static_cast<unsigned>(d->Output.Delivered + d->Output.Available.size());
    if (unread)
        *unread = static_cast<unsigned>(d->Output.Available.size());
    return 1;
}

__declspec(dllexport) int QvxStandIn_LastByteSize(const char* serial) {
    std::lock_guard<std::mutex> guard(g_lock);
    TDevice* d = FindSerial(serial);
    return d ? d->LineState.ByteSize : -1;
}

// The letters of the commands a simulated adapter has recognised, in order
// (see TSimAdapter::CommandLog); returns their count, -1 for no such adapter.
__declspec(dllexport) int QvxStandIn_SimCommands(const char* serial, char* buffer, int capacity) {
    std::lock_guard<std::mutex> guard(g_lock);
    TDevice* d = FindSerial(serial);
    if (!d || !d->Sim)
        return -1;
    const std::string log = d->Sim->CommandLog();
    if (buffer && capacity > 0)
        std::memcpy(buffer, log.data(),
                    std::min<size_t>(static_cast<size_t>(capacity), log.size()));
    return static_cast<int>(log.size());
}

// ---- the D2XX entry points ----

DWORD WINAPI FT_CreateDeviceInfoList(LPDWORD count) {
    std::lock_guard<std::mutex> guard(g_lock);
    if (!count)
        return 6; // invalid parameter
    *count = static_cast<DWORD>(g_devices.size());
    return FtOk;
}

DWORD WINAPI FT_GetDeviceInfoList(void* records, LPDWORD count) {
    std::lock_guard<std::mutex> guard(g_lock);
    if (!records || !count)
        return 6;
    DWORD n = std::min<DWORD>(*count, static_cast<DWORD>(g_devices.size()));
    auto* out = static_cast<unsigned char*>(records);
    for (DWORD i = 0; i < n; ++i) {
        unsigned char* r = out + i * 100;
        std::memset(r, 0, 100);
        const TDevice& d = *g_devices[i];
        r[0] = d.Open ? 1 : 0; // flags: opened
        std::strncpy(reinterpret_cast<char*>(r + 16), ListedSerial(d).c_str(), 15);
        std::strncpy(reinterpret_cast<char*>(r + 32), d.Description.c_str(), 63);
    }
    *count = n;
    return FtOk;
}

HANDLE WINAPI FT_W32_CreateFile(LPCSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD,
                                DWORD flags, HANDLE) {
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_failOpenPending) {
        g_failOpenPending = false;
        g_lastStatus = g_failOpenStatus;
        return INVALID_HANDLE_VALUE;
    }
    if (!name || !(flags & OpenBySerialNumber)) {
        g_lastStatus = FtDeviceNotFound;
        return INVALID_HANDLE_VALUE;
    }
    for (auto& d : g_devices) {
        // As a real library does: the serial number exactly as it is listed.
        if (ListedSerial(*d) == name) {
            if (d->Open) {
                g_lastStatus = FtDeviceNotOpened;
                return INVALID_HANDLE_VALUE;
            }
            if (Gone(*d)) {
                g_lastStatus = FtDeviceNotFound;
                return INVALID_HANDLE_VALUE;
            }
            // One process at a time has the device, as with a real library:
            // every process that loads this library serves the same devices.
            std::string owner = "QvxStandInOpen_" + d->Serial;
            std::replace(owner.begin(), owner.end(), '\\', '_');
            HANDLE held = CreateMutexA(nullptr, FALSE, owner.c_str());
            if (held && GetLastError() == ERROR_ALREADY_EXISTS) {
                CloseHandle(held);
                held = nullptr;
            }
            if (!held) {
                g_lastStatus = FtDeviceNotOpened;
                return INVALID_HANDLE_VALUE;
            }
            d->Held = held;
            d->Open = true;
            d->Mask = 0;
            d->LastStatus = FtOk;
            g_lastStatus = FtOk;
            WakePump();
            return d.get();
        }
    }
    g_lastStatus = FtDeviceNotFound;
    return INVALID_HANDLE_VALUE;
}

BOOL WINAPI FT_W32_CloseHandle(HANDLE h) {
    std::lock_guard<std::mutex> guard(g_lock);
    TDevice* d = FindDevice(h);
    if (!d || !d->Open) {
        g_lastStatus = FtInvalidHandle;
        return FALSE;
    }
    if (d->PendingWait) {
        Complete(d->PendingWait, StatusCancelled, 0);
        d->PendingWait = nullptr;
        d->PendingMask = nullptr;
    }
    CancelWrites(*d);
    d->Open = false;
    if (!g_statsPath.empty()) {
        if (FILE* stats = std::fopen(g_statsPath.c_str(), "ab")) {
            std::fprintf(stats, "%s %u %u\n", d->Serial.c_str(),
                         static_cast<unsigned>(d->FromHost.size()),
                         static_cast<unsigned>(d->Output.Delivered + d->Output.Available.size()));
            std::fclose(stats);
        }
    }
    if (d->Held)
        CloseHandle(d->Held);
    d->Held = nullptr;
    return TRUE;
}

BOOL WINAPI FT_W32_ReadFile(HANDLE h, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED ov) {
    std::lock_guard<std::mutex> guard(g_lock);
    TDevice* d = FindDevice(h);
    if (!d || !d->Open) {
        g_lastStatus = FtInvalidHandle;
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Begin(ov);
    // A read-interval time-out of MAXDWORD: whatever is there, at once.
    DWORD n = std::min<DWORD>(count, static_cast<DWORD>(d->Output.Available.size()));
    std::memcpy(buffer, d->Output.Available.data(), n);
    d->Output.Available.erase(0, n);
    d->Output.Delivered += n;
    if (read)
        *read = n;
    if (ov)
        Complete(ov, 0, n);
    return TRUE;
}

BOOL WINAPI FT_W32_WriteFile(HANDLE h, LPCVOID buffer, DWORD count, LPDWORD written,
                             LPOVERLAPPED ov) {
    std::lock_guard<std::mutex> guard(g_lock);
    TDevice* d = FindDevice(h);
    if (!d || !d->Open) {
        g_lastStatus = FtInvalidHandle;
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (Gone(*d)) {
        d->LastStatus = FtIoError;
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
    }
    Begin(ov);
    d->FromHost.append(static_cast<const char*>(buffer), count);
    d->WriteSizes.push_back(count);
    if (!g_tracePath.empty()) {
        if (FILE* trace = std::fopen(g_tracePath.c_str(), "ab")) {
            std::fwrite(buffer, 1, count, trace);
            std::fclose(trace);
        }
    }
    if (d->Sim) {
        const qvx::TSimAdapter::TWriteFaults faults = d->Sim->WriteFaults();
        const uint64_t rate = faults.BytesPerSecond;
        if ((rate > 0 || faults.DelayUs > 0 || faults.Stall) && ov) {
            const double now = PumpClock();
            const double start = std::max(now, d->LineFreeAt);
            const double lineTime =
                rate > 0 ? static_cast<double>(count) / static_cast<double>(rate) : 0.0;
            d->LineFreeAt = faults.Stall
                                ? std::numeric_limits<double>::infinity()
                                : start + lineTime + static_cast<double>(faults.DelayUs) / 1e6;
            TDevice::TPendingWrite w;
            w.Overlapped = ov;
            w.Data.assign(static_cast<const char*>(buffer), count);
            w.ReadyAt = d->LineFreeAt;
            d->PendingWrites.push_back(std::move(w));
            ov->Internal = StatusPending;
            EnsurePump();
            SetLastError(ERROR_IO_PENDING);
            return FALSE;
        }
        d->Sim->HostWrite(qvx::Bytes(static_cast<const char*>(buffer), count));
    }
    if (written)
        *written = count;
    if (ov)
        Complete(ov, 0, count);
    return TRUE;
}

DWORD WINAPI FT_W32_GetLastError(HANDLE h) {
    std::lock_guard<std::mutex> guard(g_lock);
    TDevice* d = FindDevice(h);
    return d ? d->LastStatus : g_lastStatus;
}

BOOL WINAPI FT_W32_ClearCommError(HANDLE h, LPDWORD errors, LPCOMSTAT stat) {
    std::lock_guard<std::mutex> guard(g_lock);
    TDevice* d = FindDevice(h);
    if (!d)
        return FALSE;
    if (errors)
        *errors = 0;
    if (stat) {
        std::memset(stat, 0, sizeof *stat);
        stat->cbInQue = static_cast<DWORD>(d->Output.Available.size());
    }
    return TRUE;
}

BOOL WINAPI FT_W32_EscapeCommFunction(HANDLE h, DWORD) {
    std::lock_guard<std::mutex> guard(g_lock);
    return FindDevice(h) ? TRUE : FALSE;
}

BOOL WINAPI FT_W32_PurgeComm(HANDLE h, DWORD flags) {
    std::lock_guard<std::mutex> guard(g_lock);
    TDevice* d = FindDevice(h);
    if (!d)
        return FALSE;
    if (flags & PURGE_RXCLEAR)
        d->Output.Available.clear();
    if (flags & PURGE_TXCLEAR)
        CancelWrites(*d);
    return TRUE;
}

BOOL WINAPI FT_W32_SetCommState(HANDLE h, LPDCB dcb) {
    std::lock_guard<std::mutex> guard(g_lock);
    TDevice* d = FindDevice(h);
    if (!d || !dcb)
        return FALSE;
    d->LineState = *dcb;
    return TRUE;
}

BOOL WINAPI FT_W32_GetCommState(HANDLE h, LPDCB dcb) {
    std::lock_guard<std::mutex> guard(g_lock);
    TDevice* d = FindDevice(h);
    if (!d || !dcb)
        return FALSE;
    *dcb = d->LineState;
    return TRUE;
}

BOOL WINAPI FT_W32_SetupComm(HANDLE h, DWORD, DWORD) {
    std::lock_guard<std::mutex> guard(g_lock);
    return FindDevice(h) ? TRUE : FALSE;
}

BOOL WINAPI FT_W32_SetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS) {
    std::lock_guard<std::mutex> guard(g_lock);
    return FindDevice(h) ? TRUE : FALSE;
}

BOOL WINAPI FT_W32_SetCommMask(HANDLE h, DWORD mask) {
    std::lock_guard<std::mutex> guard(g_lock);
    TDevice* d = FindDevice(h);
    if (!d)
        return FALSE;
    d->Mask = mask;
    if (d->PendingWait) { // a new mask ends a pending wait, with no event
        if (d->PendingMask)
            *d->PendingMask = 0;
        Complete(d->PendingWait, 0, sizeof(DWORD));
        d->PendingWait = nullptr;
        d->PendingMask = nullptr;
    }
    return TRUE;
}

BOOL WINAPI FT_W32_WaitCommEvent(HANDLE h, LPDWORD mask, LPOVERLAPPED ov) {
    std::lock_guard<std::mutex> guard(g_lock);
    TDevice* d = FindDevice(h);
    if (!d || !d->Open || !ov || d->PendingWait) {
        g_lastStatus = d ? FtIoError : FtInvalidHandle;
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Begin(ov);
    if ((d->Mask & EV_RXCHAR) && !d->Output.Available.empty()) {
        if (mask)
            *mask = EV_RXCHAR;
        Complete(ov, 0, sizeof(DWORD));
        return TRUE;
    }
    if (Gone(*d)) {
        d->LastStatus = FtIoError;
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
    }
    ov->Internal = StatusPending;
    d->PendingWait = ov;
    d->PendingMask = mask;
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

BOOL WINAPI FT_W32_GetOverlappedResult(HANDLE, LPOVERLAPPED ov, LPDWORD bytes, BOOL wait) {
    if (!ov)
        return FALSE;
    while (ov->Internal == StatusPending) {
        if (!wait) {
            SetLastError(ERROR_IO_INCOMPLETE);
            return FALSE;
        }
        WaitForSingleObject(ov->hEvent, 10);
    }
    if (bytes)
        *bytes = static_cast<DWORD>(ov->InternalHigh);
    return ov->Internal == 0;
}

} // extern "C"

namespace {

// The adapters of the demo: from QVX_SIM_CONFIG, or mvd2xx.cfg beside us;
// several are separated by lines of "---".
void AddConfiguredAdapters(HINSTANCE self) {
    std::string source;
    char buffer[4096];
    DWORD n = GetEnvironmentVariableA("QVX_SIM_CONFIG", buffer, sizeof buffer);
    if (n > 0 && n < sizeof buffer) {
        source = buffer;
    } else {
        char path[MAX_PATH];
        DWORD len = GetModuleFileNameA(self, path, MAX_PATH);
        if (len == 0 || len >= MAX_PATH)
            return;
        std::string file(path, len);
        file = file.substr(0, file.find_last_of('\\') + 1) + "mvd2xx.cfg";
        if (GetFileAttributesA(file.c_str()) == INVALID_FILE_ATTRIBUTES)
            return;
        source = "@" + file;
    }
    std::vector<qvx::TSimConfig> configs;
    std::string error;
    if (!qvx::LoadSimConfigs(source, configs, error)) {
        OutputDebugStringA(("mvd2xx stand-in: " + error).c_str());
        return;
    }
    for (const qvx::TSimConfig& config : configs)
        AddSimulated(config.SerialNumber.c_str(), "Quorvelix Adapter", config);
}

} // namespace

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        char trace[MAX_PATH];
        DWORD n = GetEnvironmentVariableA("QVX_STANDIN_TRACE", trace, sizeof trace);
        if (n > 0 && n < sizeof trace)
            g_tracePath = trace;
        n = GetEnvironmentVariableA("QVX_STANDIN_STATS", trace, sizeof trace);
        if (n > 0 && n < sizeof trace)
            g_statsPath = trace;
        AddConfiguredAdapters(self);
    }
    if (reason == DLL_PROCESS_DETACH) // only at process exit: the pump pins us
        g_pumpRunning.store(false);
    return TRUE;
}
