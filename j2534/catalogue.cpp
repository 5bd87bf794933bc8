#include "j2534/catalogue.h"

#include "j2534/passthru.h"

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

} // namespace qvx
