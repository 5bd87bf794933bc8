// Stand-in SAE J2534-1 (04.04) pass-thru library for tests and the demo. It
// has no vehicle behind it: PassThruOpen hands out one device id, the version
// texts come from its configuration, and every message function answers
// ERR_NOT_SUPPORTED. It carries its version text after the marker "MkdV", as
// the maker's library does, so that the program's version check finds it.
//
// Configuration: "key=value" pairs separated by ';', from the environment
// variable QVX_PASSTHRU_CONFIG when the library loads, or from a test through
// QvxPassThru_Configure. Keys: open, close, version (status codes those
// calls return; 0 = success), id (device id PassThruOpen hands out),
// firmware, dll, api (the texts PassThruReadVersion returns; dll defaults to
// the text after the marker). Unknown keys are ignored.
//
// Deliberately free of the C++ library and the C run-time's string
// functions: the library travels inside the adapter's reply, which is small.
#include <windows.h>

#include <cstdint>

// The build passes the version; this is the one the simulated adapter offers.
#ifndef QVX_PASSTHRU_VERSION
#define QVX_PASSTHRU_VERSION "105"
#endif

namespace {

typedef int32_t TStatus;
const TStatus StatusNoError = 0x00;
const TStatus ErrNotSupported = 0x01;
const TStatus ErrNullParameter = 0x04;
const TStatus ErrInvalidDeviceId = 0x1A;

// The version marker the program searches for; the text after it is this
// library's version.
const char VersionMarker[] = "MkdV" QVX_PASSTHRU_VERSION;
const unsigned MarkerLength = 4;
const unsigned TextSize = 80;
const int EntryCount = 14;

struct TConfig {
    TStatus OpenStatus;
    TStatus CloseStatus;
    TStatus VersionStatus;
    uint32_t DeviceId;
    char Firmware[TextSize];
    char Library[TextSize];
    char Api[TextSize];
};

TConfig g_config;
uint32_t g_openId = 0; // 0 = no device open
long g_calls[EntryCount];
TStatus g_lastError = StatusNoError;

void CopyText(char* to, const char* from, unsigned capacity) {
    unsigned i = 0;
    for (; from[i] != '\0' && i + 1 < capacity; ++i)
        to[i] = from[i];
    to[i] = '\0';
}

bool SameText(const char* a, unsigned length, const char* b) {
    unsigned i = 0;
    for (; i < length; ++i)
        if (b[i] == '\0' || a[i] != b[i])
            return false;
    return b[i] == '\0';
}

// Decimal or 0x-prefixed hex; stops at the first other character.
uint32_t Number(const char* text, unsigned length) {
    uint32_t value = 0;
    unsigned i = 0;
    unsigned base = 10;
    if (length > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        i = 2;
    }
    for (; i < length; ++i) {
        char c = text[i];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            break;
        value = value * base + digit;
    }
    return value;
}

void SetText(char* to, const char* from, unsigned length) {
    unsigned n = length < TextSize - 1 ? length : TextSize - 1;
    for (unsigned i = 0; i < n; ++i)
        to[i] = from[i];
    to[n] = '\0';
}

void Defaults() {
    g_config.OpenStatus = StatusNoError;
    g_config.CloseStatus = StatusNoError;
    g_config.VersionStatus = StatusNoError;
    g_config.DeviceId = 1;
    CopyText(g_config.Firmware, "2.31", TextSize);
    CopyText(g_config.Library, VersionMarker + MarkerLength, TextSize);
    CopyText(g_config.Api, "04.04", TextSize);
    g_openId = 0;
    g_lastError = StatusNoError;
    for (long& n : g_calls)
        n = 0;
}

void Apply(const char* text) {
    const char* p = text;
    while (*p != '\0') {
        const char* key = p;
        while (*p != '\0' && *p != '=' && *p != ';')
            ++p;
        unsigned keyLength = static_cast<unsigned>(p - key);
        const char* value = p;
        unsigned valueLength = 0;
        if (*p == '=') {
            value = ++p;
            while (*p != '\0' && *p != ';')
                ++p;
            valueLength = static_cast<unsigned>(p - value);
        }
        if (*p == ';')
            ++p;
        if (SameText(key, keyLength, "open"))
            g_config.OpenStatus = static_cast<TStatus>(Number(value, valueLength));
        else if (SameText(key, keyLength, "close"))
            g_config.CloseStatus = static_cast<TStatus>(Number(value, valueLength));
        else if (SameText(key, keyLength, "version"))
            g_config.VersionStatus = static_cast<TStatus>(Number(value, valueLength));
        else if (SameText(key, keyLength, "id"))
            g_config.DeviceId = Number(value, valueLength);
        else if (SameText(key, keyLength, "firmware"))
            SetText(g_config.Firmware, value, valueLength);
        else if (SameText(key, keyLength, "dll"))
            SetText(g_config.Library, value, valueLength);
        else if (SameText(key, keyLength, "api"))
            SetText(g_config.Api, value, valueLength);
    }
}

TStatus Result(int entry, TStatus status) {
    ++g_calls[entry];
    g_lastError = status;
    return status;
}

} // namespace

