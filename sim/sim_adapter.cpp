#include "sim/sim_adapter.h"

#include <algorithm>

namespace qvx {

namespace {

constexpr uint64_t kNever = UINT64_MAX;
constexpr size_t kHeaderFrameLength = 83;     // '#', checksum, 80 header bytes
constexpr size_t kFallbackHeaderLength = 184; // sent raw
constexpr uint16_t kEndMarkerPage = 0xFFFF;
const char kCommandPrefix[] = "!Morvek_SC_";
constexpr size_t kCommandLength = 12;

uint16_t Le16At(const Bytes& b, size_t pos) {
    return static_cast<uint16_t>(static_cast<unsigned char>(b[pos]) |
                                 (static_cast<unsigned char>(b[pos + 1]) << 8));
}

// Largest flood sent ahead of one reply.
constexpr uint64_t kMaxFloodBytes = 16u << 20;
// Babble at an unlimited line: bytes per millisecond.
constexpr uint64_t kUnlimitedBabbleBytes = 1024;

const char* const kTestNames[] = {"Supply", "CAN 1", "CAN 2",  "K-Line",
                                  "L-Line", "J1850", "Memory", "Clock"};

} // namespace

uint16_t SimChecksum16(const Bytes& data) {
    unsigned sum = 0;
    for (char c : data) {
        sum += static_cast<unsigned char>(c);
    }
    return static_cast<uint16_t>(sum & 0xFFFF);
}

Bytes SimLe16(uint16_t value) {
    Bytes b;
    b += static_cast<char>(value & 0xFF);
    b += static_cast<char>(value >> 8);
    return b;
}

TSimAdapter::TSimAdapter(const TSimConfig& config) : Cfg(config) {
    Running = Cfg.RunningMode;
    Power = Cfg.PowerOn;
    if (Cfg.StartInBootLoader) {
        EnterBootLoader(Cfg.PromptDelayUs);
    }
}

// ---- host side -------------------------------------------------------------

void TSimAdapter::HostWrite(const Bytes& bytes) {
    std::lock_guard<std::mutex> g(Lock);
    if (!IsConnected || bytes.empty()) {
        return;
    }
    if (St == TSimState::Firmware) {
        FirmwareInput(bytes);
    } else {
        BootInput(bytes);
    }
}

Bytes TSimAdapter::HostRead(size_t max) {
    std::lock_guard<std::mutex> g(Lock);
    size_t n = std::min(max, Available.size() - AvailablePos);
    Bytes out = Available.substr(AvailablePos, n);
    AvailablePos += n;
    if (AvailablePos == Available.size()) {
        Available.clear();
        AvailablePos = 0;
    } else if (AvailablePos >= 65536) {
        Available.erase(0, AvailablePos);
        AvailablePos = 0;
    }
    return out;
}

size_t TSimAdapter::HostAvailable() const {
    std::lock_guard<std::mutex> g(Lock);
    return Available.size() - AvailablePos;
}

void TSimAdapter::Advance(uint64_t microseconds) {
    std::lock_guard<std::mutex> g(Lock);
    uint64_t target = Clock + std::min(microseconds, kSimMaxClockUs - Clock);
    for (;;) {
        uint64_t next = NextEventAt();
        if (next > target) {
            break;
        }
        Clock = std::max(Clock, next);
        Deliver();
        FireEvents();
    }
    Clock = target;
    Deliver();
}

uint64_t TSimAdapter::Now() const {
    std::lock_guard<std::mutex> g(Lock);
    return Clock;
}

void TSimAdapter::SetConfig(const TSimConfig& config) {
    std::lock_guard<std::mutex> g(Lock);
    // Keep the end of the byte on the line in real time across a rate change.
    uint64_t oldRate = Rate();
    uint64_t lineFreeUs = oldRate ? (LineFreeScaled + oldRate - 1) / oldRate : LineFreeScaled;
    Cfg = config;
    LineFreeScaled = Scaled(lineFreeUs);
}

TSimConfig TSimAdapter::Config() const {
    std::lock_guard<std::mutex> g(Lock);
    return Cfg;
}

TSimAdapter::TWriteFaults TSimAdapter::WriteFaults() const {
    std::lock_guard<std::mutex> g(Lock);
    return {Cfg.WriteStall, Cfg.WriteDelayUs, Cfg.BytesPerSecond};
}

void TSimAdapter::Disconnect() {
    std::lock_guard<std::mutex> g(Lock);
    DisconnectLocked();
}

void TSimAdapter::Reconnect() {
    std::lock_guard<std::mutex> g(Lock);
    if (IsConnected) {
        return;
    }
    IsConnected = true;
    SentSinceConnect = 0;
    BootMute = false;
    LineFreeScaled = Scaled(Clock);
    if (Cfg.StartInBootLoader) {
        EnterBootLoader(Clock + Cfg.PromptDelayUs);
    } else {
        EnterFirmware();
    }
}

bool TSimAdapter::Connected() const {
    std::lock_guard<std::mutex> g(Lock);
    return IsConnected;
}

TSimState TSimAdapter::State() const {
    std::lock_guard<std::mutex> g(Lock);
    return St;
}

std::string TSimAdapter::RunningMode() const {
    std::lock_guard<std::mutex> g(Lock);
    return Running;
}

bool TSimAdapter::PowerOn() const {
    std::lock_guard<std::mutex> g(Lock);
    return Power;
}

int TSimAdapter::IdentifyCount() const {
    std::lock_guard<std::mutex> g(Lock);
    return Identifies;
}

std::string TSimAdapter::CommandLog() const {
    std::lock_guard<std::mutex> g(Lock);
    return Commands;
}

std::vector<Bytes> TSimAdapter::ArgumentLog() const {
    std::lock_guard<std::mutex> g(Lock);
    return Arguments;
}

uint64_t TSimAdapter::BytesSent() const {
    std::lock_guard<std::mutex> g(Lock);
    return Sent;
}

Bytes TSimAdapter::ReceivedHeader() const {
    std::lock_guard<std::mutex> g(Lock);
    return Header;
}

Bytes TSimAdapter::ReceivedFallbackHeader() const {
    std::lock_guard<std::mutex> g(Lock);
    return FallbackHeader;
}

std::map<uint16_t, Bytes> TSimAdapter::Pages() const {
    std::lock_guard<std::mutex> g(Lock);
    return ReceivedPages;
}

int TSimAdapter::NaksSent() const {
    std::lock_guard<std::mutex> g(Lock);
    return Naks;
}

int TSimAdapter::CompletedUploads() const {
    std::lock_guard<std::mutex> g(Lock);
    return Uploads;
}

// ---- output ----------------------------------------------------------------

void TSimAdapter::Send(const Bytes& data, uint64_t readyAt) {
    if (Cfg.Silent || BootMute || !IsConnected || data.empty()) {
        return;
    }
    Queue.push_back(TSegment{readyAt, data, 0});
    QueuedTotal += data.size();
}

void TSimAdapter::SendReply(const Bytes& data) {
    if (Cfg.EndlessReply) {
        SendEndlessStart(ReplyPrefix() + data, Clock + Cfg.ReplyDelayUs);
        return;
    }
    Send(ReplyPrefix() + data, Clock + Cfg.ReplyDelayUs);
}

void TSimAdapter::SendEndlessStart(const Bytes& data, uint64_t at) {
    const size_t start = data.find("\r\n");
    const size_t firstLineEnd = start == Bytes::npos ? Bytes::npos : data.find("\r\n", start + 2);
    Send(firstLineEnd == Bytes::npos ? data : data.substr(0, firstLineEnd + 2), at);
    NextStreamAt = std::min(NextStreamAt, at);
}

Bytes TSimAdapter::ReplyPrefix() {
    return Cfg.Garbage + Noise(std::min(Cfg.FloodBytes, kMaxFloodBytes));
}

Bytes TSimAdapter::Noise(uint64_t count) {
    Bytes out(static_cast<size_t>(count), '\0');
    for (char& c : out) {
        NoiseState ^= NoiseState << 13;
        NoiseState ^= NoiseState >> 17;
        NoiseState ^= NoiseState << 5;
        c = static_cast<char>(NoiseState >> 24);
    }
    return out;
}

Bytes TSimAdapter::Frame(const std::vector<std::string>& lines) const {
    Bytes out = "\r\n";
    for (const std::string& line : lines) {
        out += line + "\r\n";
    }
    if (!Cfg.MissingEndMarker) {
        out += "\r\n";
    }
    return out;
}

std::string TSimAdapter::FirstLine() const {
    return "CR:" + Cfg.Copyright;
}

std::vector<std::string> TSimAdapter::PowerLines() const {
    return {std::string("PI:") + (Power ? "ON" : "OFF"), "UI:" + Cfg.SupplyVolts + "V"};
}

std::vector<std::string> TSimAdapter::IdentityLines() const {
    const bool longTags = Cfg.LongTags;
    std::vector<std::string> lines = {FirstLine()};
    if (!Cfg.UsbLine.empty()) {
        lines.push_back(Cfg.UsbLine);
    }
    lines.push_back((longTags ? "Serial Number: " : "SN:") + Cfg.SerialNumber);
    lines.push_back((longTags ? "Signature: " : "ID:") + Cfg.Signature);
    lines.push_back((longTags ? "Version " : "FW:") + Cfg.FirmwareVersion);
    if (!Cfg.BootVersion.empty()) {
        lines.push_back("BW:" + Cfg.BootVersion);
    }
    lines.push_back((longTags ? "Hardware: " : "HW:") + Cfg.HardwareVersion);
    if (!Cfg.DriverVersion.empty()) {
        lines.push_back("PT:" + Cfg.DriverVersion);
    }
    for (const TSimMode& m : Cfg.Modes) {
        if (!m.Hidden) {
            lines.push_back(m.Line());
        }
    }
    if (const TSimMode* running = Cfg.FindMode(Running)) {
        lines.push_back("Selected Mode: " + running->Line());
    }
    if (Cfg.PowerLines) {
        for (const std::string& l : PowerLines()) {
            lines.push_back(l);
        }
    }
    for (const std::string& l : Cfg.ExtraLines) {
        lines.push_back(l);
    }
    return lines;
}

uint64_t TSimAdapter::Rate() const {
    return std::min(Cfg.BytesPerSecond, kSimMaxBytesPerSecond);
}

uint64_t TSimAdapter::Scaled(uint64_t t) const {
    uint64_t r = Rate();
    return r ? t * r : t;
}

bool TSimAdapter::NextByteStart(uint64_t& startScaled) const {
    for (const TSegment& seg : Queue) {
        if (seg.Pos < seg.Data.size()) {
            startScaled = std::max(Scaled(seg.ReadyAt), LineFreeScaled);
            return true;
        }
    }
    return false;
}

// Sends every byte whose last bit has left the line by now. Sent bytes reach
// the host in pieces of at most ChunkSize; a piece is handed over when it is
// full or when the line goes quiet after it.
void TSimAdapter::Deliver() {
    if (!IsConnected) {
        return;
    }
    const uint64_t nowScaled = Scaled(Clock);
    const uint64_t byteCost = Rate() ? 1000000 : 0;
    const uint64_t chunk = Cfg.ChunkSize ? Cfg.ChunkSize : 1;
    while (!Queue.empty()) {
        TSegment& seg = Queue.front();
        if (seg.Pos >= seg.Data.size()) {
            Queue.pop_front();
            continue;
        }
        uint64_t finish = std::max(Scaled(seg.ReadyAt), LineFreeScaled) + byteCost;
        if (finish > nowScaled) {
            break;
        }
        Assembling += seg.Data[seg.Pos++];
        LineFreeScaled = finish;
        uint64_t nextStart = 0;
        bool continues = NextByteStart(nextStart) && nextStart <= finish;
        if (Assembling.size() < chunk && continues) {
            continue;
        }
        size_t n = Assembling.size();
        bool cut = false;
        if (Cfg.DisconnectAfterBytes > 0 && SentSinceConnect + n >= Cfg.DisconnectAfterBytes) {
            n = static_cast<size_t>(Cfg.DisconnectAfterBytes - SentSinceConnect);
            cut = true;
        }
        Available.append(Assembling, 0, n);
        Sent += n;
        SentSinceConnect += n;
        Assembling.clear();
        if (cut || (VanishAtSent > 0 && Sent >= VanishAtSent)) {
            DisconnectLocked();
            return;
        }
    }
}

void TSimAdapter::DisconnectLocked() {
    IsConnected = false;
    Queue.clear();
    Assembling.clear();
    QueuedTotal = Sent; // what was not sent is no longer queued
    VanishAtSent = 0;
    NextStreamAt = kNever;
    BootRx.clear();
    FwRx.clear();
    AwaitingArgument = 0;
}

// ---- timed events ----------------------------------------------------------

uint64_t TSimAdapter::NextEventAt() const {
    if (!IsConnected) {
        return kNever;
    }
    uint64_t next = kNever;
    if (Cfg.DisconnectAtUs > 0 && !DisconnectAtDone) {
        next = std::max(Clock, Cfg.DisconnectAtUs);
    }
    if (Cfg.Babble) {
        next = std::min(next, std::max(Clock, NextBabbleAt));
    }
    if (St == TSimState::Firmware && NextStreamAt != kNever) {
        next = std::min(next, std::max(Clock, NextStreamAt));
    }
    if (St == TSimState::BootPrompt && NextPromptAt != kNever) {
        next = std::min(next, NextPromptAt);
    }
    if (St == TSimState::BootFallbackHeader && !FallbackHeader.empty()) {
        next = std::min(next, LastInputAt + Cfg.FallbackIdleUs);
    }
    if (St == TSimState::BootPages && !BootRx.empty()) {
        next = std::min(next, LastInputAt + Cfg.FrameIdleUs);
    }
    return next;
}

void TSimAdapter::FireEvents() {
    if (!IsConnected) {
        return;
    }
    if (Cfg.DisconnectAtUs > 0 && !DisconnectAtDone && Clock >= Cfg.DisconnectAtUs) {
        DisconnectAtDone = true;
        DisconnectLocked();
        return;
    }
    if (Cfg.Babble && Clock >= NextBabbleAt) {
        const uint64_t rate = Rate();
        Send(Noise(rate ? std::max<uint64_t>(1, rate / 1000) : kUnlimitedBabbleBytes), Clock);
        NextBabbleAt = Clock + 1000;
    }
    if (St == TSimState::Firmware && NextStreamAt != kNever && Clock >= NextStreamAt) {
        // One millisecond's worth of lines, topped up only as far as the line
        // has taken the earlier ones, so that the queue stays small.
        const uint64_t rate = Rate();
        const uint64_t budget = rate ? std::max<uint64_t>(1, rate / 1000) : kUnlimitedBabbleBytes;
        uint64_t waiting = 0;
        for (const TSegment& seg : Queue) {
            waiting += seg.Data.size() - seg.Pos;
        }
        Bytes lines;
        while (waiting + lines.size() < budget) {
            lines += "LG:" + std::to_string(++StreamLines) + " still running\r\n";
        }
        Send(lines, Clock);
        NextStreamAt = Clock + 1000;
    }
    if (St == TSimState::BootPrompt && NextPromptAt != kNever && Clock >= NextPromptAt) {
        Send(">", Clock);
        NextPromptAt = Cfg.PromptRepeatUs ? Clock + Cfg.PromptRepeatUs : kNever;
    }
    if (St == TSimState::BootFallbackHeader && !FallbackHeader.empty() &&
        Clock >= LastInputAt + Cfg.FallbackIdleUs) {
        BootHeaderAnswer(); // a short image: the fallback header ended early
    }
    if (St == TSimState::BootPages && !BootRx.empty() && Clock >= LastInputAt + Cfg.FrameIdleUs) {
        // An incomplete frame that stopped coming: refuse it and ask again.
        BootRx.clear();
        Send("-", Clock);
        ++Naks;
        RequestPage(RequestedPage);
    }
}

// ---- service interface -----------------------------------------------------

void TSimAdapter::EnterFirmware() {
    St = TSimState::Firmware;
    NextStreamAt = kNever;
    FwRx.clear();
    BootRx.clear();
    AwaitingArgument = 0;
    NextPromptAt = kNever;
}

void TSimAdapter::FirmwareInput(const Bytes& bytes) {
    if (Cfg.Echo) {
        Send(bytes, Clock);
    }
    if (AwaitingArgument != 0) {
        if (bytes[0] != '!') {
            Argument(bytes);
            return;
        }
        AwaitingArgument = 0;
    }
    FwRx += bytes;
    for (;;) {
        size_t p = FwRx.find(kCommandPrefix);
        if (p == Bytes::npos) {
            // Keep only what could still be the start of a split command.
            size_t keep = std::min(FwRx.size(), kCommandLength - 2);
            FwRx.erase(0, FwRx.size() - keep);
            return;
        }
        if (p + kCommandLength > FwRx.size()) {
            FwRx.erase(0, p);
            return;
        }
        char letter = FwRx[p + kCommandLength - 1];
        Bytes rest = FwRx.substr(p + kCommandLength);
        FwRx.clear();
        Command(letter);
        if (St != TSimState::Firmware) {
            if (!rest.empty()) {
                BootInput(rest);
            }
            return;
        }
        if (AwaitingArgument != 0 && !rest.empty() && rest[0] != '!') {
            Argument(rest);
            return;
        }
        if (rest.empty()) {
            return;
        }
        AwaitingArgument = 0;
        FwRx = rest;
    }
}

void TSimAdapter::Command(char letter) {
    Commands += letter;
    AwaitingArgument = 0;
    switch (letter) {
    case 'I':
        ++Identifies;
        if (Identifies == Cfg.IdentifyAnswerFrom ||
            (Identifies > Cfg.IdentifyAnswerFrom && !Cfg.IdentifyAnswerOnce)) {
            SendReply(Frame(IdentityLines()));
        }
        break;
    case 'M':
        SendReply(Frame({FirstLine(), "Mode number?"}));
        AwaitingArgument = 'M';
        break;
    case 'P':
        SendReply(Frame({FirstLine(), "Power switch 1/0?"}));
        AwaitingArgument = 'P';
        break;
    case 'T':
        SendSelfTest();
        break;
    case 'U':
        SendReply(Frame({FirstLine(), "Boot loader started"}));
        EnterBootLoader(Clock + Cfg.ReplyDelayUs + Cfg.PromptDelayUs);
        break;
    case 'R':
        EnterFirmware(); // restarts; no reply
        break;
    case 'D': {
        const Bytes reply = ReplyPrefix() + "[BEGIN]" + Cfg.DriverImage +
                            (Cfg.MissingEndMarker ? "" : "[END]") + "\r\n";
        if (Cfg.DriverTrickleUs == 0) {
            Send(reply, Clock + Cfg.ReplyDelayUs);
            break;
        }
        for (size_t i = 0; i < reply.size(); ++i)
            Send(reply.substr(i, 1), Clock + Cfg.ReplyDelayUs + i * Cfg.DriverTrickleUs);
        break;
    }
    default:
        break; // not a command of this firmware
    }
}

void TSimAdapter::Argument(const Bytes& arg) {
    Arguments.push_back(arg);
    char command = AwaitingArgument;
    AwaitingArgument = 0;
    if (command == 'M') {
        if (arg.size() <= 3 && Cfg.FindMode(arg) != nullptr) {
            Running = arg;
        }
        SendReply(Frame(IdentityLines()));
    } else if (command == 'P') {
        if (arg[0] == '1') {
            Power = true;
        } else if (arg[0] == '0') {
            Power = false;
        }
        std::vector<std::string> lines = {FirstLine()};
        for (const std::string& l : PowerLines()) {
            lines.push_back(l);
        }
        SendReply(Frame(lines));
    }
}

// The log streams piece by piece, TestStepDelayUs apart: each step rewrites
// its progress line with bare CRs and ends it with CR LF.
void TSimAdapter::SendSelfTest() {
    uint64_t t = Clock + Cfg.ReplyDelayUs;
    if (Cfg.EndlessReply) {
        SendEndlessStart(ReplyPrefix() + "\r\n" + FirstLine() + "\r\n", t);
        return;
    }
    Send(ReplyPrefix() + "\r\n" + FirstLine() + "\r\nSelf-test started\r\n", t);
    const int steps = Cfg.TestSteps;
    const int rows = std::max(steps, std::max(Cfg.TestErrors, Cfg.TestWarnings));
    for (int s = 0; s < rows; ++s) {
        std::string name = kTestNames[s % (sizeof(kTestNames) / sizeof(kTestNames[0]))];
        std::string label = "Step " + std::to_string(s + 1) + " " + name + ": ";
        if (s < steps) {
            for (int percent = 25; percent < 100; percent += 25) {
                t += Cfg.TestStepDelayUs;
                Send(label + std::to_string(percent) + "%\r", t);
            }
            t += Cfg.TestStepDelayUs;
            Send(label + "done\r\n", t);
        }
        if (s < Cfg.TestErrors) {
            Send(label + "ERROR no response\r\n", t);
        }
        if (s < Cfg.TestWarnings) {
            Send(label + "WARNING level low\r\n", t);
        }
    }
    t += Cfg.TestStepDelayUs;
    Send(Bytes("Self-test finished\r\n") + (Cfg.MissingEndMarker ? "" : "\r\n"), t);
}

// ---- boot loader -----------------------------------------------------------

void TSimAdapter::EnterBootLoader(uint64_t promptAt) {
    St = TSimState::BootPrompt;
    NextStreamAt = kNever;
    BootRx.clear();
    FwRx.clear();
    AwaitingArgument = 0;
    NextPromptAt = promptAt;
}

void TSimAdapter::BootInput(const Bytes& bytes) {
    LastInputAt = Clock;
    BootRx += bytes;
    BootStep();
}

void TSimAdapter::BootStep() {
    for (;;) {
        switch (St) {
        case TSimState::Firmware:
            return;
        case TSimState::BootPrompt: {
            size_t p = BootRx.find('<');
            if (p == Bytes::npos) {
                BootRx.clear();
                return;
            }
            BootRx.erase(0, p + 1);
            Send(Bytes("+\0", 2), Clock);
            St = TSimState::BootHeader;
            NextPromptAt = kNever;
            break;
        }
        case TSimState::BootHeader: {
            size_t p = BootRx.find_first_of("#<");
            if (p == Bytes::npos) {
                BootRx.clear();
                return;
            }
            BootRx.erase(0, p);
            if (BootRx[0] == '<') { // the host connects again
                BootRx.erase(0, 1);
                Send(Bytes("+\0", 2), Clock);
                break;
            }
            if (BootRx.size() < kHeaderFrameLength) {
                return;
            }
            Bytes header = BootRx.substr(3, kHeaderFrameLength - 3);
            bool good = SimChecksum16(header) == Le16At(BootRx, 1);
            BootRx.erase(0, kHeaderFrameLength);
            if (!good) {
                Send("-", Clock);
                ++Naks;
                break;
            }
            Header = header;
            ReceivedPages.clear();
            if (Cfg.SilentAfterHeader) {
                St = TSimState::BootFallbackHeader;
                FallbackHeader.clear();
            } else {
                BootHeaderAnswer();
            }
            break;
        }
        case TSimState::BootFallbackHeader: {
            size_t n = std::min(kFallbackHeaderLength - FallbackHeader.size(), BootRx.size());
            FallbackHeader += BootRx.substr(0, n);
            BootRx.erase(0, n);
            if (FallbackHeader.size() < kFallbackHeaderLength) {
                return;
            }
            BootHeaderAnswer();
            break;
        }
        case TSimState::BootPages: {
            TSimState before = St;
            size_t had = BootRx.size();
            PageFrame();
            if (St == before && BootRx.size() == had) {
                return; // waiting for the rest of a frame
            }
            break;
        }
        }
    }
}

void TSimAdapter::BootHeaderAnswer() {
    Bytes serial = Cfg.BootSerial.substr(0, 8);
    serial.resize(8, ' ');
    Bytes id = Cfg.BootId.substr(0, 255 - 10);
    Bytes answer = "+";
    answer += static_cast<char>(10 + id.size());
    answer += SimLe16(static_cast<uint16_t>(Cfg.PageSize)) + serial + id;
    Send(answer, Clock);
    St = TSimState::BootPages;
    NakGiven = 0;
    RequestPage(0);
}

void TSimAdapter::RequestPage(uint16_t page) {
    RequestedPage = page;
    Send("." + SimLe16(page), Clock);
}

// One frame from the host in answer to a page request: a page or the end
// marker. Leaves BootRx unchanged while the frame is incomplete.
void TSimAdapter::PageFrame() {
    size_t start = BootRx.find('@');
    BootRx.erase(0, start == Bytes::npos ? BootRx.size() : start);
    if (BootRx.size() < 3) {
        return;
    }
    uint16_t page = Le16At(BootRx, 1);
    if (page == kEndMarkerPage) {
        BootRx.erase(0, 3);
        if (Cfg.NakEndMarker) {
            Send("-", Clock);
            ++Naks;
            EnterBootLoader(Clock + Cfg.PromptDelayUs);
            return;
        }
        Send(Bytes("+\x02\xFF\xFF", 4), Clock);
        ++Uploads;
        EnterFirmware();
        return;
    }
    const size_t need = 5 + static_cast<size_t>(Cfg.PageSize);
    if (BootRx.size() < need) {
        return;
    }
    Bytes data = BootRx.substr(5, need - 5);
    bool good = page == RequestedPage && SimChecksum16(data) == Le16At(BootRx, 3);
    BootRx.erase(0, need);
    if (good && static_cast<int>(page) == Cfg.NakPage &&
        (Cfg.NakCount < 0 || NakGiven < Cfg.NakCount)) {
        ++NakGiven;
        good = false;
    }
    if (!good) {
        Send("-", Clock);
        ++Naks;
        RequestPage(RequestedPage);
        return;
    }
    ReceivedPages[page] = data;
    Send("+\x02" + SimLe16(page), Clock);
    if (static_cast<int>(page) == Cfg.VanishAfterPage) {
        VanishAtSent = QueuedTotal; // once the acknowledgement is out
        if (Sent >= VanishAtSent) {
            DisconnectLocked(); // nothing of it goes out (a silent adapter)
        }
        return;
    }
    if (static_cast<int>(page) == Cfg.SilentAfterPage) {
        BootMute = true;
        return;
    }
    if (page + 1 < kEndMarkerPage) {
        RequestPage(static_cast<uint16_t>(page + 1));
    }
}

} // namespace qvx
