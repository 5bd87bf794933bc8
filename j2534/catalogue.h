#pragma once
// The pass-thru catalogue in the registry: the device entries that other
// makers' installers leave there, read without changing them, and the maker's
// own entry, which this program writes.
#include "platform/settings.h"

#include <functional>
#include <string>
#include <vector>

namespace qvx {

class TPassThruCatalogue {
public:
    explicit TPassThruCatalogue(TSettingsStore& settings) : Settings(settings) {}

    // The device entries, in the registry's order; empty without a catalogue.
    std::vector<std::string> Devices();
    // One string value of a device entry, read without changing the
    // catalogue; "" when the value or the entry is missing.
    std::string Value(const std::string& device, const std::string& value);
    // The maker's entry, when it exists, learns where its configuration
    // program is.
    void NoteConfigApplication(const std::string& program);
    // Writes the maker's entry: the four strings, then the protocol flags.
    // step is called after each string (0 to 3) and after each flag (4 on).
    // False when any write failed; every write is tried.
    bool WriteMakerEntry(const std::string& program, const std::string& library,
                         const std::function<void(size_t step)>& step);

private:
    std::string EntryPath(const std::string& device) const;
    TSettingsStore& Settings;
};

} // namespace qvx
