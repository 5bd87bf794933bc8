#pragma once
// What the benchmarks of the real program read about its process from
// outside: kernel handles, GDI and USER objects, private memory and CPU time.
#include "bench/wall_clock.h"

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace qvx::bench {

struct TProcessFigures {
    DWORD Handles = 0;
    DWORD GdiObjects = 0;
    DWORD UserObjects = 0;
    uint64_t PrivateBytes = 0;
    bool Ok = false;
    // Handles by object type number, when they come from the handle list.
    std::map<int, DWORD> HandleTypes;
    // Where each figure came from when the documented call gave nothing.
    std::string Sources;
};

// The process of a window, opened for the queries below; null on failure.
inline HANDLE OpenProcessOf(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid ? OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid) : nullptr;
}

// ---- what Wine does not answer through the documented calls ----
//
// Under Wine 8, GetProcessHandleCount succeeds with 0, GetProcessMemoryInfo
// leaves PrivateUsage at 0 and GetGuiResources is not implemented
// (ERROR_CALL_NOT_IMPLEMENTED). The same facts come from elsewhere there: the
// handles from the system's handle list (SystemHandleInformation),
// the private bytes from PagefileUsage (the commit charge, which Windows
// reports as PrivateUsage too), the GDI objects from the process's GDI handle
// table and the USER objects as the process's windows.

using TNtQuerySystemInformation = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
using TNtQueryInformationProcess = LONG(WINAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);

inline void* NtEntry(const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), name));
}

// The process's handles in the system's handle list
// (SystemHandleInformation: a count, then 16-byte records that start with
// the owner's process id).
inline bool ListedHandles(DWORD pid, DWORD& count, std::map<int, DWORD>* byType = nullptr) {
    auto query = reinterpret_cast<TNtQuerySystemInformation>(NtEntry("NtQuerySystemInformation"));
    if (!query)
        return false;
    std::vector<unsigned char> buffer(1 << 22);
    ULONG length = 0;
    if (query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &length) != 0)
        return false;
    ULONG records = 0;
    std::memcpy(&records, buffer.data(), 4);
    if (4 + size_t(records) * 16 > buffer.size())
        return false;
    count = 0;
    for (ULONG i = 0; i < records; ++i) {
        ULONG owner = 0;
        std::memcpy(&owner, buffer.data() + 4 + size_t(i) * 16, 4);
        if (owner != pid)
            continue;
        ++count;
        if (byType) // the object type's number follows the owner
            ++(*byType)[buffer[4 + size_t(i) * 16 + 4]];
    }
    return true;
}

// The used entries of Wine's GDI handle table, which the process's PEB
// points at (GdiSharedHandleTable): 65536 entries of 24 bytes, the object
// type at byte 14, 0 for a free entry.
inline bool WineGdiObjects(HANDLE process, DWORD& count) {
    auto query = reinterpret_cast<TNtQueryInformationProcess>(NtEntry("NtQueryInformationProcess"));
    if (!query || !GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version"))
        return false;
    struct {
        LONG ExitStatus;
        void* PebBaseAddress;
        ULONG_PTR Rest[4];
    } basic{};
    ULONG length = 0;
    if (query(process, 0, &basic, sizeof basic, &length) != 0)
        return false;
    DWORD table = 0;
    SIZE_T got = 0;
    if (!ReadProcessMemory(process, static_cast<char*>(basic.PebBaseAddress) + 0x94, &table,
                           sizeof table, &got) ||
        table == 0)
        return false;
    constexpr size_t EntrySize = 24, Entries = 65536, TypeOffset = 14;
    std::vector<unsigned char> entries(EntrySize * Entries);
    if (!ReadProcessMemory(process, reinterpret_cast<void*>(static_cast<ULONG_PTR>(table)),
                           entries.data(), entries.size(), &got) ||
        got != entries.size())
        return false;
    count = 0;
    for (size_t i = 0; i < Entries; ++i)
        count += entries[i * EntrySize + TypeOffset] != 0;
    return true;
}

struct TWindowCount {
    DWORD Pid;
    DWORD Count = 0;
};

inline BOOL CALLBACK CountChild(HWND, LPARAM param) {
    ++reinterpret_cast<TWindowCount*>(param)->Count;
    return TRUE;
}

inline BOOL CALLBACK CountTopLevel(HWND window, LPARAM param) {
    auto* count = reinterpret_cast<TWindowCount*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == count->Pid) {
        ++count->Count;
        EnumChildWindows(window, CountChild, param);
    }
    return TRUE;
}