extern "C" {

TStatus WINAPI PassThruOpen(void* name, uint32_t* deviceId) {
    (void)name;
    if (!deviceId)
        return Result(0, ErrNullParameter);
    if (g_config.OpenStatus != StatusNoError)
        return Result(0, g_config.OpenStatus);
    g_openId = g_config.DeviceId;
    *deviceId = g_openId;
    return Result(0, StatusNoError);
}

TStatus WINAPI PassThruClose(uint32_t deviceId) {
    if (g_config.CloseStatus != StatusNoError)
        return Result(1, g_config.CloseStatus);
    if (g_openId == 0 || deviceId != g_openId)
        return Result(1, ErrInvalidDeviceId);
    g_openId = 0;
    return Result(1, StatusNoError);
}

TStatus WINAPI PassThruConnect(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t*) {
    return Result(2, ErrNotSupported);
}

TStatus WINAPI PassThruDisconnect(uint32_t) {
    return Result(3, ErrNotSupported);
}

TStatus WINAPI PassThruReadMsgs(uint32_t, void*, uint32_t*, uint32_t) {
    return Result(4, ErrNotSupported);
}

TStatus WINAPI PassThruWriteMsgs(uint32_t, void*, uint32_t*, uint32_t) {
    return Result(5, ErrNotSupported);
}

TStatus WINAPI PassThruStartPeriodicMsg(uint32_t, void*, uint32_t*, uint32_t) {
    return Result(6, ErrNotSupported);
}

TStatus WINAPI PassThruStopPeriodicMsg(uint32_t, uint32_t) {
    return Result(7, ErrNotSupported);
}

TStatus WINAPI PassThruStartMsgFilter(uint32_t, uint32_t, void*, void*, void*, uint32_t*) {
    return Result(8, ErrNotSupported);
}

TStatus WINAPI PassThruStopMsgFilter(uint32_t, uint32_t) {
    return Result(9, ErrNotSupported);
}

TStatus WINAPI PassThruSetProgrammingVoltage(uint32_t, uint32_t, uint32_t) {
    return Result(10, ErrNotSupported);
}

TStatus WINAPI PassThruReadVersion(uint32_t deviceId, char* firmware, char* library, char* api) {
    if (!firmware || !library || !api)
        return Result(11, ErrNullParameter);
    if (g_config.VersionStatus != StatusNoError)
        return Result(11, g_config.VersionStatus);
    if (g_openId == 0 || deviceId != g_openId)
        return Result(11, ErrInvalidDeviceId);
    CopyText(firmware, g_config.Firmware, TextSize);
    CopyText(library, g_config.Library, TextSize);
    CopyText(api, g_config.Api, TextSize);
    return Result(11, StatusNoError);
}

TStatus WINAPI PassThruGetLastError(char* description) {
    ++g_calls[12];
    if (!description)
        return ErrNullParameter;
    CopyText(description, g_lastError == StatusNoError ? "No error" : "Stand-in call failed",
             TextSize);
    return StatusNoError;
}

TStatus WINAPI PassThruIoctl(uint32_t, uint32_t, void*, void*) {
    return Result(13, ErrNotSupported);
}

// Test control: back to the defaults, then the pairs of text (may be null).
void __cdecl QvxPassThru_Configure(const char* text) {
    Defaults();
    if (text)
        Apply(text);
}

// Test control: how often entry point number index (0-based, in the order
// above) was called since the last configuration; -1 for a bad index.
long __cdecl QvxPassThru_Calls(int index) {
    return index >= 0 && index < EntryCount ? g_calls[index] : -1;
}

} // extern "C"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        Defaults();
        char text[512];
        DWORD n = GetEnvironmentVariableA("QVX_PASSTHRU_CONFIG", text, sizeof text);
        if (n > 0 && n < sizeof text)
            Apply(text);
    }
    return TRUE;
}
