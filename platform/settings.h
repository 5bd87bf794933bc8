#pragma once
// The settings store and the small window utilities that every handler of the
// main window calls: settings in the registry below HKEY_LOCAL_MACHINE, the
// message box, the open-file dialog, whole-file read and write, and strings of
// the program's own version resource.
//
// Every registry operation is self-contained: it opens (creating when
// missing) its key, does its one read or write and closes the key again.
// Nothing is cached between calls. The Reg* operations work on the program's
// settings key (given at construction) or a subkey of it; the *At operations
// name their key in full, relative to HKEY_LOCAL_MACHINE, where a leading "\"
// names the same key.
//
// Behaviour where the registry does not cooperate:
// - A value stored with another registry type than the one asked for (say
//   "SortCol" as a string, or "Port" as a DWORD) reads as the default, and the
//   stored value is left as it is: it exists, so no default is written over
//   it, and no other value is touched. It is replaced only when a caller
//   writes that setting.
// - A key that cannot be opened with full access (and not created) is opened
//   read-only for the read operations, so stored settings still read; the
//   write of a missing value's default then fails quietly and the default is
//   returned. A key that cannot be opened at all reads as empty: every read
//   returns its default and RegValueExists gives false.
// - A write that fails (key cannot be opened or created, key read-only) gives
//   false and changes nothing; no exception, nothing else lost.
//
// GUI thread only; no locks.
#include "platform/bytes.h"
#include "platform/platform.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qvx {

// The program's settings key.
extern const char* const SettingsKey;

class TSettingsStore {
public:
    explicit TSettingsStore(TPlatform& platform, std::string settingsKey = SettingsKey);

    // The settings key, relative to HKEY_LOCAL_MACHINE.
    const std::string& Key() const { return BaseKey; }
    // "ProductName" of the version resource; "" without one.
    std::string AppProductName;
    // Folder of the program file, with a trailing "\".
    std::string AppDir;
    // Prefix of every version-resource lookup (US English, code page 1252).
    std::string VersionBlockPath = "StringFileInfo\\040904E4\\";
    // The application title; start-up replaces it with product, internal name
    // and version when the program has a version resource.
    std::string AppTitle = "Configurator";
    // Called with the key and the value name when a write that a caller asked
    // for (RegWriteStr, RegWriteInt, WriteStrAt, WriteIntAt) fails; the write
    // still gives false. The defaults that the reads write are not reported.
    std::function<void(const std::string& keyPath, const std::string& name)> OnWriteFailed;

    // The settings key, or its subkey subKey when that is not empty. A missing
    // value is first written with def; the value is returned.
    std::string RegReadStr(const std::string& subKey, const std::string& name,
                           const std::string& def);
    // The name "" is the key's default value. False when the write failed.
    bool RegWriteStr(const std::string& subKey, const std::string& name, const std::string& value);
    // The settings key; a missing value is first written with def (DWORD).
    int32_t RegReadInt(const std::string& name, int32_t def);
    bool RegWriteInt(const std::string& name, int32_t value);
    // Whether the settings key holds a value of that name (of any type).
    bool RegValueExists(const std::string& name);

    // The same operations on the key at keyPath.
    std::string ReadStrAt(const std::string& keyPath, const std::string& name,
                          const std::string& def);
    bool WriteStrAt(const std::string& keyPath, const std::string& name, const std::string& value);
    int32_t ReadIntAt(const std::string& keyPath, const std::string& name, int32_t def);
    bool WriteIntAt(const std::string& keyPath, const std::string& name, int32_t value);
    bool ValueExistsAt(const std::string& keyPath, const std::string& name);
    // A string value read without changing anything: the key is opened
    // read-only and no default is written; "" when the key or value is missing.
    std::string PeekStrAt(const std::string& keyPath, const std::string& name);
    // Whether a key exists at keyPath.
    bool KeyExistsAt(const std::string& keyPath);
    // The names of the subkeys of the key at keyPath, opened read-only; empty
    // when it cannot be opened.
    std::vector<std::string> SubkeyNamesAt(const std::string& keyPath);

    // Reads the program's version data; false when it has none.
    bool LoadVersionData();
    void ReleaseVersionData();
    // VersionBlockPath + key in the loaded version data; "" when absent or
    // nothing is loaded.
    std::string GetVersionString(const std::string& key);

    // The whole file, byte for byte. False (data unchanged) when the file
    // cannot be opened or any read fails.
    bool LoadFileToString(const std::string& fileName, Bytes& data);
    // Replaces the file with the first length bytes of data. A file that
    // cannot be deleted gives false and is left alone; a failed write removes
    // the partial file and gives false. A length beyond data gives false
    // before anything is touched.
    bool SaveStringToFile(const std::string& fileName, const Bytes& data, size_t length);

    // The open-file dialog with title "Open" and the filter description +
    // "|" + lower-cased mask + "|All files|*.*". On OK fileName receives the
    // chosen path and the result is true; on Cancel fileName is unchanged.
    bool OpenFileDialog(const std::string& description, const std::string& mask,
                        std::string& fileName);
    // Modal box owned by the main window, caption AppTitle + " - " + caption;
    // returns the button pressed.
    int ShowMessageBox(const std::string& caption, const std::string& text, unsigned flags);

    // The filter text that OpenFileDialog offers.
    static std::string DialogFilter(const std::string& description, const std::string& mask);

private:
    std::string SubKeyPath(const std::string& subKey) const;
    // Full access, creating the key when missing; nullptr when that fails.
    std::unique_ptr<IRegistryKey> OpenForWrite(const std::string& keyPath);
    // As OpenForWrite, else read-only; nullptr when neither works.
    std::unique_ptr<IRegistryKey> OpenForRead(const std::string& keyPath);
    // Reports a failed write; gives written.
    bool Written(bool written, const std::string& keyPath, const std::string& name);

    TPlatform& Platform;
    std::string BaseKey;
    bool VersionLoaded = false;
};

} // namespace qvx
