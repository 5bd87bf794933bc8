#include "serdev/win32/Serdev.h"

#include "serdev/d2xx.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace qvx {

namespace {

DWORD WINAPI SystemGetLastError(HANDLE) {
    return ::GetLastError();
}

constexpr DWORD D2xxOpenBySerialNumber = 1;
// How long Close waits for the I/O threads to end after the stop signal
// before it ends them by force. Every wait of theirs ends on that signal, so
// only a thread stuck inside the port's library comes near it; ending one
// there can leave the library's own lock held, so it is the last resort.
constexpr DWORD ThreadStopWaitMs = 2000;
constexpr DWORD ClosePauseMs = 100;
constexpr DWORD ChunkHandOverMs = 1000;
// Back-off before a failed receive-event wait is issued again, so that a port
// that fails at once (a device pulled out) does not keep a core busy.
constexpr DWORD ReaderRetryMs = 10;
// Receive-event waits or reads that fail one after another, with no
// operation completing between them, before the device counts as gone. A
// live port fails one now and then (a mask change, a line error that the
// port's error state then holds until it is cleared, which the reader does
// after every failure) and then works again; a pulled-out device fails every
// one at once, whatever its error code (about 10 ms apart here, so it counts
// as gone after about 100 ms).
constexpr int LostAfterFailures = 10;

bool WaitStopOr(HANDLE stop, HANDLE other, bool& stopped) {
    HANDLE handles[2] = {stop, other};
    DWORD r = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    stopped = r == WAIT_OBJECT_0;
    return r == WAIT_OBJECT_0 + 1;
}

// Waits for an overlapped operation on the port to complete, or for the stop
// signal; on completion, its result. `stopped` tells the stop signal.
bool AwaitResult(HANDLE port, OVERLAPPED& ov, HANDLE stop, DWORD& count, bool& stopped) {
    count = 0;
    if (!WaitStopOr(stop, ov.hEvent, stopped))
        return false;
    return GetOverlappedResult(port, &ov, &count, FALSE) != FALSE;
}

void ResetOverlapped(OVERLAPPED& ov, HANDLE event) {
    std::memset(&ov, 0, sizeof ov);
    ov.hEvent = event;
}

DWORD WINAPI ReaderThread(LPVOID param) {
    auto* block = static_cast<TSerDev::TReaderBlock*>(param);
    const TPortFunctions& f = *block->Functions;
    HANDLE port = block->Port;
    HANDLE stop = block->StopSignal.Get();
    // The reader's own view of the fill: the consumer resets the shared value
    // only while the reader waits for BufferReleased.
    int32_t fill = 0;
    int failures = 0;
    bool stopped = false;
    // A failed wait or read: counts towards a lost device; a failure that
    // repeats backs off before the next try. False when the stop came.
    auto failed = [&]() {
        DWORD errors = 0;
        COMSTAT status{};
        f.ClearCommError(port, &errors, &status);
        if (++failures >= LostAfterFailures && !block->Lost.exchange(true))
            SetEvent(block->DataArrived.Get()); // a waiting reader learns it at once
        if (failures > 1 && WaitForSingleObject(stop, ReaderRetryMs) == WAIT_OBJECT_0) {
            stopped = true;
            return false;
        }
        return true;
    };
    for (;;) {
        OVERLAPPED& ov = block->Overlapped;
        ResetOverlapped(ov, block->Completion.Get());
        DWORD& mask = block->EventMask;
        mask = 0;
        DWORD transferred = 0;
        if (!f.WaitCommEvent(port, &mask, &ov) && ::GetLastError() != ERROR_IO_PENDING) {
            if (failed())
                continue;
            break;
        }
        if (!AwaitResult(port, ov, stop, transferred, stopped)) {
            if (stopped || !failed())
                break;
            continue;
        }
        failures = 0;
        if (transferred == 0 || (mask & EV_RXCHAR) == 0)
            continue;

        // Counts of overlapped operations come from the record; the count
        // given to the call is only where a library may write it.
        DWORD got = 0;
        ResetOverlapped(ov, block->Completion.Get());
        if (!f.ReadFile(port, block->RxBuffer + fill, static_cast<DWORD>(SerDevBufferSize - fill),
                        &block->ReadCount, &ov) &&
            ::GetLastError() != ERROR_IO_PENDING) {
            if (failed())
                continue;
            break;
        }
        if (!AwaitResult(port, ov, stop, got, stopped)) {
            if (stopped || !failed())
                break;
            continue;
        }
        if (got == 0)
            continue;
        fill += static_cast<int32_t>(got);
        block->RxFill.store(fill);
        SetEvent(block->DataArrived.Get());
        if (fill < SerDevBufferSize)
            continue;
        if (!WaitStopOr(stop, block->BufferReleased.Get(), stopped))
            break;
        fill = 0; // the consumer has set RxFill and RxPos back to 0
    }
    if (stopped)
        CancelIo(port);
    return 0;
}

DWORD WINAPI WriterThread(LPVOID param) {
    auto* block = static_cast<TSerDev::TWriterBlock*>(param);
    const TPortFunctions& f = *block->Functions;
    HANDLE port = block->Port;
    block->TxPending.store(0);
    SetEvent(block->ChunkDone.Get());
    for (;;) {
        bool stopped = false;
        if (!WaitStopOr(block->StopSignal, block->ChunkReady.Get(), stopped)) {
            if (stopped)
                CancelIo(port);
            return 0;
        }
        OVERLAPPED& ov = block->Overlapped;
        ResetOverlapped(ov, block->Completion.Get());
        const char* p = block->TxBuffer;
        bool ended = false;
        while (block->TxPending.load() > 0) {
            DWORD written = 0;
            if (!f.WriteFile(port, p, static_cast<DWORD>(block->TxPending.load()),
                             &block->WriteCount, &ov) &&
                ::GetLastError() != ERROR_IO_PENDING)
                break; // the chunk has failed; later chunks are still served
            if (!AwaitResult(port, ov, block->StopSignal, written, stopped)) {
                ended = stopped;
                break; // on failure nothing moves: give the chunk up rather than spin
            }
            if (written == 0)
                break;
            block->TxPending.fetch_sub(static_cast<int32_t>(written));
            p += written;
            ResetOverlapped(ov, block->Completion.Get());
        }
        block->TxPending.store(0);
        SetEvent(block->ChunkDone.Get());
        if (ended) {
            CancelIo(port);
            return 0;
        }
    }
}

HANDLE NewEvent(bool manualReset) {
    return CreateEventA(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr);
}

// Waits for both I/O threads to end, within one bound; ends the ones left by
// force only then.
void StopThreads(TOwnedHandle& a, TOwnedHandle& b) {
    HANDLE running[2];
    DWORD n = 0;
    for (TOwnedHandle* t : {&a, &b})
        if (t->Valid())
            running[n++] = t->Get();
    if (n > 0 && WaitForMultipleObjects(n, running, TRUE, ThreadStopWaitMs) == WAIT_TIMEOUT)
        for (DWORD i = 0; i < n; ++i)
            if (WaitForSingleObject(running[i], 0) != WAIT_OBJECT_0)
                TerminateThread(running[i], 1);
    a.Reset();
    b.Reset();
}

} // namespace

