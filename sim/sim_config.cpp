#include "sim/sim_config.h"

#include "platform/text.h"

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <fstream>
#include <sstream>
#include <tuple>

namespace qvx {

const TSimMode* TSimConfig::FindMode(const std::string& number) const {
    for (const TSimMode& m : Modes) {
        if (m.Number == number) {
            return &m;
        }
    }
    return nullptr;
}

namespace {

// Every field of a configuration, in the order of declaration, as one tuple of
// references. The binding has to name each field: a field added or removed
// makes it fail to compile, so the comparison cannot leave a field out. (A new
// field also wants its key in MakeKeys, for the text form.)
auto AllFields(const TSimConfig& c) {
    const auto& [f01, f02, f03, f04, f05, f06, f07, f08, f09, f10, f11, f12, f13, f14, f15, f16,
                 f17, f18, f19, f20, f21, f22, f23, f24, f25, f26, f27, f28, f29, f30, f31, f32,
                 f33, f34, f35, f36, f37, f38, f39, f40, f41, f42, f43, f44, f45, f46, f47, f48,
                 f49, f50, f51] = c;
    return std::tie(f01, f02, f03, f04, f05, f06, f07, f08, f09, f10, f11, f12, f13, f14, f15, f16,
                    f17, f18, f19, f20, f21, f22, f23, f24, f25, f26, f27, f28, f29, f30, f31, f32,
                    f33, f34, f35, f36, f37, f38, f39, f40, f41, f42, f43, f44, f45, f46, f47, f48,
                    f49, f50, f51);
}

} // namespace

bool TSimConfig::operator==(const TSimConfig& o) const {
    return AllFields(*this) == AllFields(o);
}

namespace {

bool IsModeNumberChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z');
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool Unescape(const std::string& in, Bytes& out, std::string& why) {
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '\\') {
            out += in[i];
            continue;
        }
        if (i + 1 >= in.size()) {
            why = "a '\\' ends the value";
            return false;
        }
        char e = in[++i];
        switch (e) {
        case 'r':
            out += '\r';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case '\\':
            out += '\\';
            break;
        case 'x': {
            int hi = i + 1 < in.size() ? HexDigit(in[i + 1]) : -1;
            int lo = i + 2 < in.size() ? HexDigit(in[i + 2]) : -1;
            if (hi < 0 || lo < 0) {
                why = "'\\x' needs two hex digits";
                return false;
            }
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
        }
        default:
            why = std::string("unknown escape '\\") + e + "'";
            return false;
        }
    }
    return true;
}

// Values are trimmed when read, so blanks at either end are written as \x20.
std::string Escape(const Bytes& in) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < in.size(); ++i) {
        char ch = in[i];
        unsigned char c = static_cast<unsigned char>(ch);
        bool edge = i == 0 || i + 1 == in.size();
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c < 0x20 || c >= 0x7F || c == ';' || (c == ' ' && edge)) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

std::string ToHex(const Bytes& in) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char ch : in) {
        unsigned char c = static_cast<unsigned char>(ch);
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    return out;
}

bool FromHex(const std::string& in, Bytes& out, std::string& why) {
    out.clear();
    if (in.size() % 2 != 0) {
        why = "an odd number of hex digits";
        return false;
    }
    for (size_t i = 0; i < in.size(); i += 2) {
        int hi = HexDigit(in[i]);
        int lo = HexDigit(in[i + 1]);
        if (hi < 0 || lo < 0) {
            why = "'" + in.substr(i, 2) + "' is not a hex byte";
            return false;
        }
        out += static_cast<char>(hi * 16 + lo);
    }
    return true;
}

bool ParseSigned(const std::string& in, long long lo, long long hi, long long& out) {
    if (in.empty()) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(in.c_str(), &end, 10);
    if (errno != 0 || end != in.c_str() + in.size() || v < lo || v > hi) {
        return false;
    }
    out = v;
    return true;
}

bool ParseBool(const std::string& in, bool& out) {
    if (in == "1" || in == "true" || in == "yes" || in == "on") {
        out = true;
        return true;
    }
    if (in == "0" || in == "false" || in == "no" || in == "off") {
        out = false;
        return true;
    }
    return false;
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) {
        return std::string();
    }
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// One key: how a value is read into the config, and how it is written back.
// An empty `Format` marks a key that FormatSimConfig does not write (an
// alternative spelling of a field that another key writes).
struct TKey {
    std::function<bool(const std::string& value, TSimConfig& c, std::string& why)> Parse;
    std::function<std::vector<std::string>(const TSimConfig& c)> Format;
};

using TKeyTable = std::vector<std::pair<std::string, TKey>>;

