#pragma once
// TSerDev: the one byte channel to the adapter, over a COM port or a D2XX USB
// device, with a reader and a writer thread of its own. Both kinds of port are
// driven through the same 15 entry points in Win32 form.
#include "platform/library.h"
#include "platform/userio.h"
#include "serdev/link.h"
#include "serdev/port_list_control.h"

#include <windows.h>

#include <atomic>
#include <memory>

namespace qvx {

// The 15 entry points, in this fixed order.
struct TPortFunctions {
    HANDLE(WINAPI* CreateFile)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL(WINAPI* CloseHandle)(HANDLE);
    BOOL(WINAPI* ReadFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* WriteFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    DWORD(WINAPI* GetLastError)(HANDLE); // the D2XX form takes the port handle
    BOOL(WINAPI* ClearCommError)(HANDLE, LPDWORD, LPCOMSTAT);
    BOOL(WINAPI* EscapeCommFunction)(HANDLE, DWORD);
    BOOL(WINAPI* PurgeComm)(HANDLE, DWORD);
    BOOL(WINAPI* SetCommState)(HANDLE, LPDCB);
    BOOL(WINAPI* GetCommState)(HANDLE, LPDCB);
    BOOL(WINAPI* SetupComm)(HANDLE, DWORD, DWORD);
    BOOL(WINAPI* SetCommTimeouts)(HANDLE, LPCOMMTIMEOUTS);
    BOOL(WINAPI* SetCommMask)(HANDLE, DWORD);
    BOOL(WINAPI* WaitCommEvent)(HANDLE, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* GetOverlappedResult)(HANDLE, LPOVERLAPPED, LPDWORD, BOOL);
};

constexpr int PortFunctionCount = 15;
// Entry names in table order; the D2XX library exports them as "FT_W32_" + name.
extern const char* const PortFunctionNames[PortFunctionCount];
extern const TPortFunctions SystemPortFunctions;
extern TPortFunctions D2xxPortFunctions;
// Texts of the D2XX status codes 0..18.
extern const char* const D2xxStatusTexts[19];
// The text for any status code, also outside 0..18.
const char* D2xxStatusText(long code);

// Owns one system handle and closes it exactly once, through the function it
// was given: when another handle is taken, on Reset() and when the owner ends.
// A null or invalid handle is never closed; an empty owner gives `none`.
class TOwnedHandle {
public:
    using TCloser = BOOL(WINAPI*)(HANDLE);
    explicit TOwnedHandle(HANDLE none = nullptr) : None(none), Value(none) {}
    ~TOwnedHandle() { Reset(); }
    TOwnedHandle(const TOwnedHandle&) = delete;
    TOwnedHandle& operator=(const TOwnedHandle&) = delete;

    HANDLE Get() const { return Value; }
    bool Valid() const { return Value != nullptr && Value != INVALID_HANDLE_VALUE; }
    // Closes the handle held so far, then holds `value`.
    void Reset(HANDLE value = nullptr, TCloser closer = &::CloseHandle) {
        const HANDLE old = Value;
        const TCloser oldCloser = Closer;
        const bool taken = value != nullptr && value != INVALID_HANDLE_VALUE;
        Value = taken ? value : None;
        Closer = taken ? closer : nullptr;
        if (oldCloser && old != nullptr && old != INVALID_HANDLE_VALUE)
            oldCloser(old);
    }

private:
    HANDLE None;
    HANDLE Value;
    TCloser Closer = nullptr;
};

constexpr int SerDevBufferSize = 16384;
constexpr int SerDevReadWaitLimit = 65536;

class TSerDev : public IDeviceLink {
public:
    // The link owns the port-list threads (lists); its boxes go through userIo,
    // owned by the main window.
    TSerDev(IUserIo& userIo, ILibraryLoader& libraries, std::unique_ptr<IPortListControl> lists);
    ~TSerDev() override;
    TSerDev(const TSerDev&) = delete;
    TSerDev& operator=(const TSerDev&) = delete;