const char* const PortFunctionNames[PortFunctionCount] = {
    "CreateFile",     "CloseHandle",        "ReadFile",    "WriteFile",     "GetLastError",
    "ClearCommError", "EscapeCommFunction", "PurgeComm",   "SetCommState",  "GetCommState",
    "SetupComm",      "SetCommTimeouts",    "SetCommMask", "WaitCommEvent", "GetOverlappedResult",
};

const TPortFunctions SystemPortFunctions = {
    &::CreateFileA,        &::CloseHandle,      &::ReadFile,
    &::WriteFile,          &SystemGetLastError, &::ClearCommError,
    &::EscapeCommFunction, &::PurgeComm,        &::SetCommState,
    &::GetCommState,       &::SetupComm,        &::SetCommTimeouts,
    &::SetCommMask,        &::WaitCommEvent,    &::GetOverlappedResult,
};

TPortFunctions D2xxPortFunctions = {};

const char* const D2xxStatusTexts[19] = {
    "Success operation",
    "Invalid handle",
    "Device is not found",
    "Device is not opened",
    "IO Error",
    "Insuffient resurces",
    "Invalid parameter",
    "Invalid baud rate",
    "Device is not opened for ERASE",
    "Device is not opened for WRITE",
    "FAILED_TO_WRITE_DEVICE",
    "EEPROM_READ_FAILED",
    "EEPROM_WRITE_FAILED",
    "EEPROM_ERASE_FAILED",
    "EEPROM_NOT_PRESENT",
    "EEPROM_NOT_PROGRAMMED",
    "INVALID_ARGS",
    "NOT_SUPPORTED",
    "OTHER_ERROR",
};