TKey TextKey(std::string TSimConfig::*field) {
    return {[field](const std::string& v, TSimConfig& c, std::string& why) {
                return Unescape(v, c.*field, why);
            },
            [field](const TSimConfig& c) { return std::vector<std::string>{Escape(c.*field)}; }};
}

TKey BoolKey(bool TSimConfig::*field) {
    return {
        [field](const std::string& v, TSimConfig& c, std::string& why) {
            if (!ParseBool(v, c.*field)) {
                why = "needs 0 or 1, got '" + v + "'";
                return false;
            }
            return true;
        },
        [field](const TSimConfig& c) { return std::vector<std::string>{c.*field ? "1" : "0"}; }};
}

TKey IntKey(int TSimConfig::*field, long long lo, long long hi) {
    return {[field, lo, hi](const std::string& v, TSimConfig& c, std::string& why) {
                long long n = 0;
                if (!ParseSigned(v, lo, hi, n)) {
                    why = "needs a whole number from " + std::to_string(lo) + " to " +
                          std::to_string(hi) + ", got '" + v + "'";
                    return false;
                }
                c.*field = static_cast<int>(n);
                return true;
            },
            [field](const TSimConfig& c) {
                return std::vector<std::string>{std::to_string(c.*field)};
            }};
}

TKey CountKey(uint64_t TSimConfig::*field) {
    return {[field](const std::string& v, TSimConfig& c, std::string& why) {
                long long n = 0;
                if (v.empty() || v[0] == '-' || !ParseSigned(v, 0, INT64_MAX, n)) {
                    why = "needs a whole number of 0 or more, got '" + v + "'";
                    return false;
                }
                c.*field = static_cast<uint64_t>(n);
                return true;
            },
            [field](const TSimConfig& c) {
                return std::vector<std::string>{std::to_string(c.*field)};
            }};
}

// Appends one mode; the first mode key of a text replaces the default list,
// which `freshModes` remembers for the length of one ParseSimConfig.
TKey ModeKey(bool hidden, bool& freshModes) {
    return {[hidden, &freshModes](const std::string& v, TSimConfig& c, std::string& why) {
                Bytes line;
                TSimMode mode;
                if (!Unescape(v, line, why)) {
                    return false;
                }
                if (!ParseSimModeLine(line, mode)) {
                    why = "needs a mode line like '05 - CAN', got '" + v + "'";
                    return false;
                }
                if (freshModes) {
                    c.Modes.clear();
                    freshModes = false;
                }
                mode.Hidden = hidden;
                c.Modes.push_back(mode);
                return true;
            },
            [hidden](const TSimConfig& c) {
                std::vector<std::string> out;
                for (const TSimMode& m : c.Modes) {
                    if (m.Hidden == hidden) {
                        out.push_back(Escape(m.Line()));
                    }
                }
                return out;
            }};
}

// A file path as the configuration gives it: an absolute path as it is, a
// relative one below baseDir (the folder of the configuration file; empty =
// the current folder).
std::string ResolveConfigPath(const std::string& path, const std::string& baseDir) {
    const bool absolute = (!path.empty() && (path[0] == '/' || path[0] == '\\')) ||
                          (path.size() > 1 && path[1] == ':');
    if (absolute || baseDir.empty())
        return path;
    const char last = baseDir.back();
    if (last == '/' || last == '\\')
        return baseDir + path;
    return baseDir + (baseDir.find('\\') != std::string::npos ? "\\" : "/") + path;
}

bool ReadFileBytes(const std::string& path, Bytes& bytes) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    std::ostringstream text;
    text << file.rdbuf();
    bytes = text.str();
    return true;
}

