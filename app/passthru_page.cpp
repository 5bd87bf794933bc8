// The "Passthru SAE J2534" page: the device list from the pass-thru
// catalogue, the handlers of the library probe and of the driver group, and
// the page as the view of both engines.
#include "app/Unitmain.h"
#include "j2534/catalogue.h"
#include "platform/text.h"

namespace qvx {

namespace {

constexpr int J2534Page = 2;

} // namespace

// ---- Device list ----

std::string TfrmMain::ReadCatalogueValue(const std::string& device, const std::string& value) {
    return TPassThruCatalogue(Settings).Value(device, value);
}

void TfrmMain::btJ2534_RefreshClick() {
    btJ2534_Info.SetEnabled(false);
    // While a library is loaded this button is its only way out ("Unload"):
    // it stays usable even when the loaded device has left the catalogue.
    if (!Probe.Loaded())
        btJ2534_Load.SetEnabled(false);
    btJ2534_Config.SetEnabled(false);
    cbJ2534_Devices.ClearItems();

    // Without a catalogue there is nothing to choose: the last choice is not
    // even read, since reading a missing setting creates it.
    if (!Settings.KeyExistsAt(PassThruCatalogue))
        return;
    const std::vector<std::string> names = TPassThruCatalogue(Settings).Devices();
    const std::string last = Settings.RegReadStr("", "Device", "");
    for (const std::string& name : names) {
        cbJ2534_Devices.AddItem(name);
        if (name == last) {
            cbJ2534_Devices.SetItemIndex(static_cast<int>(cbJ2534_Devices.Items().size()) - 1);
            cbJ2534_DevicesChange();
        }
    }
}

void TfrmMain::cbJ2534_DevicesChange() {
    if (cbJ2534_Devices.ItemIndex() < 0)
        return;
    const std::string device = cbJ2534_Devices.Text();
    Settings.RegWriteStr("", "Device", device);
    edJ2534_Config.SetText(ReadCatalogueValue(device, TPassThruDevice::ConfigApplication));
    edJ2534_DLL.SetText(ReadCatalogueValue(device, TPassThruDevice::FunctionLibrary));
    btJ2534_Config.SetEnabled(!edJ2534_Config.Text().empty());
    btJ2534_Load.SetEnabled(true);
    btJ2534_Info.SetEnabled(true);
}

void TfrmMain::btJ2534_ConfigClick() {
    // Read again: the edit may be older than the catalogue.
    const std::string path =
        ReadCatalogueValue(cbJ2534_Devices.Text(), TPassThruDevice::ConfigApplication);
    if (!path.empty()) {
        std::string folder = FolderOf(path);
        if (!folder.empty())
            folder.pop_back(); // the folder itself, without its separator
        Platform.UserIo.ShellOpen(path, "", folder);
    }
    // The shell may leave the process in the program's folder.
    Platform.Files.SetCurrentDir(Settings.AppDir);
}

// ---- Library probe ----

void TfrmMain::btJ2534_LoadClick() {
    Probe.LoadOrUnload(cbJ2534_Devices.Text());
}

void TfrmMain::btJ2534_OpenClick() {
    Probe.OpenOrClose();
}

void TfrmMain::btJ2534_VersionClick() {
    Probe.ReadVersion();
}

void TfrmMain::btJ2534_InfoClick() {
    Probe.ReadInfo(cbJ2534_Devices.Text());
}

void TfrmMain::memJ2534Change() {
    btJ2534_Copy.SetEnabled(!memJ2534.IsEmpty());
}

void TfrmMain::btJ2534_CopyClick() {
    if (memJ2534.IsEmpty())
        return;
    CopyToClipboard(memJ2534);
}

void TfrmMain::ClearProbeLog() {
    memJ2534.Clear();
}

void TfrmMain::AddProbeLine(const std::string& line) {
    memJ2534.Add(line);
}

void TfrmMain::ShowLibraryLoaded() {
    btJ2534_Load.SetCaption("Unload");
    cbJ2534_Devices.SetEnabled(false);
    btJ2534_Refresh.SetEnabled(false);
    btJ2534_Open.SetEnabled(true);
}

void TfrmMain::ShowLibraryUnloaded() {
    btJ2534_Open.SetEnabled(false);
    btJ2534_Version.SetEnabled(false);
    btJ2534_Load.SetCaption("Load");
    cbJ2534_Devices.SetEnabled(true);
    btJ2534_Refresh.SetEnabled(true);
}

void TfrmMain::ShowDeviceOpen() {
    btJ2534_Open.SetCaption("Close");
    btJ2534_Version.SetEnabled(true);
}

void TfrmMain::ShowDeviceClosed() {
    btJ2534_Version.SetEnabled(false);
    btJ2534_Open.SetCaption("Open");
}

// ---- Driver group ----

void TfrmMain::pcOptionsChange() {
    if (pcOptions.ActivePageIndex() != J2534Page)
        return;
    if (!AdapterInfo().DriverVersion.empty()) {
        btJ2534_RefreshClick();
        pbJ2534_Install.SetPosition(0);
        btJ2534_Version_CheckClick();
    } else if (!edVersion.Text().empty()) {
        lbJ2534_Message.SetCaption("  Update Firmware !!!");
        lbJ2534_Message.SetVisible(true);
    }
}

void TfrmMain::btJ2534_Version_CheckClick() {
    Installer.CheckVersion(AdapterInfo().DriverVersion);
}

void TfrmMain::btJ2534_InstallClick() {
    if (AdapterInfo().DriverVersion.empty())
        return;
    // The link belongs to a running session or upload: never take it away.
    if (!Session.LinkFree())
        return;
    // The port of the last session; the selected one when there was none.
    if (Link.PortName().empty()) {
        if (const TPortEntry* port = SelectedPort())
            Link.SetPortName(port->Name);
    }
    Bytes image;
    switch (Session.Exchange.FetchDriverImage(image)) {
    case diPortNotOpened:
        Session.ShowNotFound();
        return;
    case diNoImage:
        // Nothing is changed without a whole image.
        Installer.ShowInstallError();
        return;
    case diReceived:
        break;
    }
    Installer.Install(image, AdapterInfo().DriverVersion);
}

bool TfrmMain::DriverOffered() {
    return btJ2534_Install.Enabled();
}

void TfrmMain::ShowInstalledVersion(const std::string& text) {
    edJ2534_Version_DLL.SetText(text);
}

void TfrmMain::HideVersionMarks() {
    shJ2534_Install.SetVisible(false);
    shJ2534_Version_DLL.SetVisible(false);
}

void TfrmMain::ShowVersionMarks(bool current) {
    shJ2534_Install.SetBrushColor(clGreen);
    shJ2534_Version_DLL.SetBrushColor(current ? clGreen : clRed);
    shJ2534_Install.SetVisible(true);
    shJ2534_Version_DLL.SetVisible(true);
}

void TfrmMain::ShowDriverHint(const std::string& text) {
    lbJ2534_Message.SetCaption(text);
    lbJ2534_Message.SetVisible(true);
}

void TfrmMain::HideDriverHint() {
    lbJ2534_Message.SetVisible(false);
}

int TfrmMain::InstallProgress() {
    return pbJ2534_Install.Position();
}

int TfrmMain::InstallProgressMax() {
    return pbJ2534_Install.Max();
}

void TfrmMain::SetInstallProgress(int position) {
    pbJ2534_Install.SetPosition(position);
}

void TfrmMain::MakerEntryWritten() {
    btJ2534_RefreshClick();
}

} // namespace qvx