const char* D2xxStatusText(long code) {
    if (code < 0 || code > 18)
        return "Unknown status";
    return D2xxStatusTexts[code];
}

TSerDev::TSerDev(IUserIo& userIo, ILibraryLoader& libraries,
                 std::unique_ptr<IPortListControl> lists)
    : UserIo(userIo), Libraries(libraries), Lists(std::move(lists)),
      RxStorage(new char[SerDevBufferSize]), TxStorage(new char[SerDevBufferSize]) {
    LineState.DCBlength = sizeof(DCB);
    Reader.RxBuffer = RxStorage.get();
    Writer.TxBuffer = TxStorage.get();
}

TSerDev::~TSerDev() {
    Close();
    Lists.reset(); // asks both list threads to end and wakes them
}

bool TSerDev::LoadD2xx() {
    if (D2xxLibrary)
        return true;
    D2xxLibrary = LoadD2xxLibrary(Libraries);
    if (!D2xxLibrary)
        return false;
    void* entries[PortFunctionCount] = {};
    for (int i = 0; i < PortFunctionCount; ++i) {
        entries[i] = Libraries.Resolve(D2xxLibrary, std::string("FT_W32_") + PortFunctionNames[i]);
        if (!entries[i]) {
            Libraries.Free(D2xxLibrary);
            D2xxLibrary = nullptr;
            return false;
        }
    }
    static_assert(sizeof(TPortFunctions) == sizeof(entries), "one pointer per entry");
    std::memcpy(&D2xxPortFunctions, entries, sizeof entries);
    return true;
}

void TSerDev::ReportOpenFailure(const Bytes& message) {
    ReportError("Open Port(" + Port + ") Error...", message);
}

bool TSerDev::Open() {
    if (IsOpen()) {
        Close();
        if (IsOpen())
            return false;
    }
    HoldLists();
    // Every way out of here without an open link resumes the lists (Close
    // already has, when a half-opened link is closed).
    struct TResumeUnlessOpen {
        TSerDev& Link;
        ~TResumeUnlessOpen() {
            if (!Link.IsOpen())
                Link.ReleaseLists();
        }
    } resumeUnlessOpen{*this};
    std::string fileName;
    DWORD extraFlag = 0;
    const std::string kind = Port.substr(0, 3);
    if (kind == "COM") {
        Functions = &SystemPortFunctions;
        fileName = "\\\\.\\" + Port;
    } else if (kind == "USB") {
        if (!LoadD2xx()) {
            ReportOpenFailure("Reinstall drivers, please.");
            return false;
        }
        Functions = &D2xxPortFunctions;
        fileName = Port.size() > 4 ? Port.substr(4, 8) : std::string();
        extraFlag = D2xxOpenBySerialNumber;
    } else {
        ReportOpenFailure("Error: Can not to open unknown device.");
        return false;
    }

    Handle.Reset(Functions->CreateFile(fileName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_OVERLAPPED | extraFlag, nullptr),
                 Functions->CloseHandle);
    const HANDLE port = Handle.Get();
    bool ok = Handle.Valid();
    if (ok) {
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = MAXDWORD;
        ok = Functions->SetCommTimeouts(port, &timeouts) && Functions->SetupComm(port, 4096, 512) &&
             Functions->SetCommMask(port, EV_RXCHAR);
    }
    // The port is purged before the threads start: nothing sent before the
    // open reaches the reader.
    if (ok)
        Purge(true, true);
    if (ok) {
        Reader.Port = port;
        Reader.Functions = Functions;
        Reader.StopSignal.Reset(NewEvent(true));
        Reader.Completion.Reset(NewEvent(true));
        Reader.DataArrived.Reset(NewEvent(false));
        Reader.BufferReleased.Reset(NewEvent(false));
        Writer.Port = port;
        Writer.Functions = Functions;
        Writer.StopSignal = Reader.StopSignal.Get();
        Writer.Completion.Reset(NewEvent(true));
        Writer.ChunkReady.Reset(NewEvent(false));
        Writer.ChunkDone.Reset(NewEvent(false));
        ok = Reader.StopSignal.Valid() && Reader.Completion.Valid() && Reader.DataArrived.Valid() &&
             Reader.BufferReleased.Valid() && Writer.Completion.Valid() &&
             Writer.ChunkReady.Valid() && Writer.ChunkDone.Valid();
    }
    if (ok) {
        Reader.RxFill.store(0);
        Reader.RxPos.store(0);
        Reader.Lost.store(false);
        Reader.Thread.Reset(CreateThread(nullptr, 0, &ReaderThread, &Reader, 0, nullptr));
        ok = Reader.Thread.Valid();
    }
    if (ok) {
        Writer.TxPending.store(0);
        Writer.Thread.Reset(CreateThread(nullptr, 0, &WriterThread, &Writer, 0, nullptr));
        ok = Writer.Thread.Valid();
    }
    if (ok)
        return true;

    ReportOpenFailure(Bytes());
    if (IsOpen())
        Close();
    else
        Functions = nullptr;
    return false;
}