TKeyTable MakeKeys(bool& freshModes, const std::string& baseDir = std::string()) {
    using C = TSimConfig;
    TKeyTable keys = {
        {"identity.copyright", TextKey(&C::Copyright)},
        {"identity.usb", TextKey(&C::UsbLine)},
        {"identity.serial", TextKey(&C::SerialNumber)},
        {"identity.signature", TextKey(&C::Signature)},
        {"identity.firmware", TextKey(&C::FirmwareVersion)},
        {"identity.boot", TextKey(&C::BootVersion)},
        {"identity.hardware", TextKey(&C::HardwareVersion)},
        {"identity.longtags", BoolKey(&C::LongTags)},
        {"identity.extra",
         {[](const std::string& v, C& c, std::string& why) {
              Bytes line;
              if (!Unescape(v, line, why)) {
                  return false;
              }
              c.ExtraLines.push_back(line);
              return true;
          },
          [](const C& c) {
              std::vector<std::string> out;
              for (const std::string& l : c.ExtraLines) {
                  out.push_back(Escape(l));
              }
              return out;
          }}},
        {"mode.clear",
         {[&freshModes](const std::string& v, C& c, std::string& why) {
              if (!v.empty()) {
                  why = "takes no value, got '" + v + "'";
                  return false;
              }
              c.Modes.clear();
              freshModes = false;
              return true;
          },
          [](const C&) { return std::vector<std::string>{""}; }}},
        {"mode", ModeKey(false, freshModes)},
        {"mode.hidden", ModeKey(true, freshModes)},
        {"mode.running", TextKey(&C::RunningMode)},
        {"driver.version", TextKey(&C::DriverVersion)},
        {"driver.image.hex",
         {[](const std::string& v, C& c, std::string& why) {
              return FromHex(v, c.DriverImage, why);
          },
          [](const C& c) { return std::vector<std::string>{ToHex(c.DriverImage)}; }}},
        {"driver.image", {TextKey(&C::DriverImage).Parse, nullptr}},
        {"driver.image.file",
         {[baseDir](const std::string& v, C& c, std::string& why) {
              const std::string path = ResolveConfigPath(v, baseDir);
              if (v.empty() || !ReadFileBytes(path, c.DriverImage)) {
                  why = "cannot read the file '" + path + "'";
                  return false;
              }
              return true;
          },
          nullptr}},
        {"driver.image.pattern",
         {[](const std::string& v, C& c, std::string& why) {
              long long n = 0;
              if (!ParseSigned(v, 0, 1 << 20, n)) {
                  why = "needs a byte count from 0 to 1048576, got '" + v + "'";
                  return false;
              }
              c.DriverImage.resize(static_cast<size_t>(n));
              for (long long i = 0; i < n; ++i) {
                  c.DriverImage[static_cast<size_t>(i)] = static_cast<char>(i & 0xFF);
              }
              return true;
          },
          nullptr}},
        {"power.lines", BoolKey(&C::PowerLines)},
        {"power.on", BoolKey(&C::PowerOn)},
        {"power.volts", TextKey(&C::SupplyVolts)},
        {"test.steps", IntKey(&C::TestSteps, 0, 1000)},
        {"test.errors", IntKey(&C::TestErrors, 0, 1000)},
        {"test.warnings", IntKey(&C::TestWarnings, 0, 1000)},
        {"test.stepdelay", CountKey(&C::TestStepDelayUs)},
        {"boot.start", BoolKey(&C::StartInBootLoader)},
        {"boot.pagesize", IntKey(&C::PageSize, 1, 65535)},
        {"boot.serial", TextKey(&C::BootSerial)},
        {"boot.id", TextKey(&C::BootId)},
        {"boot.prompt.delay", CountKey(&C::PromptDelayUs)},
        {"boot.prompt.repeat", CountKey(&C::PromptRepeatUs)},
        {"boot.fallback.idle", CountKey(&C::FallbackIdleUs)},
        {"boot.frame.idle", CountKey(&C::FrameIdleUs)},
        {"line.rate", CountKey(&C::BytesPerSecond)},
        {"line.chunk", CountKey(&C::ChunkSize)},
        {"line.delay", CountKey(&C::ReplyDelayUs)},
        {"fault.silent", BoolKey(&C::Silent)},
        {"fault.identify.from", IntKey(&C::IdentifyAnswerFrom, 1, 1000000)},
        {"fault.identify.once", BoolKey(&C::IdentifyAnswerOnce)},
        {"fault.garbage", TextKey(&C::Garbage)},
        {"fault.flood", CountKey(&C::FloodBytes)},
        {"fault.babble", BoolKey(&C::Babble)},
        {"fault.noend", BoolKey(&C::MissingEndMarker)},
        {"fault.echo", BoolKey(&C::Echo)},
        {"fault.nak.page", IntKey(&C::NakPage, -1, 65534)},
        {"fault.nak.count", IntKey(&C::NakCount, -1, 1000000)},
        {"fault.nak.end", BoolKey(&C::NakEndMarker)},
        {"fault.header.silent", BoolKey(&C::SilentAfterHeader)},
        {"fault.disconnect.bytes", CountKey(&C::DisconnectAfterBytes)},
        {"fault.disconnect.at", CountKey(&C::DisconnectAtUs)},
        {"fault.write.stall", BoolKey(&C::WriteStall)},
        {"fault.write.delay", CountKey(&C::WriteDelayUs)},
        {"fault.endless", BoolKey(&C::EndlessReply)},
        {"fault.boot.silent.page", IntKey(&C::SilentAfterPage, -1, 65534)},
        {"fault.vanish.page", IntKey(&C::VanishAfterPage, -1, 65534)},
        {"driver.trickle", CountKey(&C::DriverTrickleUs)},
    };
    return keys;
}

} // namespace