    void SetPortName(const Bytes& name) override { Port = name; }
    const Bytes& PortName() const override { return Port; }

    bool Open() override;
    bool Close() override;
    bool IsOpen() const override { return Handle.Valid(); }
    // The reader has found the device gone: its receive-event waits kept
    // failing, with nothing received between. Cleared by Open and Close.
    bool Lost() override { return IsOpen() && Reader.Lost.load(); }
    void Purge(bool input, bool output);
    bool Write(const Bytes& bytes) override;
    int32_t InputCount() override;
    int32_t OutputCount() override;
    bool ReadAvailable(Bytes& text) override;
    bool ReadWait(Bytes& text, uint32_t idleMs, uint32_t totalMs = 0) override;
    void ReadLineState() override;
    void ApplyLineState();
    uint8_t ByteSize() const { return LineState.ByteSize; }
    uint8_t SetByteSize(uint8_t bits) override;
    void ReportError(const Bytes& caption, const Bytes& message);

    void RequestUsbRescan() override;
    void PauseLists();
    void ResumeLists();
    void GetPortLists(TPortLists& lists) override;

    int32_t LastError = 0;
    const DCB& CurrentLineState() const { return LineState; }

    // Parameter blocks of the I/O threads; each thread touches only its own.
    // The blocks own the signals and the thread handles; the port is the
    // link's, and the writer borrows the reader's StopSignal.
    struct TReaderBlock {
        HANDLE Port = INVALID_HANDLE_VALUE;
        const TPortFunctions* Functions = nullptr;
        TOwnedHandle StopSignal;
        TOwnedHandle Thread;
        TOwnedHandle Completion;
        TOwnedHandle DataArrived;
        TOwnedHandle BufferReleased;
        // The record and the event mask of the pending operation live here,
        // not on the thread's stack: a thread ended by force may leave a
        // receive-event wait behind that completes later.
        OVERLAPPED Overlapped{};
        DWORD EventMask = 0;
        DWORD ReadCount = 0; // where a library may write a read's count
        char* RxBuffer = nullptr;
        std::atomic<int32_t> RxFill{0};
        std::atomic<int32_t> RxPos{0};
        std::atomic<bool> Lost{false};
    };
    struct TWriterBlock {
        HANDLE Port = INVALID_HANDLE_VALUE;
        const TPortFunctions* Functions = nullptr;
        HANDLE StopSignal = nullptr;
        TOwnedHandle Thread;
        TOwnedHandle Completion;
        TOwnedHandle ChunkReady;
        TOwnedHandle ChunkDone;
        OVERLAPPED Overlapped{};
        DWORD WriteCount = 0; // where a library may write a write's count
        char* TxBuffer = nullptr;
        std::atomic<int32_t> TxPending{0};
    };

private:
    void ReleaseConsumedBuffer();
    void RefreshCounts();
    bool LoadD2xx();
    void ReportOpenFailure(const Bytes& message);
    // The one pause of the list threads that an open link holds, and its one
    // resume; a resume without a pause does nothing.
    void HoldLists();
    void ReleaseLists();

    IUserIo& UserIo;
    ILibraryLoader& Libraries;
    std::unique_ptr<IPortListControl> Lists;
    Bytes Port;
    TReaderBlock Reader;
    TWriterBlock Writer;
    int32_t InCount = 0;
    int32_t OutCount = 0;
    DCB LineState{};
    // Closed through the entry table it was opened with.
    TOwnedHandle Handle{INVALID_HANDLE_VALUE};
    bool ListsHeld = false;
    const TPortFunctions* Functions = nullptr;
    LibraryHandle D2xxLibrary = nullptr;
    // The buffers live as long as the link, so that a thread ended by force
    // never leaves a pending operation writing into freed memory.
    std::unique_ptr<char[]> RxStorage;
    std::unique_ptr<char[]> TxStorage;
};

} // namespace qvx
