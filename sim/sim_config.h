#pragma once
// Configuration of the simulated adapter: what it says about itself, how fast
// it talks and which faults it shows. A plain value; TSimAdapter copies it.
//
// Text form (ParseSimConfig / FormatSimConfig): one "key=value" per line; a
// ';' also ends a line, so a whole configuration fits into one environment
// variable. Blank lines and lines starting with '#' are skipped. Keys and
// values are trimmed of blanks and tabs (a CRLF file's CR goes too; a blank
// that belongs at either end of a value is written \x20). Text values understand the escapes \r \n
// \t \\ and \xHH; a literal
// ';' is written \x3B. Booleans are 0/1, false/true, no/yes or off/on.
// Times are microseconds.
//
//   identity.copyright   text after "CR:" on the first reply line
//   identity.usb         a "USB-..." line (whole line) after the first; empty = none
//   identity.serial      serial number                ("SN:")
//   identity.signature   signature                    ("ID:")
//   identity.firmware    firmware version             ("FW:")
//   identity.boot        boot loader version; empty = no "BW:" line
//   identity.hardware    hardware version             ("HW:")
//   identity.longtags    bool: "Serial Number: ", "Signature: ", "Version ",
//                        "Hardware: " instead of the short tags
//   identity.extra       one more line, verbatim, before the end (repeatable,
//                        each adds a line)
//   mode                 a listed mode line "NNN M Description" with a 1 to 3
//                        character number of 0-9/A-Z and a marker M of
//                        - _ + * (repeatable; the first mode key of a text
//                        replaces the default list)
//   mode.clear           (no value) empties the mode list
//   mode.hidden          a mode the adapter runs but never lists (same form)
//   mode.running         number of the running mode
//   driver.version       pass-thru driver version; empty = no "PT:" line
//   driver.image         driver image bytes (escaped text)
//   driver.image.hex     driver image bytes as hex digits
//   driver.image.pattern driver image of N bytes counting 0x00..0xFF
//   driver.image.file    driver image = the bytes of this file; a relative
//                        path is taken from the folder of the configuration
//                        file (LoadSimConfig "@" + file), else from the
//                        current folder
//   driver.trickle       time between two bytes of the driver image reply (a
//                        device that trickles it); 0 = at the line rate
//   power.lines          bool: identity replies carry "PI:"/"UI:"
//   power.on             bool: external power output is switched on
//   power.volts          measured supply, decimal text ("UI:" + text + "V")
//   test.steps           self-test steps (each a progress line)
//   test.errors          "ERROR" words in the self-test log
//   test.warnings        "WARNING" words in the self-test log
//   test.stepdelay       time between two progress pieces of the self-test
//   boot.start           bool: the adapter starts in its boot loader
//   boot.pagesize        page size reported by the boot loader
//   boot.serial          serial number reported by the boot loader (8 chars)
//   boot.id              identification text reported by the boot loader
//   boot.prompt.delay    time from entering the boot loader to its first '>'
//   boot.prompt.repeat   interval of repeated '>' until '<' arrives; 0 = once
//   boot.fallback.idle   silence that ends a short fallback header
//   boot.frame.idle      silence that makes the boot loader drop a partial
//                        page frame and ask again ('-', then the request)
//   line.rate            bytes per second towards the host; 0 = unlimited
//   line.chunk           largest piece that reaches the host at once (with a
//                        line rate; an unlimited line hands over everything
//                        at once); 0 = byte by byte as each is sent
//   line.delay           time from a command to the first byte of its reply
//   fault.silent         bool: answers nothing at all
//   fault.identify.from  the first identify that is answered (1 = every one)
//   fault.identify.once  bool: only that one identify is answered, no later one
//   fault.garbage        bytes sent before every reply (escaped text)
//   fault.flood          this many pseudo-random bytes sent before every
//                        reply, after the garbage
//   fault.babble         bool: an endless stream of pseudo-random bytes, one
//                        millisecond's worth of the line rate every
//                        millisecond (1024 bytes at an unlimited line)
//   fault.noend          bool: replies lack their end marker ("[END]" for
//                        the driver image)
//   fault.echo           bool: the service interface echoes every write
//   fault.nak.page       page number answered with '-'; -1 = none
//   fault.nak.count      how many times that page is refused; -1 = always
//   fault.nak.end        bool: the end marker is answered with '-'
//   fault.header.silent  bool: no answer to the 83-byte header; the boot
//                        loader answers the fallback header instead
//   fault.disconnect.bytes  disconnect after this many bytes reached the host; 0 = never
//   fault.disconnect.at     disconnect at this simulated time; 0 = never
//   fault.write.stall    bool: the host's writes never complete: they stay in
//                        flight and never reach the adapter
//   fault.write.delay    time from handing a write over to its completion
//                        (its bytes reach the adapter then); writes follow
//                        one another
//   fault.endless        bool: every framed reply and the self-test log send
//                        their start and first line, then lines for ever at
//                        the line rate (one millisecond's worth every
//                        millisecond, 1024 bytes at an unlimited line), never
//                        the end marker; a restart ("!Morvek_SC_R"), the boot
//                        loader or a disconnect ends the stream
//   fault.boot.silent.page  the boot loader acknowledges this page and then
//                        sends nothing more, whatever it is sent; -1 = none
//   fault.vanish.page    the adapter disconnects once its acknowledgement of
//                        this page has reached the host; -1 = none
#include "platform/bytes.h"
#include "sim/sim_library.h"

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

