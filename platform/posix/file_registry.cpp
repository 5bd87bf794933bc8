#include "platform/posix/file_registry.h"

#include "platform/text.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <pwd.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qvx {

namespace {

// Seconds from 1601 to 1970, the two clocks' starts.
constexpr uint64_t FileTimeEpochSeconds = 11644473600ull;

uint64_t FileTimeOf(time_t seconds, long nanoseconds) {
    return (static_cast<uint64_t>(seconds) + FileTimeEpochSeconds) * 10000000ull +
           static_cast<uint64_t>(nanoseconds / 100);
}

uint64_t FileTimeNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return FileTimeOf(now.tv_sec, now.tv_nsec);
}

std::string Fold(const std::string& path) {
    return LowerAscii(NormalizeRegistryPath(path));
}

std::string EscapeName(const std::string& name) {
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\\' || c == '=' || (i == 0 && (c == '[' || c == '#')))
            out += std::string("\\") + c;
        else
            out += c;
    }
    return out;
}

std::string EscapeText(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\\')
            out += "\\\\";
        else
            out += c;
    }
    return out;
}

// Undoes the escapes up to the first bare stop character (0 = none); pos
// moves past it. False for a '\' at the very end.
bool Unescape(const std::string& line, size_t& pos, char stop, std::string& out, bool& stopped) {
    stopped = false;
    while (pos < line.size()) {
        const char c = line[pos++];
        if (c == '\\') {
            if (pos >= line.size())
                return false;
            const char e = line[pos++];
            out += e == 'n' ? '\n' : e == 'r' ? '\r' : e;
        } else if (stop != 0 && c == stop) {
            stopped = true;
            return true;
        } else {
            out += c;
        }
    }
    return true;
}

bool ParseNumber(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 10)
        return false;
    uint64_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + static_cast<uint64_t>(c - '0');
    }
    if (n > UINT32_MAX)
        return false;
    value = static_cast<uint32_t>(n);
    return true;
}

bool ReadAll(const std::string& path, std::string& data) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buffer[8192];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
        data.append(buffer, static_cast<size_t>(n));
    close(fd);
    return n == 0;
}

bool MakeFolders(const std::string& folder) {
    if (folder.empty())
        return true;
    struct stat st;
    if (stat(folder.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    const size_t slash = folder.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !MakeFolders(folder.substr(0, slash)))
        return false;
    return mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool SameValues(const std::vector<std::pair<std::string, TFileRegistry::Value>>& a,
                const std::vector<std::pair<std::string, TFileRegistry::Value>>& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].first != b[i].first || a[i].second.Type != b[i].second.Type ||
            a[i].second.Text != b[i].second.Text || a[i].second.Number != b[i].second.Number)
            return false;
    return true;
}

// A name no other writer guesses: 16 random hex digits.
std::string RandomSuffix() {
    static std::random_device device;
    std::uniform_int_distribution<uint64_t> pick;
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(pick(device)));
    return text;
}

// Flushes the folder's entries to the disk: a rename is durable only then.
void SyncFolder(const std::string& folder) {
    const int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    fsync(fd);
    close(fd);
}

// The exclusive lock of the settings' writers, held while it lives.
class TWriterLock {
public:
    TWriterLock(const std::string& path, int waitMs) {
        Fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (Fd < 0)
            return;
        for (int waited = 0;; waited += 10) {
            if (flock(Fd, LOCK_EX | LOCK_NB) == 0) {
                Held = true;
                return;
            }
            if ((errno != EWOULDBLOCK && errno != EINTR) || waited >= waitMs)
                return;
            usleep(10000);
        }
    }
    ~TWriterLock() {
        if (Fd >= 0)
            close(Fd); // releases the lock
    }
    TWriterLock(const TWriterLock&) = delete;
    TWriterLock& operator=(const TWriterLock&) = delete;
    bool Held = false;

private:
    int Fd = -1;
};

} // namespace

