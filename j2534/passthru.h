#pragma once
// SAE J2534-1 (04.04) pass-thru libraries as this program sees them: the
// registry catalogue that lists them, the 14 entry points a library exports
// by name, and the maker's own library with its version marker.
#include "platform/callconv.h"
#include "platform/library.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace qvx {

// The catalogue below HKEY_LOCAL_MACHINE; one subkey per device.
extern const char* const PassThruCatalogue;
// The maker's own device entry.
extern const char* const MakerPassThruDevice;
// File name of the maker's library in the system folder.
extern const char* const MakerPassThruFile;

// One device entry of the catalogue: the subkey's name and its values. The
// entry lives only in the registry; these are the value names.
struct TPassThruDevice {
    static constexpr const char* Vendor = "Vendor";
    static constexpr const char* Name = "Name";
    static constexpr const char* FunctionLibrary = "FunctionLibrary";
    static constexpr const char* ConfigApplication = "ConfigApplication";
};

// The protocol flags of the maker's entry, in the order they are written.
struct TPassThruProtocolFlag {
    const char* Name;
    int32_t Value;
};
constexpr size_t PassThruProtocolCount = 20;
extern const TPassThruProtocolFlag PassThruProtocolTable[PassThruProtocolCount];

// J2534 status of every call; 0 is STATUS_NOERROR.
using TPassThruStatus = int32_t;
constexpr TPassThruStatus PassThruNoError = 0;
// Size of each version text buffer of PassThruReadVersion.
constexpr size_t PassThruVersionSize = 80;

// The 14 entry points of a pass-thru library, resolved by name. Messages and
// IOCTL data are passed through as untyped pointers: the probe never builds
// them.
struct TPassThruApi {
    using TOpen = TPassThruStatus(QVX_STDCALL*)(void* name, uint32_t* deviceId);
    using TClose = TPassThruStatus(QVX_STDCALL*)(uint32_t deviceId);
    using TConnect = TPassThruStatus(QVX_STDCALL*)(uint32_t deviceId, uint32_t protocol,
                                                   uint32_t flags, uint32_t baudRate,
                                                   uint32_t* channelId);
    using TDisconnect = TPassThruStatus(QVX_STDCALL*)(uint32_t channelId);
    using TMsgs = TPassThruStatus(QVX_STDCALL*)(uint32_t channelId, void* msgs, uint32_t* count,
                                                uint32_t timeout);
    using TStartPeriodic = TPassThruStatus(QVX_STDCALL*)(uint32_t channelId, void* msg,
                                                         uint32_t* msgId, uint32_t interval);
    using TStopById = TPassThruStatus(QVX_STDCALL*)(uint32_t channelId, uint32_t id);
    using TStartFilter = TPassThruStatus(QVX_STDCALL*)(uint32_t channelId, uint32_t type,
                                                       void* mask, void* pattern, void* flowControl,
                                                       uint32_t* filterId);
    using TSetVoltage = TPassThruStatus(QVX_STDCALL*)(uint32_t deviceId, uint32_t pin,
                                                      uint32_t voltage);
    using TReadVersion = TPassThruStatus(QVX_STDCALL*)(uint32_t deviceId, char* firmware,
                                                       char* library, char* api);
    using TGetLastError = TPassThruStatus(QVX_STDCALL*)(char* description);
    using TIoctl = TPassThruStatus(QVX_STDCALL*)(uint32_t channelId, uint32_t ioctlId, void* input,
                                                 void* output);

    TOpen PassThruOpen = nullptr;
    TClose PassThruClose = nullptr;
    TConnect PassThruConnect = nullptr;
    TDisconnect PassThruDisconnect = nullptr;
    TMsgs PassThruReadMsgs = nullptr;
    TMsgs PassThruWriteMsgs = nullptr;
    TStartPeriodic PassThruStartPeriodicMsg = nullptr;
    TStopById PassThruStopPeriodicMsg = nullptr;
    TStartFilter PassThruStartMsgFilter = nullptr;
    TStopById PassThruStopMsgFilter = nullptr;
    TSetVoltage PassThruSetProgrammingVoltage = nullptr;
    TReadVersion PassThruReadVersion = nullptr;
    TGetLastError PassThruGetLastError = nullptr;
    TIoctl PassThruIoctl = nullptr;

    // Every entry point of lib by name, in the library's table order; a
    // missing one stays null.
    void Resolve(ILibraryLoader& loader, LibraryHandle lib);
    void Forget() { *this = TPassThruApi(); }
};

// The version text of the maker's library: the bytes after the first "MkdV"
// up to the next zero byte or the end; "" without the marker.
std::string FindDllVersion(const char* bytes, size_t count);

} // namespace qvx