bool TSerDev::Close() {
    if (!IsOpen())
        return true;
    // A chunk written just before the close still leaves: the writer gets the
    // hand-over bound to finish it before the threads are told to stop.
    if (Writer.Thread.Valid() && Writer.ChunkDone.Valid() && Writer.TxPending.load() > 0)
        WaitForSingleObject(Writer.ChunkDone.Get(), ChunkHandOverMs);
    if (Reader.StopSignal.Valid())
        SetEvent(Reader.StopSignal.Get());
    StopThreads(Writer.Thread, Reader.Thread);
    // The port goes before the signals: an operation still pending on it (a
    // receive-event wait that the system does not cancel) completes into
    // records and events that are still ours.
    Handle.Reset();
    Writer.ChunkDone.Reset();
    Writer.ChunkReady.Reset();
    Writer.Completion.Reset();
    Reader.BufferReleased.Reset();
    Reader.DataArrived.Reset();
    Reader.Completion.Reset();
    Reader.StopSignal.Reset();
    Writer.StopSignal = nullptr;
    Reader.Port = Writer.Port = INVALID_HANDLE_VALUE;
    Reader.RxFill.store(0);
    Reader.RxPos.store(0);
    Reader.Lost.store(false);
    Writer.TxPending.store(0);
    ReleaseLists();
    Functions = nullptr;
    Sleep(ClosePauseMs);
    return true;
}

void TSerDev::Purge(bool input, bool output) {
    if (!IsOpen())
        return;
    DWORD flags = 0;
    if (input) {
        flags |= PURGE_RXCLEAR;
        InCount = 0;
    }
    if (output) {
        flags |= PURGE_TXCLEAR;
        OutCount = 0;
    }
    Functions->PurgeComm(Handle.Get(), flags);
    if (input) {
        Reader.RxFill.store(0);
        Reader.RxPos.store(0);
    }
    if (output)
        Writer.TxPending.store(0);
}

bool TSerDev::Write(const Bytes& bytes) {
    if (!IsOpen())
        return bytes.empty();
    size_t offset = 0;
    while (offset < bytes.size()) {
        if (WaitForSingleObject(Writer.ChunkDone.Get(), ChunkHandOverMs) != WAIT_OBJECT_0)
            return false; // the rest is dropped
        size_t n = std::min(bytes.size() - offset, static_cast<size_t>(SerDevBufferSize));
        std::memcpy(Writer.TxBuffer, bytes.data() + offset, n);
        Writer.TxPending.store(static_cast<int32_t>(n));
        SetEvent(Writer.ChunkReady.Get());
        offset += n;
    }
    return true;
}

void TSerDev::ReleaseConsumedBuffer() {
    if (Reader.RxPos.load() == SerDevBufferSize) {
        Reader.RxFill.store(0);
        Reader.RxPos.store(0);
        SetEvent(Reader.BufferReleased.Get());
    }
}

void TSerDev::RefreshCounts() {
    if (!IsOpen()) {
        InCount = 0;
        OutCount = 0;
        return;
    }
    InCount = Reader.RxFill.load() - Reader.RxPos.load();
    ReleaseConsumedBuffer();
    OutCount = Writer.TxPending.load();
}