class TFileRegistryKey : public IRegistryKey {
public:
    TFileRegistryKey(TFileRegistry& owner, std::string folded, bool writable)
        : Owner(owner), Folded(std::move(folded)), Writable(writable) {}

    RegValueType TypeOf(const std::string& name) const override {
        std::lock_guard<std::mutex> guard(Owner.Lock);
        const TFileRegistry::Value* v = Find(name);
        return v ? v->Type : RegValueType::Missing;
    }
    bool ReadString(const std::string& name, std::string& value) const override {
        std::lock_guard<std::mutex> guard(Owner.Lock);
        const TFileRegistry::Value* v = Find(name);
        if (!v || v->Type != RegValueType::String)
            return false;
        value = v->Text;
        return true;
    }
    bool ReadDword(const std::string& name, uint32_t& value) const override {
        std::lock_guard<std::mutex> guard(Owner.Lock);
        const TFileRegistry::Value* v = Find(name);
        if (!v || v->Type != RegValueType::Dword)
            return false;
        value = v->Number;
        return true;
    }
    bool WriteString(const std::string& name, const std::string& value) override {
        TFileRegistry::Value v;
        v.Type = RegValueType::String;
        v.Text = value.substr(0, value.find('\0')); // strings end at their first NUL
        return Change(name, &v);
    }
    bool WriteDword(const std::string& name, uint32_t value) override {
        TFileRegistry::Value v;
        v.Type = RegValueType::Dword;
        v.Number = value;
        return Change(name, &v);
    }
    bool DeleteValue(const std::string& name) override { return Change(name, nullptr); }
    std::vector<std::string> ValueNames() const override {
        std::lock_guard<std::mutex> guard(Owner.Lock);
        std::vector<std::string> names;
        auto it = Owner.Keys.find(Folded);
        if (it != Owner.Keys.end())
            for (const auto& p : it->second.Values)
                names.push_back(p.first);
        return names;
    }
    std::vector<std::string> SubkeyNames() const override {
        std::lock_guard<std::mutex> guard(Owner.Lock);
        std::vector<std::string> names;
        if (Owner.Keys.find(Folded) == Owner.Keys.end())
            return names;
        const std::string prefix = Folded.empty() ? std::string() : Folded + "\\";
        for (const auto& entry : Owner.Keys) {
            const std::string& folded = entry.first;
            if (folded.empty() || folded.compare(0, prefix.size(), prefix) != 0 ||
                folded.size() == prefix.size() ||
                folded.find('\\', prefix.size()) != std::string::npos)
                continue;
            const std::string& name = entry.second.Name;
            names.push_back(name.substr(name.find_last_of('\\') + 1));
        }
        return names;
    }
    bool LastWriteTime(uint64_t& fileTime) const override {
        std::lock_guard<std::mutex> guard(Owner.Lock);
        auto it = Owner.Keys.find(Folded);
        if (it == Owner.Keys.end())
            return false;
        fileTime = it->second.LastWrite;
        return true;
    }

private:
    const TFileRegistry::Value* Find(const std::string& name) const {
        auto it = Owner.Keys.find(Folded);
        if (it == Owner.Keys.end())
            return nullptr;
        for (const auto& p : it->second.Values)
            if (CompareFoldedAscii(p.first, name) == 0)
                return &p.second;
        return nullptr;
    }

    // Writes the value (nullptr: deletes it) into a copy of the content and
    // commits that.
    bool Change(const std::string& name, const TFileRegistry::Value* value) {
        std::lock_guard<std::mutex> guard(Owner.Lock);
        if (!Writable)
            return false;
        return Owner.Update([&](TFileRegistry::TKeys& next) {
            auto found = next.find(Folded);
            if (found == next.end())
                return false; // another writer has deleted the key
            TFileRegistry::Key& key = found->second;
            auto& values = key.Values;
            auto it = values.begin();
            while (it != values.end() && CompareFoldedAscii(it->first, name) != 0)
                ++it;
            if (!value) {
                if (it == values.end())
                    return false;
                values.erase(it);
            } else if (it != values.end()) {
                it->second = *value;
            } else {
                values.emplace_back(name, *value);
            }
            key.LastWrite = FileTimeNow();
            return true;
        });
    }

