#include "fwupdate/Unitfwupdate.h"

#include <cstdio>
#include <string>

namespace qvx {

namespace {

const char* const FirmwareBoxCaption = "Open Firware file...";
constexpr unsigned FirstPollMs = 100;
constexpr unsigned PollMs = 10;
constexpr int HeaderSilentTicks = 5;
constexpr int MaxNaks = 4;
// What to do after an upload that the adapter broke off.
const char* const RetryHint = "tick \"Do not Search\" and \"Wait\", then press Run.";

uint16_t Word(const Bytes& frame, size_t offset) {
    if (frame.size() < offset + 2)
        return 0;
    return static_cast<uint16_t>(static_cast<uint8_t>(frame[offset]) |
                                 (static_cast<uint8_t>(frame[offset + 1]) << 8));
}

void PutWord(Bytes& out, uint16_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>(value >> 8));
}

std::string Format(const char* format, int a) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, a);
    return buffer;
}

std::string Format(const char* format, int a, int b) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, a, b);
    return buffer;
}

// Bytes [from, from + count) of text, cut at its end.
Bytes Slice(const Bytes& text, size_t from, size_t count = Bytes::npos) {
    if (from >= text.size())
        return Bytes();
    return text.substr(from, count);
}

} // namespace

const char* UploadOutcomeName(TUploadOutcome outcome) {
    switch (outcome) {
    case uoNone:
        return "none";
    case uoDone:
        return "done";
    case uoConnectError:
        return "connect_error";
    case uoHeaderError:
        return "header_error";
    case uoPageError:
        return "page_error";
    case uoEndError:
        return "end_error";
    case uoBootLoaderSilent:
        return "boot_loader_silent";
    case uoLinkLost:
        return "link_lost";
    case uoCancelled:
        return "cancelled";
    case uoFileMissing:
        return "file_missing";
    case uoFileShort:
        return "file_short";
    case uoFileTooLarge:
        break;
    }
    return "file_too_large";
}

const char* UploadOutcomeText(TUploadOutcome outcome) {
    switch (outcome) {
    case uoNone:
        return "No upload has ended";
    case uoDone:
        return "The firmware was written";
    case uoConnectError:
        return "The boot loader refused the connection";
    case uoHeaderError:
        return "The boot loader refused the header";
    case uoPageError:
        return "The boot loader refused a page";
    case uoEndError:
        return "The boot loader refused the end of the firmware";
    case uoBootLoaderSilent:
        return "The boot loader stopped answering";
    case uoLinkLost:
        return "The adapter was disconnected";
    case uoCancelled:
        return "The upload was stopped";
    case uoFileMissing:
        return "The firmware file is not found";
    case uoFileShort:
        return "The firmware file is short";
    case uoFileTooLarge:
        break;
    }
    return "The firmware file is too large";
}

uint16_t Checksum16(const Bytes& data) {
    uint32_t sum = 0;
    for (char c : data)
        sum += static_cast<uint8_t>(c);
    return static_cast<uint16_t>(sum & 0xFFFF);
}

namespace {

// Whole pages of pageSize bytes in the payload of image.
size_t PayloadPages(const Bytes& image, int pageSize) {
    return image.size() > FirmwareHeaderSize
               ? (image.size() - FirmwareHeaderSize) / static_cast<size_t>(pageSize)
               : 0;
}

} // namespace

TUploadOutcome CheckFirmwareFile(IFileSystem& files, const std::string& fileName, Bytes& image,
                                 int pageSize) {
    if (!ReadWholeFile(files, fileName, image)) {
        image.clear();
        return uoFileMissing;
    }
    if (image.size() < FirmwareHeaderSize)
        return uoFileShort;
    if (pageSize > 0 && PayloadPages(image, pageSize) > MaxPageCount)
        return uoFileTooLarge;
    return uoNone;
}

std::string FirmwareFileText(TUploadOutcome outcome, const std::string& fileName) {
    switch (outcome) {
    case uoFileMissing:
        return "File \"" + fileName + "\" is not found.";
    case uoFileShort:
        return "Error! Firmware file \"" + fileName + "\" is short.";
    default:
        return std::string();
    }
}

TFwUpdater::TFwUpdater(IUserIo& userIo, IFileSystem& files, ITimerService& timers,
                       IUploadView& view)
    : UserIo(userIo), Files(files), Timers(timers), View(view) {}

TFwUpdater::~TFwUpdater() = default;

bool TFwUpdater::LoadImage() {
    return CheckFirmwareFile(Files, FileName, Image) != uoFileMissing;
}