// Every window of the process: top-level ones, message-only ones and all
// their descendants.
inline DWORD WindowsOf(DWORD pid) {
    TWindowCount count{pid};
    EnumWindows(CountTopLevel, reinterpret_cast<LPARAM>(&count));
    for (HWND w = FindWindowExA(HWND_MESSAGE, nullptr, nullptr, nullptr); w;
         w = FindWindowExA(HWND_MESSAGE, w, nullptr, nullptr))
        CountTopLevel(w, reinterpret_cast<LPARAM>(&count));
    return count.Count;
}

inline TProcessFigures ReadFigures(HANDLE process) {
    TProcessFigures f;
    const DWORD pid = GetProcessId(process);
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    f.Ok = GetProcessHandleCount(process, &f.Handles) &&
           GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                                sizeof memory);
    if (f.Ok && f.Handles == 0) {
        f.Ok = ListedHandles(pid, f.Handles, &f.HandleTypes);
        f.Sources += " handles: the system's handle list;";
    }
    f.PrivateBytes = memory.PrivateUsage;
    if (f.PrivateBytes == 0) {
        f.PrivateBytes = memory.PagefileUsage;
        f.Sources += " private memory: PagefileUsage;";
    }
    SetLastError(0);
    f.GdiObjects = GetGuiResources(process, GR_GDIOBJECTS);
    if (f.GdiObjects == 0 && GetLastError() == ERROR_CALL_NOT_IMPLEMENTED) {
        f.Ok = WineGdiObjects(process, f.GdiObjects) && f.Ok;
        f.Sources += " GDI: Wine's GDI handle table;";
    }
    SetLastError(0);
    f.UserObjects = GetGuiResources(process, GR_USEROBJECTS);
    if (f.UserObjects == 0 && GetLastError() == ERROR_CALL_NOT_IMPLEMENTED) {
        f.UserObjects = WindowsOf(pid);
        f.Sources += " USER: the process's windows;";
    }
    f.Ok = f.Ok && f.PrivateBytes > 0;
    return f;
}

inline void PrintFigures(const char* when, const TProcessFigures& f) {
    std::fprintf(stderr, "%-22s handles %lu, GDI %lu, USER %lu, private %.1f KiB\n", when,
                 static_cast<unsigned long>(f.Handles), static_cast<unsigned long>(f.GdiObjects),
                 static_cast<unsigned long>(f.UserObjects),
                 static_cast<double>(f.PrivateBytes) / 1024.0);
}

inline uint64_t FileTimeValue(const FILETIME& t) {
    return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

// Kernel plus user time of the process so far, in 100 ns units.
inline uint64_t CpuTime(HANDLE process) {
    FILETIME created, ended, kernel, user;
    if (!GetProcessTimes(process, &created, &ended, &kernel, &user))
        return 0;
    return FileTimeValue(kernel) + FileTimeValue(user);
}

struct TThreadTime {
    DWORD Id = 0;
    uint64_t Cpu = 0; // 100 ns units
};

// Kernel plus user time of each thread of the process.
inline std::vector<TThreadTime> ThreadTimes(DWORD pid) {
    std::vector<TThreadTime> times;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return times;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != pid)
            continue;
        TThreadTime t;
        t.Id = entry.th32ThreadID;
        if (HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, t.Id)) {
            FILETIME created, ended, kernel, user;
            if (GetThreadTimes(thread, &created, &ended, &kernel, &user))
                t.Cpu = FileTimeValue(kernel) + FileTimeValue(user);
            CloseHandle(thread);
        }
        times.push_back(t);
    }
    CloseHandle(snapshot);
    return times;
}

// The positive number an environment variable holds, else `normal`: the
// benchmarks of the real program take shorter runs that way.
inline DWORD PositiveFromEnvironment(const char* variable, DWORD normal) {
    char text[16];
    const DWORD n = GetEnvironmentVariableA(variable, text, sizeof text);
    const long value = n > 0 && n < sizeof text ? std::strtol(text, nullptr, 10) : 0;
    return value > 0 ? static_cast<DWORD>(value) : normal;
}

} // namespace qvx::bench