    TFileRegistry& Owner;
    std::string Folded;
    bool Writable;
};

TFileRegistry::TFileRegistry(std::string path) : Path(std::move(path)) {
    Load();
}

std::string TFileRegistry::DefaultSettingsPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/')
        return std::string(config) + "/qvx/settings";
    const char* home = std::getenv("HOME");
    std::string base = home && home[0] ? home : "";
    if (base.empty())
        if (const passwd* user = getpwuid(getuid()))
            base = user->pw_dir ? user->pw_dir : "";
    return base + "/.config/qvx/settings";
}

bool TFileRegistry::AddKey(TKeys& keys, const std::string& path, uint64_t time) {
    const std::string normal = NormalizeRegistryPath(path);
    if (normal.find_first_of("\r\n") != std::string::npos ||
        normal.find("\\\\") != std::string::npos)
        return false;
    keys[""].Name = "";
    size_t end = 0;
    while (end != std::string::npos && !normal.empty()) {
        end = normal.find('\\', end + 1);
        const std::string part = normal.substr(0, end);
        Key& key = keys[LowerAscii(part)];
        if (key.Name.empty()) {
            key.Name = part;
            key.LastWrite = time;
        }
    }
    return true;
}

bool TFileRegistry::Parse(const std::string& data, uint64_t time, TKeys& keys) {
    AddKey(keys, "", time);
    bool bad = false;
    Key* current = nullptr;
    size_t start = 0;
    while (start < data.size()) {
        size_t end = data.find('\n', start);
        if (end == std::string::npos)
            end = data.size();
        std::string line = data.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        if (line[0] == '[' && line.back() == ']' && line.size() >= 2) {
            const std::string path = line.substr(1, line.size() - 2);
            current = AddKey(keys, path, time) ? &keys[Fold(path)] : nullptr;
            bad = bad || !current;
            continue;
        }
        size_t pos = 0;
        std::string name, text;
        bool stopped = false;
        Value value;
        const bool named = Unescape(line, pos, '=', name, stopped) && stopped;
        const std::string type = named ? line.substr(pos, 2) : std::string();
        pos += 2;
        bool ok = current != nullptr && named && pos <= line.size();
        if (ok && type == "s:") {
            value.Type = RegValueType::String;
            ok = Unescape(line, pos, 0, value.Text, stopped);
        } else if (ok && type == "d:") {
            value.Type = RegValueType::Dword;
            ok = ParseNumber(line.substr(pos), value.Number);
        } else {
            ok = false;
        }
        bool known = false;
        if (ok)
            for (auto& p : current->Values)
                if (CompareFoldedAscii(p.first, name) == 0) {
                    known = true; // the first of two spellings stays
                    break;
                }
        if (!ok || known) {
            bad = true;
            continue;
        }
        current->Values.emplace_back(name, value);
    }
    return !bad;
}