bool TFwUpdater::StartUpload(IDeviceLink& link, const std::string& fileName, bool waitForPrompt,
                             unsigned silenceLimitMs, unsigned promptLimitMs) {
    if (Active)
        return false; // one upload at a time
    LastOutcome = uoNone;
    FileName = fileName;
    const TUploadOutcome file = CheckFirmwareFile(Files, FileName, Image);
    if (file != uoNone) {
        LastOutcome = file;
        UserIo.ShowBox(FirmwareFileText(file, FileName), FirmwareBoxCaption, mb::Ok | mb::IconStop,
                       TBoxOwner::MainWindow);
        return false;
    }
    Header = Image.substr(0, FirmwareHeaderSize);
    Payload = Image.substr(FirmwareHeaderSize);
    FallbackHeader.clear();

    Link = &link;
    if (!Link->IsOpen())
        Link->Open();
    Link->ReadLineState();
    Link->SetByteSize(8);
    if (!Link->IsOpen())
        return false;

    Active = true;
    ReleaseTimer();
    Timer = std::make_unique<TTimer>("PollTimer", Timers);
    Timer->SetInterval(0);
    Timer->OnTimer = [this] { PollTick(); };
    RxBuffer.clear();
    NakCount = 0;
    CurrentPage = 0;
    PageSize = 0;
    PageCount = 0;
    SilenceLimitMs = silenceLimitMs;
    PromptLimitMs = promptLimitMs;
    SilentMs = 0;
    EnterStage(waitForPrompt ? usWaitPrompt : usConnect);
    PendingFrameLength = -1;
    Timer->SetInterval(FirstPollMs);
    return true;
}

void TFwUpdater::CancelUpload() {
    if (!Active)
        return;
    LastOutcome = uoCancelled;
    View.ShowStatus("Firmware Update canceled...");
    StopUpload();
}

void TFwUpdater::EndWith(TUploadOutcome outcome, const std::string& status) {
    LastOutcome = outcome;
    EnterStage(usIdle);
    View.ShowStatus(status);
}

void TFwUpdater::StopUpload() {
    if (Timer)
        Timer->SetInterval(0);
    if (Link)
        Link->Close();
    ReleaseTimer();
    Active = false;
}

void TFwUpdater::ReleaseTimer() {
    if (InTick)
        ReleasePending = true;
    else
        Timer.reset();
}

void TFwUpdater::EnterStage(TUpdateStage stage) {
    Stage = stage;
    switch (stage) {
    case usIdle:
        View.ClearStatus();
        StopUpload();
        break;
    case usWaitPrompt:
        View.ShowStatus("Waiting Connection...");
        break;
    case usConnect:
        View.ShowStatus("Connecting...");
        RxBuffer.clear();
        SendFrame("<", Bytes());
        break;
    case usSendHeader:
        View.ShowStatus("Send Header...");
        HeaderWaitTicks = HeaderSilentTicks;
        SendFrame("#", Header);
        break;
    case usSendFallbackHeader:
        FallbackHeader = Slice(Image, FirmwareHeaderSize, FirmwareFallbackHeaderSize);
        Payload = Slice(Image, FirmwareFallbackPayloadOffset);
        Link->Write(FallbackHeader);
        break;
    case usPages:
        View.ShowStatus("Wait for page request...");
        break;
    }
}

void TFwUpdater::SendFrame(const Bytes& lead, const Bytes& data) {
    Bytes frame = lead;
    if (!data.empty()) {
        PutWord(frame, Checksum16(data));
        frame += data;
    }
    Link->Write(frame);
}

void TFwUpdater::SendPage(int page) {
    Bytes lead = "@";
    PutWord(lead, static_cast<uint16_t>(page));
    const size_t size = static_cast<size_t>(PageSize);
    SendFrame(lead, Slice(Payload, static_cast<size_t>(page) * size, size));
}

void TFwUpdater::ReadInput() {
    if (Link->InputCount() > 0) {
        Bytes received;
        Link->ReadAvailable(received);
        RxBuffer += received;
    }
}

void TFwUpdater::PollTick() {
    InTick = true;
    // The interval that has just passed: the first poll's or the usual one.
    const unsigned elapsedMs = Timer->Interval();
    Timer->SetInterval(0);
    bool ended = false;
    if (Link->IsOpen()) {
        ReadInput();
        if (ExtractFrame()) {
            SilentMs = 0;
            do {
                if (!HandleFrame()) {
                    ended = true;
                    break;
                }
            } while (ExtractFrame());
        } else {
            if (Stage == usSendHeader && Link->OutputCount() == 0) {
                if (--HeaderWaitTicks <= 0)
                    EnterStage(usSendFallbackHeader);
            }
            const unsigned limitMs = Stage == usWaitPrompt ? PromptLimitMs : SilenceLimitMs;
            if (limitMs > 0) {
                SilentMs += elapsedMs;
                if (SilentMs >= limitMs) {
                    EndWith(uoBootLoaderSilent, "No answer from the boot loader for " +
                                                    std::to_string((limitMs + 999) / 1000) +
                                                    " s: reconnect the adapter, " + RetryHint);
                    ended = true;
                }
            }
        }
    }
    // What came before the device went is handled first: the boot loader's
    // last answer may be the one that ends the upload.
    if (!ended && Active && (!Link->IsOpen() || Link->Lost())) {
        EndWith(uoLinkLost,
                std::string("The adapter was disconnected: reconnect it, ") + RetryHint);
        ended = true;
    }
    if (!ended && Active)
        Timer->SetInterval(PollMs);
    InTick = false;
    if (ReleasePending) {
        ReleasePending = false;
        Timer.reset();
    }
}

