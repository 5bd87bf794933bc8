#include "j2534/passthru.h"

#include <cstring>

namespace qvx {

const char* const PassThruCatalogue = "\\SOFTWARE\\PassThruSupport.04.04";
const char* const MakerPassThruDevice = "Morveklink - Quorvelix";
const char* const MakerPassThruFile = "mvpass32.dll";

const TPassThruProtocolFlag PassThruProtocolTable[PassThruProtocolCount] = {
    {"CAN", 1},         {"CAN_PS", 1},         {"ISO15765", 1},       {"ISO15765_PS", 1},
    {"SW_CAN_PS", 1},   {"SW_ISO15765_PS", 1}, {"J1850PWM", 1},       {"J1850PWM_PS", 1},
    {"J1850VPW", 1},    {"J1850VPW_PS", 1},    {"ISO9141", 1},        {"ISO9141_PS", 1},
    {"ISO14230", 1},    {"ISO14230_PS", 1},    {"HONDA_DIAGH_PS", 1}, {"SCI_A_ENGINE", 0},
    {"SCI_A_TRANS", 0}, {"SCI_B_ENGINE", 0},   {"SCI_B_TRANS", 0},    {"UART_ECHO_BYTE_PS", 1},
};

void TPassThruApi::Resolve(ILibraryLoader& loader, LibraryHandle lib) {
    PassThruOpen = ResolveAs<TOpen>(loader, lib, "PassThruOpen");
    PassThruClose = ResolveAs<TClose>(loader, lib, "PassThruClose");
    PassThruConnect = ResolveAs<TConnect>(loader, lib, "PassThruConnect");
    PassThruDisconnect = ResolveAs<TDisconnect>(loader, lib, "PassThruDisconnect");
    PassThruReadMsgs = ResolveAs<TMsgs>(loader, lib, "PassThruReadMsgs");
    PassThruWriteMsgs = ResolveAs<TMsgs>(loader, lib, "PassThruWriteMsgs");
    PassThruStartPeriodicMsg = ResolveAs<TStartPeriodic>(loader, lib, "PassThruStartPeriodicMsg");
    PassThruStopPeriodicMsg = ResolveAs<TStopById>(loader, lib, "PassThruStopPeriodicMsg");
    PassThruStartMsgFilter = ResolveAs<TStartFilter>(loader, lib, "PassThruStartMsgFilter");
    PassThruStopMsgFilter = ResolveAs<TStopById>(loader, lib, "PassThruStopMsgFilter");
    PassThruSetProgrammingVoltage =
        ResolveAs<TSetVoltage>(loader, lib, "PassThruSetProgrammingVoltage");
    PassThruReadVersion = ResolveAs<TReadVersion>(loader, lib, "PassThruReadVersion");
    PassThruGetLastError = ResolveAs<TGetLastError>(loader, lib, "PassThruGetLastError");
    PassThruIoctl = ResolveAs<TIoctl>(loader, lib, "PassThruIoctl");
}

std::string FindDllVersion(const char* bytes, size_t count) {
    static const char Marker[] = "MkdV";
    const size_t markerSize = sizeof Marker - 1;
    if (!bytes || count < markerSize)
        return std::string();
    for (size_t i = 0; i + markerSize <= count; ++i) {
        if (std::memcmp(bytes + i, Marker, markerSize) != 0)
            continue;
        const size_t from = i + markerSize;
        size_t end = from;
        while (end < count && bytes[end] != '\0')
            ++end;
        return std::string(bytes + from, end - from);
    }
    return std::string();
}

} // namespace qvx
