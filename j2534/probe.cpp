// The pass-thru library probe: load the chosen device's library, open and
// close the device, read its versions, and say what happened in memJ2534.
#include "app/Unitmain.h"

#include <algorithm>
#include <iterator>
#include <memory>

namespace qvx {

namespace {

// A missing entry point is a call that failed.
constexpr TPassThruStatus MissingEntryPoint = -1;

std::string Outcome(TPassThruStatus status) {
    return status == PassThruNoError ? "OK" : "ERROR";
}

// At most the buffer's size, up to its first zero byte.
std::string BufferText(const char (&buffer)[PassThruVersionSize]) {
    size_t n = 0;
    while (n < PassThruVersionSize && buffer[n] != '\0')
        ++n;
    return std::string(buffer, n);
}

void LoadLibraryOfDevice(TfrmMain& f) {
    const std::string device = f.cbJ2534_Devices.Text();
    f.memJ2534.Clear();
    f.memJ2534.Add("Device:\t" + device);
    std::string line = "DLL:\t";
    std::unique_ptr<IRegistryKey> entry;
    if (!device.empty())
        entry = f.Platform.Registry.OpenKey(
            NormalizeRegistryPath(PassThruCatalogue) + "\\" + device, RegAccess::Read);
    std::string text;
    if (entry) {
        std::string path;
        entry->ReadString(TPassThruDevice::FunctionLibrary, path);
        line += path;
        // An empty path would name no library at all; the system might
        // answer it with the program itself.
        if (!path.empty())
            f.PassThruLib = f.Platform.Libraries.Load(path);
        if (f.PassThruLib) {
            f.PassThru.Resolve(f.Platform.Libraries, f.PassThruLib);
            f.PassThruDeviceId = 0;
            f.btJ2534_Load.SetCaption("Unload");
            f.cbJ2534_Devices.SetEnabled(false);
            f.btJ2534_Refresh.SetEnabled(false);
            f.btJ2534_Open.SetEnabled(true);
        }
    }
    if (f.PassThruLib) {
        f.memJ2534.Add(line);
        entry->ReadString(TPassThruDevice::Vendor, text);
        f.memJ2534.Add("Vendor:\t" + text);
        text.clear();
        entry->ReadString(TPassThruDevice::Name, text);
        line = "Name:\t" + text;
    } else {
        line += " - ERROR";
    }
    f.memJ2534.Add(line);
    f.memJ2534.Add("");
}

void CloseDevice(TfrmMain& f) {
    f.btJ2534_Version.SetEnabled(false);
    const TPassThruStatus status =
        f.PassThru.PassThruClose ? f.PassThru.PassThruClose(f.PassThruDeviceId) : MissingEntryPoint;
    // A failed close still ends this program's use of the device.
    f.PassThruDeviceId = 0;
    f.btJ2534_Open.SetCaption("Open");
    f.memJ2534.Add("Close Device - " + Outcome(status));
    f.memJ2534.Add("");
}

void OpenDevice(TfrmMain& f) {
    uint32_t id = 0;
    const TPassThruStatus status =
        f.PassThru.PassThruOpen ? f.PassThru.PassThruOpen(nullptr, &id) : MissingEntryPoint;
    // Device id 0 means "none open", so a library that answers it has not
    // opened anything this program can close; the next click opens again.
    f.PassThruDeviceId = status == PassThruNoError ? id : 0;
    if (f.PassThruDeviceId != 0) {
        f.btJ2534_Open.SetCaption("Close");
        f.btJ2534_Version.SetEnabled(true);
    }
    f.memJ2534.Add("Open Device - " + Outcome(status));
    f.memJ2534.Add("");
}

void UnloadLibrary(TfrmMain& f) {
    f.btJ2534_Open.SetEnabled(false);
    f.btJ2534_Version.SetEnabled(false);
    if (f.PassThruDeviceId != 0)
        CloseDevice(f);
    f.btJ2534_Load.SetCaption("Load");
    f.Platform.Libraries.Free(f.PassThruLib);
    f.PassThruLib = nullptr;
    f.PassThru.Forget();
    f.cbJ2534_Devices.SetEnabled(true);
    f.btJ2534_Refresh.SetEnabled(true);
    f.memJ2534.Add("Unload DLL");
    f.memJ2534.Add("");
}

} // namespace

void TfrmMain::btJ2534_LoadClick() {
    if (PassThruLib)
        UnloadLibrary(*this);
    else
        LoadLibraryOfDevice(*this);
}

void TfrmMain::btJ2534_OpenClick() {
    if (!PassThruLib)
        return;
    if (PassThruDeviceId == 0)
        OpenDevice(*this);
    else
        CloseDevice(*this);
}

void TfrmMain::btJ2534_VersionClick() {
    if (!PassThruLib || !PassThru.PassThruReadVersion)
        return;
    for (auto& buffer : PassThruVersionText)
        std::fill(std::begin(buffer), std::end(buffer), '\0');
    if (PassThru.PassThruReadVersion(PassThruDeviceId, PassThruVersionText[0],
                                     PassThruVersionText[1],
                                     PassThruVersionText[2]) != PassThruNoError)
        return;
    memJ2534.Add("Read Version");
    memJ2534.Add("Firmware:\t" + BufferText(PassThruVersionText[0]));
    memJ2534.Add("DLL:\t" + BufferText(PassThruVersionText[1]));
    memJ2534.Add("API:\t" + BufferText(PassThruVersionText[2]));
    memJ2534.Add("");
}

void TfrmMain::btJ2534_InfoClick() {
    btJ2534_LoadClick();
    btJ2534_OpenClick();
    btJ2534_VersionClick();
    btJ2534_LoadClick();
}

void TfrmMain::memJ2534Change() {
    btJ2534_Copy.SetEnabled(!memJ2534.IsEmpty());
}

void TfrmMain::btJ2534_CopyClick() {
    if (memJ2534.IsEmpty())
        return;
    memJ2534.SelectAll();
    Platform.UserIo.SetClipboardText(memJ2534.Text());
}

} // namespace qvx