void TFileRegistry::Load() {
    std::string data;
    struct stat st;
    uint64_t time = FileTimeNow();
    if (stat(Path.c_str(), &st) == 0)
        time = FileTimeOf(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    TKeys keys;
    bool parsed = true;
    if (ReadAll(Path, data)) {
        parsed = Parse(data, time, keys);
    } else {
        data.clear();
        AddKey(keys, "", time); // no file yet: no settings yet
    }
    // A key that reads as it did keeps the time of its last change here.
    for (auto& entry : keys) {
        auto old = Keys.find(entry.first);
        if (old != Keys.end() && old->second.Name == entry.second.Name &&
            SameValues(old->second.Values, entry.second.Values))
            entry.second.LastWrite = old->second.LastWrite;
    }
    Keys = std::move(keys);
    Bad = !parsed;
    if (data != Original)
        BadKept = false; // another writer's damage is kept again before it goes
    Original = data;
}

bool TFileRegistry::Update(const std::function<bool(TKeys&)>& edit) {
    const size_t slash = Path.find_last_of('/');
    if (slash != std::string::npos && !MakeFolders(Path.substr(0, slash)))
        return false;
    TWriterLock lock(Path + ".lock", LockWaitMs);
    if (!lock.Held)
        return false;
    Load();
    TKeys next = Keys;
    if (!edit(next))
        return false;
    return Commit(std::move(next));
}

std::string TFileRegistry::Format(const TKeys& keys) {
    std::string text = "# Configurator settings\n";
    for (const auto& entry : keys) {
        const Key& key = entry.second;
        if (entry.first.empty() && key.Values.empty())
            continue;
        text += "\n[" + key.Name + "]\n";
        for (const auto& p : key.Values) {
            text += EscapeName(p.first) + "=";
            if (p.second.Type == RegValueType::Dword)
                text += "d:" + std::to_string(p.second.Number);
            else
                text += "s:" + EscapeText(p.second.Text);
            text += "\n";
        }
    }
    return text;
}

bool TFileRegistry::WriteFileAtomically(const std::string& target, const std::string& text) {
    const size_t slash = target.find_last_of('/');
    if (slash != std::string::npos && !MakeFolders(target.substr(0, slash)))
        return false;
    // A fresh name of our own, never a file or link that is already there.
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temporary = target + ".tmp." + RandomSuffix();
        fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, text) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) {
        unlink(temporary.c_str());
        return false;
    }
    SyncFolder(slash == std::string::npos ? std::string() : target.substr(0, slash));
    return true;
}

bool TFileRegistry::Commit(TKeys keys) {
    // A damaged file is never replaced before a copy of it is safe.
    if (Bad && !BadKept) {
        if (!WriteFileAtomically(Path + ".bad", Original))
            return false;
        BadKept = true;
    }
    if (!WriteFileAtomically(Path, Format(keys)))
        return false;
    Keys = std::move(keys);
    return true;
}

std::unique_ptr<IRegistryKey> TFileRegistry::OpenKey(const std::string& path, RegAccess access) {
    std::lock_guard<std::mutex> guard(Lock);
    const std::string folded = Fold(path);
    if (Keys.find(folded) == Keys.end())
        return nullptr;
    return std::make_unique<TFileRegistryKey>(*this, folded, access == RegAccess::AllAccess);
}

std::unique_ptr<IRegistryKey> TFileRegistry::CreateKey(const std::string& path) {
    std::lock_guard<std::mutex> guard(Lock);
    const std::string folded = Fold(path);
    if (Keys.find(folded) == Keys.end() && !Update([&](TKeys& next) {
            return next.find(folded) != next.end() || AddKey(next, path, FileTimeNow());
        }))
        return nullptr;
    return std::make_unique<TFileRegistryKey>(*this, folded, true);
}

bool TFileRegistry::DeleteKey(const std::string& path) {
    std::lock_guard<std::mutex> guard(Lock);
    const std::string folded = Fold(path);
    if (folded.empty())
        return false;
    return Update([&](TKeys& next) {
        if (next.find(folded) == next.end())
            return false;
        const std::string below = folded + "\\";
        for (auto it = next.begin(); it != next.end();)
            if (it->first == folded || it->first.compare(0, below.size(), below) == 0)
                it = next.erase(it);
            else
                ++it;
        const size_t slash = folded.find_last_of('\\');
        next[slash == std::string::npos ? std::string() : folded.substr(0, slash)].LastWrite =
            FileTimeNow();
        return true;
    });
}

} // namespace qvx
