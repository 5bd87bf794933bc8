#include "j2534/probe.h"

#include <algorithm>
#include <iterator>

namespace qvx {

namespace {

// A missing entry point is a call that failed.
constexpr TPassThruStatus MissingEntryPoint = -1;

std::string StatusWord(TPassThruStatus status) {
    return status == PassThruNoError ? "OK" : "ERROR";
}

// At most the buffer's size, up to its first zero byte.
std::string BufferText(const char (&buffer)[PassThruVersionSize]) {
    size_t n = 0;
    while (n < PassThruVersionSize && buffer[n] != '\0')
        ++n;
    return std::string(buffer, n);
}

} // namespace

const char* ProbeOutcomeName(TProbeOutcome outcome) {
    switch (outcome) {
    case poNone:
        return "none";
    case poDone:
        return "done";
    case poNotRegistered:
        return "passthru_not_registered";
    case poLibraryMissing:
        return "passthru_library_missing";
    case poOpenFailed:
        return "passthru_open_failed";
    case poCloseFailed:
        break;
    }
    return "passthru_close_failed";
}

std::string ProbeOutcomeText(TProbeOutcome outcome, const std::string& device) {
    switch (outcome) {
    case poNone:
        return "No pass-thru library was probed";
    case poDone:
        return "ok";
    case poNotRegistered:
        return "No pass-thru library \"" + device + "\" is registered";
    default:
        return "The pass-thru library of \"" + device + "\" failed";
    }
}

TPassThruProbe::TPassThruProbe(TSettingsStore& settings, ILibraryLoader& libraries,
                               IProbeView& view)
    : Catalogue(settings), Libraries(libraries), View(view) {}

void TPassThruProbe::Load(const std::string& device) {
    if (Library)
        return;
    View.ClearProbeLog();
    View.AddProbeLine("Device:\t" + device);
    // An entry that is missing reads as an empty path.
    const std::string path = Catalogue.Value(device, TPassThruDevice::FunctionLibrary);
    std::string line = "DLL:\t" + path;
    // An empty path would name no library at all; the system might answer
    // it with the program itself.
    if (!path.empty())
        Library = Libraries.Load(path);
    if (!Library) {
        Failed(poLibraryMissing);
        View.AddProbeLine(line + " - ERROR");
        View.AddProbeLine("");
        return;
    }
    Api.Resolve(Libraries, Library);
    Device = 0;
    View.ShowLibraryLoaded();
    View.AddProbeLine(line);
    View.AddProbeLine("Vendor:\t" + Catalogue.Value(device, TPassThruDevice::Vendor));
    View.AddProbeLine("Name:\t" + Catalogue.Value(device, TPassThruDevice::Name));
    View.AddProbeLine("");
}

void TPassThruProbe::Unload() {
    if (!Library)
        return;
    if (Device != 0)
        Close();
    Libraries.Free(Library);
    Library = nullptr;
    Api.Forget();
    View.ShowLibraryUnloaded();
    View.AddProbeLine("Unload DLL");
    View.AddProbeLine("");
}

void TPassThruProbe::LoadOrUnload(const std::string& device) {
    if (Library)
        Unload();
    else
        Load(device);
}

void TPassThruProbe::Open() {
    if (!Library || Device != 0)
        return;
    uint32_t id = 0;
    const TPassThruStatus status =
        Api.PassThruOpen ? Api.PassThruOpen(nullptr, &id) : MissingEntryPoint;
    // Device id 0 means "none open", so a library that answers it has not
    // opened anything this program can close; the next click opens again.
    Device = status == PassThruNoError ? id : 0;
    if (Device != 0)
        View.ShowDeviceOpen();
    else
        Failed(poOpenFailed);
    View.AddProbeLine("Open Device - " + StatusWord(status));
    View.AddProbeLine("");
}

void TPassThruProbe::Close() {
    if (!Library || Device == 0)
        return;
    const TPassThruStatus status =
        Api.PassThruClose ? Api.PassThruClose(Device) : MissingEntryPoint;
    // A failed close still ends this program's use of the device.
    Device = 0;
    if (status != PassThruNoError)
        Failed(poCloseFailed);
    View.ShowDeviceClosed();
    View.AddProbeLine("Close Device - " + StatusWord(status));
    View.AddProbeLine("");
}

void TPassThruProbe::OpenOrClose() {
    if (Device == 0)
        Open();
    else
        Close();
}

void TPassThruProbe::ReadVersion() {
    if (!Library || !Api.PassThruReadVersion)
        return;
    for (auto& buffer : VersionText)
        std::fill(std::begin(buffer), std::end(buffer), '\0');
    if (Api.PassThruReadVersion(Device, VersionText[0], VersionText[1], VersionText[2]) !=
        PassThruNoError)
        return;
    View.AddProbeLine("Read Version");
    View.AddProbeLine("Firmware:\t" + BufferText(VersionText[0]));
    View.AddProbeLine("DLL:\t" + BufferText(VersionText[1]));
    View.AddProbeLine("API:\t" + BufferText(VersionText[2]));
    View.AddProbeLine("");
}

void TPassThruProbe::ReadInfo(const std::string& device) {
    LastOutcome = poDone;
    LoadOrUnload(device);
    OpenOrClose();
    ReadVersion();
    LoadOrUnload(device);
}

void TPassThruProbe::Release() {
    if (!Library)
        return;
    Libraries.Free(Library);
    Library = nullptr;
    Api.Forget();
    Device = 0;
}

} // namespace qvx