bool ParseSimModeLine(const std::string& line, TSimMode& mode) {
    size_t w = 0;
    while (w < line.size() && w < 4 && IsModeNumberChar(line[w])) {
        ++w;
    }
    if (w < 1 || w > 3 || line.size() < w + 3 || line[w] != ' ' || line[w + 2] != ' ') {
        return false;
    }
    char marker = line[w + 1];
    if (marker != '-' && marker != '_' && marker != '+' && marker != '*') {
        return false;
    }
    mode.Number = line.substr(0, w);
    mode.Marker = marker;
    mode.Description = line.substr(w + 3);
    return true;
}

bool ParseSimConfig(const std::string& text, TSimConfig& config, std::string& error) {
    return ParseSimConfig(text, config, error, std::string());
}

bool ParseSimConfig(const std::string& text, TSimConfig& config, std::string& error,
                    const std::string& baseDir) {
    bool freshModes = true;
    const TKeyTable keys = MakeKeys(freshModes, baseDir);
    TSimConfig work = config;
    size_t pos = 0;
    int lineNo = 0;
    while (pos <= text.size()) {
        size_t end = text.find_first_of("\n;", pos);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (Trim(line).empty() || Trim(line)[0] == '#') {
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string::npos) {
            error = "line " + std::to_string(lineNo) + ": no '=' in '" + line + "'";
            return false;
        }
        std::string key = Trim(line.substr(0, eq));
        std::string value = Trim(line.substr(eq + 1));
        const TKey* found = nullptr;
        for (const auto& k : keys) {
            if (k.first == key) {
                found = &k.second;
                break;
            }
        }
        if (found == nullptr) {
            error = "line " + std::to_string(lineNo) + ": unknown key '" + key + "'";
            return false;
        }
        std::string why;
        if (!found->Parse(value, work, why)) {
            error = "line " + std::to_string(lineNo) + ": '" + key + "' " + why;
            return false;
        }
    }
    config = work;
    error.clear();
    return true;
}

namespace {

// The configuration text a source names: the source itself, or the file
// after an "@", whose folder is then where relative file names start.
bool ReadSimSource(const std::string& source, Bytes& text, std::string& baseDir,
                   std::string& error) {
    baseDir.clear();
    if (source.empty() || source[0] != '@') {
        text = source;
        return true;
    }
    const std::string fileName = source.substr(1);
    if (!ReadFileBytes(fileName, text)) {
        error = "cannot read the file '" + fileName + "'";
        return false;
    }
    baseDir = FolderOf(fileName);
    if (!baseDir.empty())
        baseDir.pop_back();
    return true;
}

} // namespace

bool LoadSimConfig(const std::string& source, TSimConfig& config, std::string& error) {
    Bytes text;
    std::string baseDir;
    return ReadSimSource(source, text, baseDir, error) &&
           ParseSimConfig(text, config, error, baseDir);
}

bool LoadSimConfigs(const std::string& source, std::vector<TSimConfig>& configs,
                    std::string& error) {
    Bytes text;
    std::string baseDir;
    if (!ReadSimSource(source, text, baseDir, error))
        return false;
    // The parts between "---" lines; a line ends at '\n' or ';' as in
    // ParseSimConfig.
    std::vector<std::string> parts(1);
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find_first_of("\n;", pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        std::string bare = line;
        if (!bare.empty() && bare.back() == '\r')
            bare.pop_back();
        if (Trim(bare) == "---")
            parts.emplace_back();
        else
            parts.back() += line + (end < text.size() ? text.substr(end, 1) : std::string());
        pos = end + 1;
    }
    std::vector<TSimConfig> parsed(parts.size());
    for (size_t i = 0; i < parts.size(); ++i) {
        std::string why;
        if (!ParseSimConfig(parts[i], parsed[i], why, baseDir)) {
            error = parts.size() > 1 ? "adapter " + std::to_string(i + 1) + ", " + why : why;
            return false;
        }
    }
    configs = std::move(parsed);
    return true;
}

std::string FormatSimConfig(const TSimConfig& config) {
    bool freshModes = true;
    const TKeyTable keys = MakeKeys(freshModes);
    std::string out;
    for (const auto& k : keys) {
        if (!k.second.Format) {
            continue;
        }
        for (const std::string& v : k.second.Format(config)) {
            out += k.first + "=" + v + "\n";
        }
    }
    return out;
}

} // namespace qvx