int32_t TSerDev::InputCount() {
    RefreshCounts();
    return InCount;
}

int32_t TSerDev::OutputCount() {
    RefreshCounts();
    return OutCount;
}

bool TSerDev::ReadAvailable(Bytes& text) {
    if (!IsOpen())
        return true;
    ReleaseConsumedBuffer();
    const int32_t pos = Reader.RxPos.load();
    const int32_t n = Reader.RxFill.load() - pos;
    if (n <= 0)
        return true;
    text.assign(Reader.RxBuffer + pos, static_cast<size_t>(n));
    Reader.RxPos.store(pos + n);
    return true;
}

bool TSerDev::ReadWait(Bytes& text, uint32_t idleMs, uint32_t totalMs) {
    Bytes collected;
    collected.reserve(SerDevReadWaitLimit);
    const ULONGLONG start = GetTickCount64();
    while (IsOpen()) {
        ReleaseConsumedBuffer();
        if (Reader.Lost.load() && Reader.RxFill.load() == Reader.RxPos.load())
            break; // nothing more comes from a device that is gone
        DWORD wait = idleMs;
        if (totalMs > 0) {
            const ULONGLONG spent = GetTickCount64() - start;
            if (spent >= totalMs)
                break;
            wait = static_cast<DWORD>(std::min<ULONGLONG>(wait, totalMs - spent));
        }
        if (WaitForSingleObject(Reader.DataArrived.Get(), wait) != WAIT_OBJECT_0)
            break;
        const int32_t pos = Reader.RxPos.load();
        int32_t n = Reader.RxFill.load() - pos;
        if (n < 1)
            continue;
        n = std::min(n, SerDevReadWaitLimit - static_cast<int32_t>(collected.size()));
        collected.append(Reader.RxBuffer + pos, static_cast<size_t>(n));
        Reader.RxPos.store(pos + n);
        if (collected.size() >= static_cast<size_t>(SerDevReadWaitLimit))
            break;
    }
    if (collected.empty())
        return false;
    text = collected;
    return true;
}

void TSerDev::ReadLineState() {
    if (IsOpen())
        Functions->GetCommState(Handle.Get(), &LineState);
}

void TSerDev::ApplyLineState() {
    if (!IsOpen())
        return;
    LineState.fParity = LineState.Parity != 0 ? 1 : 0;
    Functions->SetCommState(Handle.Get(), &LineState);
}

uint8_t TSerDev::SetByteSize(uint8_t bits) {
    LineState.ByteSize = bits;
    ApplyLineState();
    return ByteSize();
}

void TSerDev::ReportError(const Bytes& caption, const Bytes& message) {
    Bytes text = message;
    if (text.empty()) {
        const bool usb = Functions == &D2xxPortFunctions;
        DWORD code = usb ? Functions->GetLastError(Handle.Get()) : ::GetLastError();
        LastError = static_cast<int32_t>(code);
        if (code == 0)
            return;
        if (usb) {
            char buffer[160];
            std::snprintf(buffer, sizeof buffer, "USB Device Error: %d (%s)",
                          static_cast<int>(code), D2xxStatusText(static_cast<long>(code)));
            text = buffer;
        } else {
            char buffer[1008] = {};
            DWORD length =
                FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                               code, 0x0400, buffer, sizeof buffer, nullptr);
            text = "COM-port Error: " + std::string(buffer, length);
        }
    }
    UserIo.ShowBox(text, caption, mb::Ok | mb::IconInformation, TBoxOwner::MainWindow);
}

void TSerDev::RequestUsbRescan() {
    if (Lists)
        Lists->RequestUsbRescan();
}

void TSerDev::PauseLists() {
    if (Lists)
        Lists->PauseLists();
}

void TSerDev::ResumeLists() {
    if (Lists)
        Lists->ResumeLists();
}

void TSerDev::HoldLists() {
    PauseLists();
    ListsHeld = true;
}

void TSerDev::ReleaseLists() {
    if (!ListsHeld)
        return;
    ListsHeld = false;
    ResumeLists();
}

void TSerDev::GetPortLists(TPortLists& lists) {
    if (Lists)
        Lists->GetPortLists(lists);
}

} // namespace qvx
