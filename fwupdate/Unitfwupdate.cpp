#include "fwupdate/Unitfwupdate.h"

#include <cstdio>

namespace qvx {

namespace {

const char* const FirmwareBoxCaption = "Open Firware file...";
constexpr unsigned FirstPollMs = 100;
constexpr unsigned PollMs = 10;
constexpr int HeaderSilentTicks = 5;
constexpr int MaxNaks = 4;

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

uint16_t Checksum16(const Bytes& data) {
    uint32_t sum = 0;
    for (char c : data)
        sum += static_cast<uint8_t>(c);
    return static_cast<uint16_t>(sum & 0xFFFF);
}

TFwUpdater::TFwUpdater(IUserIo& userIo, IFileSystem& files, ITimerService& timers,
                       IUploadView& view)
    : UserIo(userIo), Files(files), Timers(timers), View(view) {}

TFwUpdater::~TFwUpdater() = default;

bool TFwUpdater::LoadImage() {
    return ReadWholeFile(Files, FileName, Image);
}

bool TFwUpdater::StartUpload(IDeviceLink& link, const std::string& fileName, bool waitForPrompt) {
    if (Active)
        return false; // one upload at a time
    FileName = fileName;
    if (!LoadImage()) {
        Image.clear();
        UserIo.ShowBox("File \"" + FileName + "\" is not found.", FirmwareBoxCaption,
                       mb::Ok | mb::IconStop, TBoxOwner::MainWindow);
        return false;
    }
    if (Image.size() < FirmwareHeaderSize) {
        UserIo.ShowBox("Error! Firmware file \"" + FileName + "\" is short.", FirmwareBoxCaption,
                       mb::Ok | mb::IconStop, TBoxOwner::MainWindow);
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
    EnterStage(waitForPrompt ? usWaitPrompt : usConnect);
    PendingFrameLength = -1;
    Timer->SetInterval(FirstPollMs);
    return true;
}

void TFwUpdater::CancelUpload() {
    if (!Active)
        return;
    View.ShowStatus("Firmware Update canceled...");
    StopUpload();
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
    Timer->SetInterval(0);
    bool ended = false;
    if (Link->IsOpen()) {
        ReadInput();
        if (ExtractFrame()) {
            do {
                if (!HandleFrame()) {
                    ended = true;
                    break;
                }
            } while (ExtractFrame());
        } else if (Stage == usSendHeader && Link->OutputCount() == 0) {
            if (--HeaderWaitTicks <= 0)
                EnterStage(usSendFallbackHeader);
        }
        if (!ended && Active)
            Timer->SetInterval(PollMs);
    }
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
        if (Frame[0] == '+') {
            EnterStage(usSendHeader);
        } else {
            EnterStage(usIdle);
            View.ShowStatus("Connecting: Error");
        }
        break;
    case usSendHeader:
    case usSendFallbackHeader:
        if (Frame[0] == '+') {
            HandleHeaderAnswer();
        } else {
            EnterStage(usIdle);
            View.ShowStatus("Send Header: Error");
        }
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
        EnterStage(usIdle);
        View.ShowStatus("Send Header: Error");
        return;
    }
    View.ShowStatus("SN:" + Slice(Frame, 4, 8));
    View.ShowStatus("ID:" + Slice(Frame, 12));
    PageSize = Word(Frame, 2);
    if (Payload.empty()) {
        EnterStage(usIdle);
        View.ShowStatus("System Updating : Ok");
        return;
    }
    // A page size of 0 cannot cut the payload into pages.
    if (PageSize == 0) {
        EnterStage(usIdle);
        View.ShowStatus("Send Header: Error");
        return;
    }
    PageCount = static_cast<int>(Payload.size() / static_cast<size_t>(PageSize));
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
            EnterStage(usIdle);
            View.ShowStatus("Updating firmware : Ok");
        } else {
            View.SetProgress(CurrentPage);
            View.ShowStatus(Format("Writing Page #%d : Ok", CurrentPage));
        }
        break;
    case '-':
        if (CurrentPage == EndMarkerPage) {
            EnterStage(usIdle);
            View.ShowStatus("Error updating firmware...");
            break;
        }
        ++NakCount;
        if (NakCount < MaxNaks) {
            View.ShowStatus(Format("Writing Page #%d : Retry %d", CurrentPage, NakCount));
        } else {
            EnterStage(usIdle);
            View.ShowStatus(Format("Writing Page #%d : Error", CurrentPage));
        }
        break;
    default: // '>' is ignored here
        break;
    }
}

} // namespace qvx
