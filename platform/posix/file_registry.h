#pragma once
// The registry seam kept in one small text file: the program's settings on a
// system without a registry. The file is read at construction and again
// before every change, so that two programs that store settings at the same
// time keep each other's values: a change takes an exclusive lock on a file
// beside it (<file>.lock; a lock on the settings file itself would not
// survive the rename), reads the file, applies itself and writes the file
// again as a whole: a temporary file with a random name, created exclusively
// in the same folder, flushed, renamed over it, and the folder flushed. A
// change whose write fails (or whose lock is not had within LockWaitMs) is
// not made: it returns failure and what was stored before stays, in the file
// and here.
//
// The file, one line each:
//
//   [SOFTWARE\Quorvelix\Configurator]    a key (its path)
//   Port=s:/dev/ttyUSB0                  a string value
//   SortColumn=d:2                       a 32-bit number, decimal
//
// Blank lines and lines starting with '#' are skipped. In value names '\',
// '=', line ends and a leading '[' or '#' are written with a '\' before them
// (a line end as \n, a carriage return as \r); in string values '\' and the
// line ends are. The name "" is the key's default value. A file with lines
// that do not parse gives what does parse; before it is first written, the
// original is kept beside it as <file>.bad.
//
// Names compare case-insensitively (ASCII letters), as the system registry
// does. Thread-safe.
#include "platform/registry.h"

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace qvx {

class TFileRegistry : public IRegistry {
public:
    explicit TFileRegistry(std::string path);

    // $XDG_CONFIG_HOME/qvx/settings, else $HOME/.config/qvx/settings.
    static std::string DefaultSettingsPath();

    std::unique_ptr<IRegistryKey> OpenKey(const std::string& path, RegAccess access) override;
    std::unique_ptr<IRegistryKey> CreateKey(const std::string& path) override;
    bool DeleteKey(const std::string& path) override;

    const std::string& FilePath() const { return Path; }
    // True when the file had lines that did not parse.
    bool Damaged() const { return Bad; }

    // How long a change waits for another program's lock.
    static constexpr int LockWaitMs = 5000;

    struct Value {
        RegValueType Type = RegValueType::Missing;
        std::string Text;
        uint32_t Number = 0;
    };
    struct Key {
        std::string Name; // the path as spelled when the key was created
        std::vector<std::pair<std::string, Value>> Values; // creation order
        uint64_t LastWrite = 0;
    };
    // By the path with its letters folded to lower case; "" is the root.
    using TKeys = std::map<std::string, Key>;

    // The keys of a file's text (the root key always among them), each key
    // with the given time; false when some lines did not parse (what does
    // parse is kept).
    static bool Parse(const std::string& data, uint64_t time, TKeys& keys);
    // The file's text of the keys; Parse of it gives them back.
    static std::string Format(const TKeys& keys);

private:
    friend class TFileRegistryKey;

    // Reads the file into Keys (no file: no settings).
    void Load();
    // Under the file lock: reads the file again, lets edit change a copy of
    // its keys and writes that; when the write worked the copy becomes the
    // content. False when the lock, edit or the write failed. Under Lock.
    bool Update(const std::function<bool(TKeys&)>& edit);
    // Writes keys to the file and, when that worked, makes them the content.
    bool Commit(TKeys keys);
    bool WriteFileAtomically(const std::string& target, const std::string& text);
    // Adds the key and its parents; false for a name that cannot be kept.
    static bool AddKey(TKeys& keys, const std::string& path, uint64_t time);

    mutable std::mutex Lock;
    std::string Path;
    TKeys Keys;
    bool Bad = false;
    bool BadKept = false;
    std::string Original;
};

} // namespace qvx
