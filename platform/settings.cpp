#include "platform/settings.h"

#include "platform/text.h"

#include <exception>

namespace qvx {

const char* const SettingsKey = "SOFTWARE\\Morveklink";

TSettingsStore::TSettingsStore(TPlatform& platform, std::string settingsKey)
    : Platform(platform), BaseKey(NormalizeRegistryPath(settingsKey)) {}

std::string TSettingsStore::SubKeyPath(const std::string& subKey) const {
    if (subKey.empty())
        return BaseKey;
    return BaseKey.empty() ? subKey : BaseKey + "\\" + subKey;
}

std::unique_ptr<IRegistryKey> TSettingsStore::OpenForWrite(const std::string& keyPath) {
    return Platform.Registry.CreateKey(NormalizeRegistryPath(keyPath));
}

std::unique_ptr<IRegistryKey> TSettingsStore::OpenForRead(const std::string& keyPath) {
    // Without the right to create or write, a key that exists can still be
    // read: the stored settings win over the defaults.
    if (auto key = OpenForWrite(keyPath))
        return key;
    return Platform.Registry.OpenKey(NormalizeRegistryPath(keyPath), RegAccess::Read);
}

std::string TSettingsStore::RegReadStr(const std::string& subKey, const std::string& name,
                                       const std::string& def) {
    return ReadStrAt(SubKeyPath(subKey), name, def);
}

bool TSettingsStore::RegWriteStr(const std::string& subKey, const std::string& name,
                                 const std::string& value) {
    return WriteStrAt(SubKeyPath(subKey), name, value);
}

int32_t TSettingsStore::RegReadInt(const std::string& name, int32_t def) {
    return ReadIntAt(BaseKey, name, def);
}

bool TSettingsStore::RegWriteInt(const std::string& name, int32_t value) {
    return WriteIntAt(BaseKey, name, value);
}

bool TSettingsStore::RegValueExists(const std::string& name) {
    return ValueExistsAt(BaseKey, name);
}

std::string TSettingsStore::ReadStrAt(const std::string& keyPath, const std::string& name,
                                      const std::string& def) {
    auto key = OpenForRead(keyPath);
    if (!key)
        return def;
    std::string value;
    if (key->ReadString(name, value))
        return value;
    // A value of another type belongs to the user: read it as the default
    // but leave it in place.
    if (key->TypeOf(name) == RegValueType::Missing)
        key->WriteString(name, def);
    return def;
}

bool TSettingsStore::WriteStrAt(const std::string& keyPath, const std::string& name,
                                const std::string& value) {
    auto key = OpenForWrite(keyPath);
    return Written(key && key->WriteString(name, value), keyPath, name);
}

int32_t TSettingsStore::ReadIntAt(const std::string& keyPath, const std::string& name,
                                  int32_t def) {
    auto key = OpenForRead(keyPath);
    if (!key)
        return def;
    uint32_t value = 0;
    if (key->ReadDword(name, value))
        return static_cast<int32_t>(value);
    if (key->TypeOf(name) == RegValueType::Missing)
        key->WriteDword(name, static_cast<uint32_t>(def));
    return def;
}

bool TSettingsStore::WriteIntAt(const std::string& keyPath, const std::string& name,
                                int32_t value) {
    auto key = OpenForWrite(keyPath);
    return Written(key && key->WriteDword(name, static_cast<uint32_t>(value)), keyPath, name);
}

bool TSettingsStore::Written(bool written, const std::string& keyPath, const std::string& name) {
    if (!written && OnWriteFailed)
        OnWriteFailed(keyPath, name);
    return written;
}

bool TSettingsStore::ValueExistsAt(const std::string& keyPath, const std::string& name) {
    auto key = OpenForRead(keyPath);
    return key && key->TypeOf(name) != RegValueType::Missing;
}

std::string TSettingsStore::PeekStrAt(const std::string& keyPath, const std::string& name) {
    auto key = Platform.Registry.OpenKey(NormalizeRegistryPath(keyPath), RegAccess::Read);
    std::string text;
    if (!key || !key->ReadString(name, text))
        return std::string();
    return text;
}

std::vector<std::string> TSettingsStore::SubkeyNamesAt(const std::string& keyPath) {
    auto key = Platform.Registry.OpenKey(NormalizeRegistryPath(keyPath), RegAccess::Read);
    return key ? key->SubkeyNames() : std::vector<std::string>();
}

bool TSettingsStore::KeyExistsAt(const std::string& keyPath) {
    return Platform.Registry.OpenKey(NormalizeRegistryPath(keyPath), RegAccess::Read) != nullptr;
}

bool TSettingsStore::LoadVersionData() {
    ReleaseVersionData();
    if (Platform.Version.Size() == 0)
        return false;
    VersionLoaded = Platform.Version.Load();
    return VersionLoaded;
}

void TSettingsStore::ReleaseVersionData() {
    if (VersionLoaded)
        Platform.Version.Release();
    VersionLoaded = false;
}

std::string TSettingsStore::GetVersionString(const std::string& key) {
    std::string value;
    if (!VersionLoaded || !Platform.Version.Query(VersionBlockPath + key, value))
        return std::string();
    return value;
}

bool TSettingsStore::LoadFileToString(const std::string& fileName, Bytes& data) {
    return ReadWholeFile(Platform.Files, fileName, data);
}

bool TSettingsStore::SaveStringToFile(const std::string& fileName, const Bytes& data,
                                      size_t length) {
    if (length > data.size())
        return false;
    if (Platform.Files.FileExists(fileName) && !Platform.Files.RemoveFile(fileName))
        return false;
    auto file = Platform.Files.Create(fileName);
    if (!file)
        return false;
    size_t done = 0;
    while (done < length) {
        int64_t n = file->Write(data.data() + done, length - done);
        // No progress counts as a failure; retrying it would never end.
        if (n <= 0) {
            file.reset();
            Platform.Files.RemoveFile(fileName);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string TSettingsStore::DialogFilter(const std::string& description, const std::string& mask) {
    return description + "|" + LowerAscii(mask) + "|All files|*.*";
}

bool TSettingsStore::OpenFileDialog(const std::string& description, const std::string& mask,
                                    std::string& fileName) {
    TOpenFileRequest request;
    request.Title = "Open";
    request.Filter = DialogFilter(description, mask);
    request.FileName = fileName;
    request.HideReadOnly = true;
    request.FileMustExist = true;
    request.EnableSizing = true;
    if (!Platform.UserIo.OpenFileDialog(request))
        return false;
    fileName = request.FileName;
    return true;
}

int TSettingsStore::ShowMessageBox(const std::string& caption, const std::string& text,
                                   unsigned flags) {
    return Platform.UserIo.ShowBox(text, AppTitle + " - " + caption, flags, TBoxOwner::MainWindow);
}

} // namespace qvx
