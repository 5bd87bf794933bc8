#pragma once
// The pass-thru library probe: loads the library of a catalogue device,
// resolves its entry points, opens and closes the device, reads its version
// texts, and says line by line what happened. At most one library is loaded
// at a time. GUI thread only; the library calls are made synchronously.
#include "j2534/catalogue.h"
#include "j2534/passthru.h"
#include "platform/library.h"
#include "platform/settings.h"

#include <cstdint>
#include <string>

namespace qvx {

// What the probe shows: its log and the state of its buttons.
class IProbeView {
public:
    virtual ~IProbeView() = default;
    // The log is emptied at each load; otherwise lines are only added.
    virtual void ClearProbeLog() = 0;
    virtual void AddProbeLine(const std::string& line) = 0;
    // A library is loaded: Load reads "Unload", the device list and Refresh
    // are off, Open is on.
    virtual void ShowLibraryLoaded() = 0;
    // No library: Open and Version are off, Load reads "Load", the device
    // list and Refresh are on.
    virtual void ShowLibraryUnloaded() = 0;
    // A device is open: Open reads "Close", Version is on.
    virtual void ShowDeviceOpen() = 0;
    // No device open: Version is off, Open reads "Open".
    virtual void ShowDeviceClosed() = 0;
};

// How a probe of a catalogue device ended.
enum TProbeOutcome {
    poNone,           // no probe has run
    poDone,           // the library loaded and its device opened and closed
    poNotRegistered,  // the catalogue has no such device
    poLibraryMissing, // the device's library does not load
    poOpenFailed,     // the library opened no device
    poCloseFailed,    // the library failed to close its device
};

// "done", "passthru_not_registered", ... : the outcome's name in scripts.
const char* ProbeOutcomeName(TProbeOutcome outcome);
// What happened to the probe of device, in a sentence.
std::string ProbeOutcomeText(TProbeOutcome outcome, const std::string& device);

class TPassThruProbe {
public:
    TPassThruProbe(TSettingsStore& settings, ILibraryLoader& libraries, IProbeView& view);
    TPassThruProbe(const TPassThruProbe&) = delete;
    TPassThruProbe& operator=(const TPassThruProbe&) = delete;

    bool Loaded() const { return Library != nullptr; }
    // The id PassThruOpen gave; 0 = no device open.
    uint32_t DeviceId() const { return Device; }

    // Loads the library of the catalogue entry device (nothing while one is
    // loaded); the log starts again with the device, its library path and,
    // when it loaded, its vendor and name, or " - ERROR" after the path.
    void Load(const std::string& device);
    // Closes an open device first, then lets the library go.
    void Unload();
    // The Load button: Load when nothing is loaded, else Unload.
    void LoadOrUnload(const std::string& device);
    // Opens the library's default device; only with a library loaded and no
    // device open. A library that answers id 0 has opened nothing.
    void Open();
    // Closes the open device; after a failed close it counts as closed.
    void Close();
    // The Open button: Open when no device is open, else Close.
    void OpenOrClose();
    // Reads and logs the three version texts; a failed call logs nothing.
    void ReadVersion();
    // "Read Info": LoadOrUnload, OpenOrClose, ReadVersion, LoadOrUnload, each
    // on the state the step before left. Outcome tells its first failure.
    void ReadInfo(const std::string& device);
    // How the last ReadInfo ended; poNone before the first.
    TProbeOutcome Outcome() const { return LastOutcome; }
    // At program close: the library is let go without closing its device and
    // without a word in the log.
    void Release();

private:
    // A step failed: the first failure of a ReadInfo is its outcome.
    void Failed(TProbeOutcome outcome) {
        if (LastOutcome == poDone)
            LastOutcome = outcome;
    }

    TPassThruCatalogue Catalogue;
    ILibraryLoader& Libraries;
    IProbeView& View;

    LibraryHandle Library = nullptr;
    TPassThruApi Api;
    uint32_t Device = 0;
    TProbeOutcome LastOutcome = poNone;
    // Firmware, library and API texts of PassThruReadVersion.
    char VersionText[3][PassThruVersionSize] = {};
};

} // namespace qvx
