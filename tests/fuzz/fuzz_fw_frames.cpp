// The boot loader's frames: an upload whose boot loader sends the fuzz input,
// in arbitrary chunks, through the poll timer's frame extraction and
// handling. Whatever arrives, every page frame sent must carry the checksum
// of its data and a slice of the image, nothing may be written once the
// upload has closed the link, an ended upload leaves the link closed with one
// of the ending texts as its last status, and the progress gets its range
// before any position.
#include "fwupdate/Unitfwupdate.h"
#include "platform/memory/manual_timers.h"
#include "platform/memory/memory_files.h"
#include "platform/memory/scripted_userio.h"
#include "tests/fuzz/fuzz_link.h"

namespace {

uint16_t WordAt(const qvx::Bytes& b, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) |
                                 (static_cast<uint8_t>(b[at + 1]) << 8));
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool IsEndingText(const std::string& text) {
    return text == "Connecting: Error" || text == "Send Header: Error" ||
           text == "System Updating : Ok" || text == "Updating firmware : Ok" ||
           text == "Error updating firmware..." ||
           (text.compare(0, 14, "Writing Page #") == 0 && EndsWith(text, " : Error"));
}

class TFuzzView : public qvx::IUploadView {
public:
    std::string Last;
    int Max = -1;

    void ShowStatus(const std::string& text) override { Last = text; }
    void ClearStatus() override {}
    void SetProgressRange(int max) override {
        FUZZ_CHECK(max >= 0);
        Max = max;
    }
    void SetProgress(int) override { FUZZ_CHECK(Max >= 0); }
    int ProgressMax() const override { return Max; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qvx;
    if (size < 4)
        return 0;
    // Byte 1 bit 7: wait for the boot loader's prompt. Bytes 2-3: payload size.
    const bool waitForPrompt = (data[1] & 0x80) != 0;
    const size_t payloadSize = (data[2] | (data[3] << 8)) % 4096;
    Bytes image(FirmwareHeaderSize + payloadSize, '\0');
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<char>((i * 31 + 7) & 0xFF);

    TScriptedUserIo userIo;
    TMemoryFiles files;
    TManualTimers timers;
    files.Put("C:\\fw\\new.rfw", image);
    TFuzzView view;
    TFuzzLink link;
    link.Chunks = TChunker(data[0], data[1] % 32);
    link.Pending.assign(reinterpret_cast<const char*>(data) + 4, size - 4);
    TFwUpdater updater(userIo, files, timers, view);
    link.Open();
    FUZZ_CHECK(updater.StartUpload(link, "C:\\fw\\new.rfw", waitForPrompt));

    // Input left: ticks take it; then a few more for the header's silent wait.
    for (size_t quiet = 0, ticks = 0; updater.IsUploading() && quiet < 16 && ticks < 8 * size;
         ++ticks) {
        if (link.Pending.empty())
            ++quiet;
        timers.Advance(updater.PollTimer() ? updater.PollTimer()->Interval() : 10);
    }
    if (!updater.IsUploading())
        FUZZ_CHECK(!link.IsOpen() && IsEndingText(view.Last));
    updater.CancelUpload();
    FUZZ_CHECK(!updater.IsUploading() && !link.IsOpen());
    FUZZ_CHECK(link.WritesWhileClosed == 0);

    const Bytes payload = image.substr(FirmwareHeaderSize);
    for (const Bytes& frame : link.Written) {
        if (frame.size() <= 5 || frame[0] != '@')
            continue; // prompts, headers, the end marker
        const Bytes pageData = frame.substr(5);
        FUZZ_CHECK(WordAt(frame, 3) == Checksum16(pageData));
        FUZZ_CHECK(payload.find(pageData) != Bytes::npos);
    }
    return 0;
}
