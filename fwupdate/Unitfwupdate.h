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

constexpr size_t FirmwareHeaderSize = 80;
constexpr size_t FirmwareFallbackHeaderSize = 184;
constexpr size_t FirmwareFallbackPayloadOffset = FirmwareHeaderSize + FirmwareFallbackHeaderSize;
constexpr int EndMarkerPage = 0xFFFF;

// Sum of all bytes modulo 65536.
uint16_t Checksum16(const Bytes& data);

class TFwUpdater {
public:
    // The view shows every status text and the page progress.
    TFwUpdater(IUserIo& userIo, IFileSystem& files, ITimerService& timers, IUploadView& view);
    virtual ~TFwUpdater();
    TFwUpdater(const TFwUpdater&) = delete;
    TFwUpdater& operator=(const TFwUpdater&) = delete;

    // True when the upload is running.
    bool StartUpload(IDeviceLink& link, const std::string& fileName, bool waitForPrompt);
    bool IsUploading() const { return Active; }
    // Stops a running upload at once; nothing is sent to the boot loader.
    void CancelUpload();

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
    IDeviceLink* Link = nullptr;
    std::unique_ptr<TTimer> Timer;
    // The poll timer is released from inside its own tick only after the
    // tick has returned.
    bool InTick = false;
    bool ReleasePending = false;
};

} // namespace qvx
