#pragma once
// TFwUpdater: moves a firmware image into the adapter through its boot loader
// over the open device link. A small state machine stepped by a poll timer on
// the GUI thread; the boot loader leads, the updater answers its frames.
#include "fwupdate/upload_view.h"
#include "platform/files.h"
#include "platform/timers.h"
#include "platform/userio.h"
#include "serdev/link.h"

#include <memory>

namespace qvx {

enum TUpdateStage {
    usIdle,
    usWaitPrompt,
    usConnect,
    usSendHeader,
    usSendFallbackHeader,
    usPages,
};

// How an upload ended.
enum TUploadOutcome {
    uoNone,             // no upload has ended yet
    uoDone,             // the boot loader took the image (or the bare header)
    uoConnectError,     // the boot loader refused the connection
    uoHeaderError,      // the boot loader refused the header
    uoPageError,        // a page was refused too often
    uoEndError,         // the boot loader refused the end marker
    uoBootLoaderSilent, // no frame from the boot loader within the silence bound
    uoLinkLost,         // the device went away
    uoCancelled,        // stopped by the user
    uoFileMissing,      // the firmware file cannot be read
    uoFileShort,        // the firmware file has no whole header
    uoFileTooLarge,     // more pages than a page number can name
};

// "done", "connect_error", ... : the outcome's name in scripts and results.
const char* UploadOutcomeName(TUploadOutcome outcome);
// A short sentence telling what happened.
const char* UploadOutcomeText(TUploadOutcome outcome);

constexpr size_t FirmwareHeaderSize = 80;
constexpr size_t FirmwareFallbackHeaderSize = 184;
constexpr size_t FirmwareFallbackPayloadOffset = FirmwareHeaderSize + FirmwareFallbackHeaderSize;
constexpr int EndMarkerPage = 0xFFFF;
// Pages 0 .. MaxPageCount - 1 can be named; the next number is the end marker.
constexpr size_t MaxPageCount = EndMarkerPage;

// Sum of all bytes modulo 65536.
uint16_t Checksum16(const Bytes& data);

// Whether the firmware file fileName can be sent: uoFileMissing when it
// cannot be read, uoFileShort when it has no whole header, uoFileTooLarge when
// pageSize is known (> 0) and its payload has more whole pages than a page
// number can name; uoNone when it can be sent. image receives what was read.
TUploadOutcome CheckFirmwareFile(IFileSystem& files, const std::string& fileName, Bytes& image,
                                 int pageSize = 0);
// The text of a file outcome as its box shows it ("File \"<name>\" is not
// found.", ...); "" for any other outcome.
std::string FirmwareFileText(TUploadOutcome outcome, const std::string& fileName);

class TFwUpdater {
public:
    // The view shows every status text and the page progress.
    TFwUpdater(IUserIo& userIo, IFileSystem& files, ITimerService& timers, IUploadView& view);
    virtual ~TFwUpdater();
    TFwUpdater(const TFwUpdater&) = delete;
    TFwUpdater& operator=(const TFwUpdater&) = delete;

    // True when the upload is running. silenceLimitMs: once the prompt has
    // come (or was not waited for), the boot loader sending no frame for this
    // long ends the upload (uoBootLoaderSilent); 0 = no limit. promptLimitMs
    // bounds the wait for the prompt the same way; 0 = none, as in the window,
    // where the user powers the adapter or stops (a console has no Stop).
    bool StartUpload(IDeviceLink& link, const std::string& fileName, bool waitForPrompt,
                     unsigned silenceLimitMs = 0, unsigned promptLimitMs = 0);
    bool IsUploading() const { return Active; }
    // Stops a running upload at once; nothing is sent to the boot loader.
    void CancelUpload();
    // How the last upload ended; uoNone while it runs and before the first.
    TUploadOutcome Outcome() const { return LastOutcome; }

    // The steps, public for the tests and the page that watches them.
    bool LoadImage();
    void PollTick();
    bool ExtractFrame();
    bool HandleFrame();
    void StopUpload();

    TUpdateStage Stage = usIdle;
    std::string FileName;
    Bytes Image;
    Bytes Header;
    Bytes FallbackHeader;
    Bytes Payload;
    int HeaderWaitTicks = 0;
    // Silence bound of the running upload (0 = none) and the silence so far,
    // counted in poll intervals.
    unsigned SilenceLimitMs = 0;
    unsigned PromptLimitMs = 0;
    unsigned SilentMs = 0;
    int PageSize = 0;
    int PageCount = 0;
    int CurrentPage = 0;
    int NakCount = 0;
    Bytes RxBuffer;
    int PendingFrameLength = -1;
    Bytes Frame;
    TTimer* PollTimer() const { return Timer.get(); }

private:
    void EnterStage(TUpdateStage stage);
    // Ends the running upload with outcome (usIdle, link closed), then shows
    // its status.
    void EndWith(TUploadOutcome outcome, const std::string& status);
    void SendFrame(const Bytes& lead, const Bytes& data);
    void SendPage(int page);
    void ReadInput();
    void HandleHeaderAnswer();
    void HandlePagesFrame();
    void ReleaseTimer();

    IUserIo& UserIo;
    IFileSystem& Files;
    ITimerService& Timers;
    IUploadView& View;
    bool Active = false;
    TUploadOutcome LastOutcome = uoNone;
    IDeviceLink* Link = nullptr;
    std::unique_ptr<TTimer> Timer;
    // The poll timer is released from inside its own tick only after the
    // tick has returned.
    bool InTick = false;
    bool ReleasePending = false;
};

} // namespace qvx
