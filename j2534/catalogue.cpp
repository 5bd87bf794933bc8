// The J2534 page's device list, filled from the pass-thru catalogue.
#include "app/Unitmain.h"
#include "j2534/catalogue.h"
#include "j2534/passthru.h"
#include "platform/text.h"

namespace qvx {

std::string TPassThruCatalogue::EntryPath(const std::string& device) const {
    return std::string(PassThruCatalogue) + "\\" + device;
}

std::vector<std::string> TPassThruCatalogue::Devices() {
    return Settings.SubkeyNamesAt(PassThruCatalogue);
}

std::string TPassThruCatalogue::Value(const std::string& device, const std::string& value) {
    // A catalogue entry belongs to its vendor: it is opened read-only and
    // nothing is written into it, not even a missing value's default.
    if (device.empty())
        return std::string();
    return Settings.PeekStrAt(EntryPath(device), value);
}

void TPassThruCatalogue::NoteConfigApplication(const std::string& program) {
    const std::string entry = EntryPath(MakerPassThruDevice);
    if (Settings.KeyExistsAt(entry))
        Settings.WriteStrAt(entry, TPassThruDevice::ConfigApplication, program);
}

bool TPassThruCatalogue::WriteMakerEntry(const std::string& program, const std::string& library,
                                         const std::function<void(size_t step)>& step) {
    const std::string entry = EntryPath(MakerPassThruDevice);
    const std::pair<const char*, std::string> strings[] = {
        {TPassThruDevice::Vendor, "Morveklink"},
        {TPassThruDevice::Name, "Quorvelix"},
        {TPassThruDevice::ConfigApplication, program},
        {TPassThruDevice::FunctionLibrary, library},
    };
    bool written = true;
    size_t n = 0;
    for (const auto& value : strings) {
        written = Settings.WriteStrAt(entry, value.first, value.second) && written;
        step(n++);
    }
    for (const TPassThruProtocolFlag& flag : PassThruProtocolTable) {
        written = Settings.WriteIntAt(entry, flag.Name, flag.Value) && written;
        step(n++);
    }
    return written;
}

std::string TfrmMain::ReadCatalogueValue(const std::string& device, const std::string& value) {
    return TPassThruCatalogue(Settings).Value(device, value);
}

void TfrmMain::btJ2534_RefreshClick() {
    btJ2534_Info.SetEnabled(false);
    // While a library is loaded this button is its only way out ("Unload"):
    // it stays usable even when the loaded device has left the catalogue.
    if (!PassThruLib)
        btJ2534_Load.SetEnabled(false);
    btJ2534_Config.SetEnabled(false);
    cbJ2534_Devices.ClearItems();

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

} // namespace qvx