namespace qvx {

struct TSimMode {
    std::string Number;      // 1 to 3 characters of 0-9 and A-Z
    char Marker = '-';       // '-' active, '_', '+', '*' offered but not active
    std::string Description; // rest of the line
    bool Hidden = false;     // runs when selected, but is never listed

    std::string Line() const { return Number + ' ' + Marker + ' ' + Description; }
    // Every field as one tuple of references; the binding names each field,
    // so a field added or removed fails to compile here.
    auto Fields() const {
        const auto& [number, marker, description, hidden] = *this;
        return std::tie(number, marker, description, hidden);
    }
    bool operator==(const TSimMode& o) const { return Fields() == o.Fields(); }
};

struct TSimConfig {
    // Identity.
    std::string Copyright = "(c) Morveklink, Quorvelix adapter";
    std::string UsbLine;
    std::string SerialNumber = "QV2A0017";
    std::string Signature = "5A3C91E0";
    std::string FirmwareVersion = "2.31";
    std::string BootVersion = "1.07";
    std::string HardwareVersion = "3.0";
    bool LongTags = false;
    std::vector<std::string> ExtraLines;

    std::vector<TSimMode> Modes = {
        {"000", '-', "Service", false},
        {"001", '-', "SAE J2534 Pass-Thru", false},
        {"002", '-', "Scan tool emulation", false},
        {"003", '_', "Data logger", false},
        {"004", '+', "CAN gateway", false},
        {"005", '*', "K-Line monitor", false},
    };
    std::string RunningMode = "001";

    std::string DriverVersion = "105";
    // A library for 32-bit x86 carrying the marker "MkdV105".
    Bytes DriverImage = SimDriverLibrary("105");
    uint64_t DriverTrickleUs = 0;

    bool PowerLines = true;
    bool PowerOn = false;
    std::string SupplyVolts = "12.34";

    int TestSteps = 6;
    int TestErrors = 0;
    int TestWarnings = 0;
    uint64_t TestStepDelayUs = 20000;

    bool StartInBootLoader = false;
    int PageSize = 128;
    std::string BootSerial = "QV2A0017";
    std::string BootId = "Quorvelix boot loader 1.07";
    uint64_t PromptDelayUs = 50000;
    uint64_t PromptRepeatUs = 500000;
    uint64_t FallbackIdleUs = 100000;
    uint64_t FrameIdleUs = 500000;

    uint64_t BytesPerSecond = 0;
    uint64_t ChunkSize = 0;
    uint64_t ReplyDelayUs = 0;

    bool Silent = false;
    int IdentifyAnswerFrom = 1;
    bool IdentifyAnswerOnce = false;
    Bytes Garbage;
    uint64_t FloodBytes = 0;
    bool Babble = false;
    bool MissingEndMarker = false;
    bool Echo = false;
    int NakPage = -1;
    int NakCount = 1;
    bool NakEndMarker = false;
    bool SilentAfterHeader = false;
    uint64_t DisconnectAfterBytes = 0;
    uint64_t DisconnectAtUs = 0;
    bool WriteStall = false;
    uint64_t WriteDelayUs = 0;
    bool EndlessReply = false;
    int SilentAfterPage = -1;
    int VanishAfterPage = -1;

    // The mode with this number, listed or hidden; null when there is none.
    const TSimMode* FindMode(const std::string& number) const;

    bool operator==(const TSimConfig& o) const;
    bool operator!=(const TSimConfig& o) const { return !(*this == o); }
};

// Fastest line the simulation models; larger rates are taken as this one.
constexpr uint64_t kSimMaxBytesPerSecond = 10000000;

// Applies the lines of `text` to `config` (start from a default TSimConfig for
// a fresh one). On the first bad line: false, `error` says which line and why,
// and `config` is left unchanged.
bool ParseSimConfig(const std::string& text, TSimConfig& config, std::string& error);
// As above; relative file paths of the text are taken from baseDir (empty =
// the current folder).
bool ParseSimConfig(const std::string& text, TSimConfig& config, std::string& error,
                    const std::string& baseDir);

// The configuration text itself, or "@" + the name of a file that holds it
// (for an environment variable that names a file); relative paths in a file
// are taken from the file's folder.
bool LoadSimConfig(const std::string& source, TSimConfig& config, std::string& error);

// As LoadSimConfig, for one or more adapters: their texts are separated by
// lines of "---", and each adapter starts from the default configuration. On
// the first bad line (error then also names the adapter, counted from 1 when
// there are several) false, and `configs` is left unchanged.
bool LoadSimConfigs(const std::string& source, std::vector<TSimConfig>& configs,
                    std::string& error);

// The text form of every field, one key a line (joined with ';' instead of
// line ends it still parses: values never hold a bare ';'); ParseSimConfig of it gives `config`
// back.
std::string FormatSimConfig(const TSimConfig& config);

// Mode line grammar shared with the parser: "NNN M Description".
bool ParseSimModeLine(const std::string& line, TSimMode& mode);

} // namespace qvx