bool TFwUpdater::ExtractFrame() {
    if (RxBuffer.empty())
        return false;
    while (PendingFrameLength < 0) {
        switch (RxBuffer[0]) {
        case '+':
            if (RxBuffer.size() >= 2 &&
                static_cast<size_t>(static_cast<uint8_t>(RxBuffer[1])) + 2 <= RxBuffer.size())
                PendingFrameLength = static_cast<uint8_t>(RxBuffer[1]) + 2;
            else
                return false;
            break;
        case '-':
        case '>':
            PendingFrameLength = 1;
            break;
        case '.':
            if (RxBuffer.size() > 2)
                PendingFrameLength = 3;
            else
                return false;
            break;
        default:
            RxBuffer.erase(0, 1);
            if (RxBuffer.empty())
                return false;
        }
    }
    Frame = RxBuffer.substr(0, static_cast<size_t>(PendingFrameLength));
    RxBuffer.erase(0, static_cast<size_t>(PendingFrameLength));
    PendingFrameLength = -1;
    return true;
}

bool TFwUpdater::HandleFrame() {
    switch (Stage) {
    case usWaitPrompt:
        if (Frame == ">")
            EnterStage(usConnect);
        break;
    case usConnect:
        if (Frame[0] == '+')
            EnterStage(usSendHeader);
        else
            EndWith(uoConnectError, "Connecting: Error");
        break;
    case usSendHeader:
    case usSendFallbackHeader:
        if (Frame[0] == '+')
            HandleHeaderAnswer();
        else
            EndWith(uoHeaderError, "Send Header: Error");
        break;
    case usPages:
        HandlePagesFrame();
        break;
    case usIdle:
        break;
    }
    return Stage != usIdle;
}

void TFwUpdater::HandleHeaderAnswer() {
    // An answer too short to carry a page size ends the upload like a
    // refused header: nothing more is sent.
    if (Frame.size() < 4) {
        EndWith(uoHeaderError, "Send Header: Error");
        return;
    }
    View.ShowStatus("SN:" + Slice(Frame, 4, 8));
    View.ShowStatus("ID:" + Slice(Frame, 12));
    PageSize = Word(Frame, 2);
    if (Payload.empty()) {
        EndWith(uoDone, "System Updating : Ok");
        return;
    }
    // A page size of 0 cannot cut the payload into pages.
    if (PageSize == 0) {
        EndWith(uoHeaderError, "Send Header: Error");
        return;
    }
    // Page numbers are 16-bit and the last one marks the end: a payload of
    // more whole pages cannot be sent. Nothing of it is.
    const size_t pages = Payload.size() / static_cast<size_t>(PageSize);
    if (pages > MaxPageCount) {
        EndWith(uoFileTooLarge, "The firmware file is too large: " + std::to_string(pages) +
                                    " pages of " + std::to_string(PageSize) + " bytes, at most " +
                                    std::to_string(MaxPageCount) +
                                    ". Nothing was written; choose the adapter's firmware file.");
        return;
    }
    PageCount = static_cast<int>(pages);
    View.SetProgressRange(PageCount);
    NakCount = 0;
    EnterStage(usPages);
}

void TFwUpdater::HandlePagesFrame() {
    switch (Frame[0]) {
    case '.': {
        const int n = Word(Frame, 1);
        CurrentPage = n;
        if (n == PageCount) {
            View.ShowStatus("Updating firmware");
            CurrentPage = EndMarkerPage;
            Bytes marker = "@";
            PutWord(marker, EndMarkerPage);
            Link->Write(marker);
        } else {
            View.ShowStatus(Format("Writing Page #%d", n));
            SendPage(n);
        }
        break;
    }
    case '+':
        NakCount = 0;
        CurrentPage = Word(Frame, 2);
        if (CurrentPage == EndMarkerPage) {
            View.SetProgress(View.ProgressMax());
            LastOutcome = uoDone;
            EnterStage(usIdle);
            // Only whole pages are sent; what is left over is named.
            if (const size_t rest = Payload.size() % static_cast<size_t>(PageSize))
                View.ShowStatus("The last " + std::to_string(rest) +
                                " bytes of the firmware file are less than a page and were not "
                                "sent");
            View.ShowStatus("Updating firmware : Ok");
        } else {
            View.SetProgress(CurrentPage);
            View.ShowStatus(Format("Writing Page #%d : Ok", CurrentPage));
        }
        break;
    case '-':
        if (CurrentPage == EndMarkerPage) {
            EndWith(uoEndError, "Error updating firmware...");
            break;
        }
        ++NakCount;
        if (NakCount < MaxNaks) {
            View.ShowStatus(Format("Writing Page #%d : Retry %d", CurrentPage, NakCount));
        } else {
            EndWith(uoPageError, Format("Writing Page #%d : Error", CurrentPage));
        }
        break;
    default: // '>' is ignored here
        break;
    }
}

} // namespace qvx
