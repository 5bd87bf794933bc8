#pragma once
// The simulated adapter: the adapter's end of the wire, for tests, for the
// stand-in D2XX library and for the demo. It runs the service interface of the
// adapter's firmware and its boot loader.
//
// Time is simulated: nothing happens between calls, and output reaches the
// host only inside Advance, as the simulated clock passes the moment each byte
// has been sent (line rate, chunking and reply delay of the configuration).
// Host bytes are taken at the moment HostWrite is called.
//
// Service interface: a command is recognised by its 12 bytes "!Morvek_SC_" +
// letter, wherever they occur in the host's byte stream (bytes outside a
// command are dropped; a command may be split across writes). The argument of
// "!Morvek_SC_M" and "!Morvek_SC_P" is whatever the next write carries, unless
// that write starts with '!', which starts a new command instead; bytes that
// follow the 12 command bytes in the same write are the argument instead.
//
// Boot loader (entered with "!Morvek_SC_U", or at start with boot.start):
// repeats '>' until the host's '<', answers it with '+', takes the header
// frame ('#', checksum, 80 bytes) and answers with the page size, its serial
// number and identification, then asks for pages 0, 1, 2 ... ('.' + number),
// acknowledges each page ('+' + number) until the end marker ('@' FF FF),
// which it acknowledges before it starts the firmware again. Every page that
// it accepts is kept for inspection.
//
// Thread-safe: one mutex guards everything. The simulated clock runs up to
// kSimMaxClockUs (about ten days); Advance stops there.
#include "platform/bytes.h"
#include "sim/sim_config.h"

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

namespace qvx {

// Sum of all bytes, each unsigned, modulo 65536: the boot loader frames' checksum.
uint16_t SimChecksum16(const Bytes& data);
// A 16-bit number as the wire carries it: low byte first.
Bytes SimLe16(uint16_t value);

constexpr uint64_t kSimMaxClockUs = INT64_MAX / kSimMaxBytesPerSecond;

enum class TSimState { Firmware, BootPrompt, BootHeader, BootFallbackHeader, BootPages };

class TSimAdapter {
public:
    explicit TSimAdapter(const TSimConfig& config = TSimConfig());

    // The host's side of the wire.
    void HostWrite(const Bytes& bytes);
    Bytes HostRead(size_t max);
    size_t HostAvailable() const;
    void Advance(uint64_t microseconds);
    uint64_t Now() const;

    // A new configuration takes effect for everything that happens from now
    // on; the running mode and power state are kept.
    void SetConfig(const TSimConfig& config);
    TSimConfig Config() const;
    // The faults of the host's writes (fault.write.*), without copying the
    // whole configuration: the links ask on every write.
    struct TWriteFaults {
        bool Stall = false;
        uint64_t DelayUs = 0;
        uint64_t BytesPerSecond = 0; // the line rate, which the host's bytes cross too
    };
    TWriteFaults WriteFaults() const;

    // Unplugging: output not yet sent is lost and the adapter takes no more
    // input; bytes that already reached the host stay readable. Reconnect
    // plugs it in again, running its firmware (or boot loader with boot.start).
    void Disconnect();
    void Reconnect();
    bool Connected() const;

    // Inspection for tests.
    TSimState State() const;
    std::string RunningMode() const;
    bool PowerOn() const;
    int IdentifyCount() const;
    // The letters of every recognised command, in order ('I', 'M', ...).
    std::string CommandLog() const;
    // The arguments taken for "!Morvek_SC_M" and "!Morvek_SC_P", in order.
    std::vector<Bytes> ArgumentLog() const;
    uint64_t BytesSent() const;
    Bytes ReceivedHeader() const;
    Bytes ReceivedFallbackHeader() const;
    // Pages accepted by the boot loader, by page number (a re-sent page
    // replaces the earlier copy).
    std::map<uint16_t, Bytes> Pages() const;
    int NaksSent() const;
    int CompletedUploads() const;

private:
    struct TSegment {
        uint64_t ReadyAt = 0;
        Bytes Data;
        size_t Pos = 0;
    };

    void Send(const Bytes& data, uint64_t readyAt);
    void SendReply(const Bytes& data);
    // What goes ahead of every reply: the garbage, then the flood.
    Bytes ReplyPrefix();
    Bytes Noise(uint64_t count);
    Bytes Frame(const std::vector<std::string>& lines) const;
    // With fault.endless: sends the start of a reply up to the end of its
    // first line, from `at` on, and starts the endless stream of lines.
    void SendEndlessStart(const Bytes& data, uint64_t at);
    std::vector<std::string> IdentityLines() const;
    std::vector<std::string> PowerLines() const;
    std::string FirstLine() const;

    void FirmwareInput(const Bytes& bytes);
    void Command(char letter);
    void Argument(const Bytes& arg);
    void SendSelfTest();
    void EnterFirmware();
    void EnterBootLoader(uint64_t promptAt);

    void BootInput(const Bytes& bytes);
    void BootStep();
    void BootHeaderAnswer();
    void RequestPage(uint16_t page);
    void PageFrame();

    uint64_t NextEventAt() const;
    void FireEvents();
    void Deliver();
    bool NextByteStart(uint64_t& startScaled) const;
    uint64_t Rate() const;
    uint64_t Scaled(uint64_t t) const;
    void DisconnectLocked();

    mutable std::mutex Lock;
    TSimConfig Cfg;
    uint64_t Clock = 0;
    bool IsConnected = true;

    // Towards the host.
    std::deque<TSegment> Queue;
    uint64_t LineFreeScaled = 0; // end of the last byte sent, in 1/rate microseconds
    Bytes Assembling;            // sent, not yet handed over as a chunk
    Bytes Available;             // handed over, not yet read by the host
    size_t AvailablePos = 0;
    uint64_t Sent = 0;
    uint64_t SentSinceConnect = 0;
    bool DisconnectAtDone = false;
    uint32_t NoiseState = 0x2545F491u; // xorshift32 state of the noise
    uint64_t NextBabbleAt = 0;
    uint64_t QueuedTotal = 0;           // bytes queued for the host so far (Sent once delivered)
    uint64_t VanishAtSent = 0;          // disconnect once Sent reaches this; 0 = not due
    uint64_t NextStreamAt = UINT64_MAX; // next piece of an endless reply; none due
    uint64_t StreamLines = 0;

    // Service interface.
    TSimState St = TSimState::Firmware;
    Bytes FwRx;
    char AwaitingArgument = 0;
    std::string Running;
    bool Power = false;
    int Identifies = 0;
    std::string Commands;
    std::vector<Bytes> Arguments;

    // Boot loader.
    Bytes BootRx;
    uint64_t LastInputAt = 0;
    uint64_t NextPromptAt = UINT64_MAX; // none due
    uint16_t RequestedPage = 0;
    bool BootMute = false; // fault.boot.silent.page has struck
    int NakGiven = 0;
    int Naks = 0;
    int Uploads = 0;
    Bytes Header;
    Bytes FallbackHeader;
    std::map<uint16_t, Bytes> ReceivedPages;
};

} // namespace qvx
