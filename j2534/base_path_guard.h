#pragma once
// Switching the settings store's RegBasePath for a few reads or writes: the
// saved path is put back however the scope is left.
#include "app/settings/settings.h"

#include <string>

namespace qvx {

class TBasePathGuard {
public:
    TBasePathGuard(TSettingsStore& settings, const std::string& path)
        : Settings(settings), Saved(settings.RegBasePath) {
        Settings.RegBasePath = path;
    }
    ~TBasePathGuard() { Settings.RegBasePath = Saved; }
    TBasePathGuard(const TBasePathGuard&) = delete;
    TBasePathGuard& operator=(const TBasePathGuard&) = delete;

private:
    TSettingsStore& Settings;
    std::string Saved;
};

} // namespace qvx
