#include "fwupdate/Unitfwupdate.h"
#include "platform/memory/manual_timers.h"
#include "platform/memory/memory_files.h"
#include "platform/memory/scripted_userio.h"
#include "tests/fakes/fake_link.h"

#include <gtest/gtest.h>

namespace qvx {
namespace {

// A link whose input the test feeds and whose writes it reads back.
class TScriptLink : public TFakeLinkBase {
public:
    Bytes Input;
    std::vector<Bytes> Writes;
    int32_t Unsent = 0;
    uint8_t Bits = 7;

    bool Write(const Bytes& bytes) override {
        if (!Opened)
            return bytes.empty();
        Writes.push_back(bytes);
        return true;
    }
    int32_t InputCount() override { return Opened ? static_cast<int32_t>(Input.size()) : 0; }
    int32_t OutputCount() override { return Opened ? Unsent : 0; }
    bool ReadAvailable(Bytes& text) override {
        if (Opened && !Input.empty()) {
            text = Input;
            Input.clear();
        }
        return true;
    }
    uint8_t SetByteSize(uint8_t bits) override { return Bits = bits; }
    Bytes AllWritten() const {
        Bytes all;
        for (const Bytes& w : Writes)
            all += w;
        return all;
    }
};

// The upload's view as the tests read it: every status text in order, the
// status line and the progress as the updater set them.
class TUploadLog : public IUploadView {
public:
    std::vector<std::string> Lines;
    std::string Status;
    int Max = 100;
    int Position = 0;

    void ShowStatus(const std::string& text) override {
        Status = text;
        Lines.push_back(text);
    }
    void ClearStatus() override { Status.clear(); }
    void SetProgressRange(int max) override { Max = max; }
    void SetProgress(int position) override { Position = position; }
    int ProgressMax() const override { return Max; }
};

Bytes Word(uint16_t v) {
    return Bytes{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

Bytes Image(size_t size) {
    Bytes image(size, '\0');
    for (size_t i = 0; i < size; ++i)
        image[i] = static_cast<char>((i * 31 + 7) & 0xFF);
    return image;
}

// The boot loader's answer to a header: page size, serial number, text.
Bytes HeaderAnswer(uint16_t pageSize, const Bytes& serial = "SN123456",
                   const Bytes& id = "QVX-BL") {
    const Bytes rest = Word(pageSize) + serial + id;
    Bytes frame = "+";
    frame.push_back(static_cast<char>(rest.size()));
    return frame + rest;
}

Bytes Ack(uint16_t page) {
    return Bytes("+\x02", 2) + Word(page);
}
Bytes Request(uint16_t page) {
    return Bytes(".") + Word(page);
}

class FwUpdaterTest : public ::testing::Test {
protected:
    void SetUp() override { Link.Opened = true; }
    bool Start(const Bytes& image, bool wait = true, unsigned silenceLimitMs = 0,
               unsigned promptLimitMs = 0) {
        Files.Put("C:\\fw\\new.rfw", image);
        return Updater.StartUpload(Link, "C:\\fw\\new.rfw", wait, silenceLimitMs, promptLimitMs);
    }
    // The boot loader sends bytes; the next tick takes them.
    void Answer(const Bytes& bytes) {
        Link.Input += bytes;
        Tick();
    }
    void Tick() { Timers.Advance(Updater.PollTimer() ? Updater.PollTimer()->Interval() : 10); }

    TScriptedUserIo UserIo;
    TMemoryFiles Files;
    TManualTimers Timers;
    TUploadLog View;
    TScriptLink Link;
    TFwUpdater Updater{UserIo, Files, Timers, View};
};

const char* const SilentText = "No answer from the boot loader for 30 s: reconnect the adapter, "
                               "tick \"Do not Search\" and \"Wait\", then press Run.";
const char* const LostText = "The adapter was disconnected: reconnect it, tick \"Do not Search\" "
                             "and \"Wait\", then press Run.";

TEST(Checksum, SumsBytesModulo65536) {
    EXPECT_EQ(Checksum16("abc"), 0x0126);
    EXPECT_EQ(Checksum16(Bytes(300, '\xFF')), (300 * 255) & 0xFFFF);
    EXPECT_EQ(Checksum16(""), 0);
}

TEST_F(FwUpdaterTest, TwoPageUploadInWireOrder) {
    // 80-byte header and two pages of 128.
    const Bytes image = Image(80 + 256);
    ASSERT_TRUE(Start(image));
    EXPECT_TRUE(Link.Writes.empty()); // "Wait": nothing before the prompt
    EXPECT_EQ(Link.Bits, 8);
    Answer(">");
    ASSERT_EQ(Link.Writes.size(), 1u);
    EXPECT_EQ(Link.Writes[0], "<");
    Answer(Bytes("+\x00", 2));
    ASSERT_EQ(Link.Writes.size(), 2u);
    const Bytes header = image.substr(0, 80);
    EXPECT_EQ(Link.Writes[1], "#" + Word(Checksum16(header)) + header);
    Answer(HeaderAnswer(128));
    Answer(Request(0));
    const Bytes page0 = image.substr(80, 128), page1 = image.substr(208, 128);
    EXPECT_EQ(Link.Writes.back(), "@" + Word(0) + Word(Checksum16(page0)) + page0);
    Answer(Ack(0));
    EXPECT_EQ(View.Position, 0);
    Answer(Request(1));
    EXPECT_EQ(Link.Writes.back(), "@" + Word(1) + Word(Checksum16(page1)) + page1);
    Answer(Ack(1));
    EXPECT_EQ(View.Position, 1);
    Answer(Request(2));
    EXPECT_EQ(Link.Writes.back(), Bytes("@\xFF\xFF", 3));
    Answer(Ack(0xFFFF));
    EXPECT_FALSE(Updater.IsUploading());
    EXPECT_EQ(View.Position, 2);
    EXPECT_EQ(View.Max, 2);
    EXPECT_FALSE(Link.Opened);
    EXPECT_EQ(Updater.PollTimer(), nullptr);
    EXPECT_EQ(View.Lines,
              (std::vector<std::string>{"Waiting Connection...", "Connecting...", "Send Header...",
                                        "SN:SN123456", "ID:QVX-BL", "Wait for page request...",
                                        "Writing Page #0", "Writing Page #0 : Ok",
                                        "Writing Page #1", "Writing Page #1 : Ok",
                                        "Updating firmware", "Updating firmware : Ok"}));
    EXPECT_EQ(View.Status, "Updating firmware : Ok");
    EXPECT_EQ(Updater.Outcome(), uoDone);
}

TEST_F(FwUpdaterTest, WithoutWaitTheConnectFrameGoesFirst) {
    ASSERT_TRUE(Start(Image(100), false));
    ASSERT_EQ(Link.Writes.size(), 1u);
    EXPECT_EQ(Link.Writes[0], "<");
    EXPECT_EQ(View.Lines, (std::vector<std::string>{"Connecting..."}));
}

TEST_F(FwUpdaterTest, FirstTickAfter100msThenEvery10ms) {
    ASSERT_TRUE(Start(Image(100)));
    ASSERT_NE(Updater.PollTimer(), nullptr);
    EXPECT_EQ(Updater.PollTimer()->Interval(), 100u);
    Link.Input = ">";
    Timers.Advance(99);
    EXPECT_TRUE(Link.Writes.empty());
    Timers.Advance(1);
    EXPECT_EQ(Link.Writes.size(), 1u);
    EXPECT_EQ(Updater.PollTimer()->Interval(), 10u);
}

TEST_F(FwUpdaterTest, StrayBytesBeforePromptAreDroppedAndBytesBehindItDiscarded) {
    ASSERT_TRUE(Start(Image(100)));
    Answer(Bytes("\x01zz>+\x05", 6));
    ASSERT_EQ(Link.Writes.size(), 1u);
    EXPECT_EQ(Updater.Stage, usConnect);
    EXPECT_TRUE(Updater.RxBuffer.empty());
}

TEST_F(FwUpdaterTest, LongPositiveReplyIsCutWholeWhenComplete) {
    ASSERT_TRUE(Start(Image(100), false));
    Bytes reply = "+";
    reply.push_back(static_cast<char>(200));
    reply += Bytes(200, 'r');
    Answer(reply.substr(0, 150));
    EXPECT_EQ(Updater.Stage, usConnect);
    Answer(reply.substr(150, 51));
    EXPECT_EQ(Updater.Stage, usConnect); // 201 of 202 bytes
    Answer(reply.substr(201));
    EXPECT_EQ(Updater.Stage, usSendHeader);
}

TEST_F(FwUpdaterTest, HeaderAnswerWithEmptyIdentification) {
    ASSERT_TRUE(Start(Image(1000), false));
    Answer(Bytes("+\x00", 2));
    Bytes answer = Bytes("+\x0A\x80\x00", 4) + "ABCDEFGH";
    Answer(answer);
    EXPECT_EQ(Updater.PageSize, 128);
    EXPECT_EQ(View.Lines[2], "SN:ABCDEFGH");
    EXPECT_EQ(View.Lines[3], "ID:");
}

TEST_F(FwUpdaterTest, AnEmptyPayloadEndsAfterTheHeaderAnswer) {
    // An 80-byte file: no page is asked for.
    ASSERT_TRUE(Start(Image(80), false));
    Answer(Bytes("+\x00", 2));
    Answer(HeaderAnswer(128));
    EXPECT_FALSE(Updater.IsUploading());
    EXPECT_EQ(View.Lines.back(), "System Updating : Ok");
    EXPECT_EQ(Link.Writes.size(), 2u);
    // 200 bytes on the fallback path: a short fallback header, no payload.
    Link.Opened = true;
    const Bytes image = Image(200);
    ASSERT_TRUE(Start(image, false));
    Answer(Bytes("+\x00", 2));
    for (int i = 0; i < 5; ++i)
        Tick();
    EXPECT_EQ(Link.Writes.back(), image.substr(80));
    Answer(HeaderAnswer(64));
    EXPECT_FALSE(Updater.IsUploading());
    EXPECT_EQ(View.Lines.back(), "System Updating : Ok");
    EXPECT_EQ(Link.Writes.size(), 5u);
}

TEST_F(FwUpdaterTest, TrailingPartialPageIsNeverSent) {
    ASSERT_TRUE(Start(Image(80 + 300), false));
    Answer(Bytes("+\x00", 2));
    Answer(HeaderAnswer(128));
    EXPECT_EQ(Updater.PageCount, 2);
    Answer(Request(2));
    EXPECT_EQ(Link.Writes.back(), Bytes("@\xFF\xFF", 3));
    // A request past the end gets the page number alone.
    Answer(Request(5));
    EXPECT_EQ(Link.Writes.back(), "@" + Word(5));
}

TEST_F(FwUpdaterTest, APartialLastPageIsNamedBeforeTheFinalStatus) {
    ASSERT_TRUE(Start(Image(80 + 300), false));
    Answer(Bytes("+\x00", 2));
    Answer(HeaderAnswer(128));
    for (uint16_t page = 0; page < 2; ++page) {
        Answer(Request(page));
        Answer(Ack(page));
    }
    Answer(Request(2));
    Answer(Ack(EndMarkerPage));
    EXPECT_FALSE(Updater.IsUploading());
    EXPECT_EQ(Updater.Outcome(), uoDone);
    ASSERT_GE(View.Lines.size(), 2u);
    EXPECT_EQ(View.Lines[View.Lines.size() - 2],
              "The last 44 bytes of the firmware file are less than a page and were not sent");
    EXPECT_EQ(View.Lines.back(), "Updating firmware : Ok");
}

TEST_F(FwUpdaterTest, AFileOfMorePagesThanPageNumbersIsRefusedBeforeTheFirstPage) {
    ASSERT_TRUE(Start(Image(80 + 65535 * 2 + 2), false));
    Answer(Bytes("+\x00", 2));
    Answer(HeaderAnswer(2)); // 65,536 pages: the last would be numbered 0xFFFF
    EXPECT_FALSE(Updater.IsUploading());
    EXPECT_EQ(Updater.Outcome(), uoFileTooLarge);
    EXPECT_EQ(View.Lines.back(), "The firmware file is too large: 65536 pages of 2 bytes, at most "
                                 "65535. Nothing was written; choose the adapter's firmware file.");
    EXPECT_EQ(Link.Writes.size(), 2u); // connect and header only
    EXPECT_FALSE(Link.Opened);
    // 65,535 pages can be named.
    Link.Opened = true;
    ASSERT_TRUE(Start(Image(80 + 65535 * 2 + 1), false));
    Answer(Bytes("+\x00", 2));
    Answer(HeaderAnswer(2));
    EXPECT_TRUE(Updater.IsUploading());
    EXPECT_EQ(Updater.PageCount, 65535);
}

TEST_F(FwUpdaterTest, ABootLoaderSilentForTheBoundEndsTheUploadInEveryStage) {
    // How far the boot loader answers before it goes silent: not at all (the
    // connect stage), the connection only (the header stages), a page.
    for (int answered = 0; answered < 3; ++answered) {
        Link.Opened = true;
        View.Lines.clear();
        ASSERT_TRUE(Start(Image(80 + 256), false, 30000));
        if (answered >= 1)
            Answer(Bytes("+\x00", 2));
        if (answered >= 2) {
            Answer(HeaderAnswer(128));
            Answer(Request(0));
            ASSERT_EQ(Updater.Stage, usPages);
        }
        // Silent from the last answer on (or from the start).
        Timers.Advance(30000 - 1);
        ASSERT_TRUE(Updater.IsUploading()) << answered;
        Timers.Advance(1);
        EXPECT_FALSE(Updater.IsUploading()) << answered;
        EXPECT_EQ(Updater.Outcome(), uoBootLoaderSilent);
        EXPECT_EQ(View.Lines.back(), SilentText);
        EXPECT_EQ(View.Status, SilentText);
        EXPECT_FALSE(Link.Opened);
        EXPECT_EQ(Timers.RunningCount(), 0u);
    }
}

// The window's user powers the adapter or stops; a console bounds the prompt.
TEST_F(FwUpdaterTest, TheWaitForThePromptHasALimitOnlyWhenOneIsGiven) {
    ASSERT_TRUE(Start(Image(80 + 256), true, 30000));
    Timers.Advance(10 * 60 * 1000);
    EXPECT_TRUE(Updater.IsUploading());
    EXPECT_EQ(View.Lines.back(), "Waiting Connection...");
    Updater.CancelUpload();

    Link.Opened = true;
    ASSERT_TRUE(Start(Image(80 + 256), true, 30000, 30000));
    Timers.Advance(30000);
    EXPECT_FALSE(Updater.IsUploading());
    EXPECT_EQ(Updater.Outcome(), uoBootLoaderSilent);
    EXPECT_EQ(View.Lines.back(), SilentText);
}

TEST_F(FwUpdaterTest, ALostLinkEndsTheUploadAtTheNextPoll) {
    ASSERT_TRUE(Start(Image(80 + 256), false, 30000));
    Answer(Bytes("+\x00", 2));
    Answer(HeaderAnswer(128));
    Link.Gone = true; // unplugged
    Tick();
    EXPECT_FALSE(Updater.IsUploading());
    EXPECT_EQ(Updater.Outcome(), uoLinkLost);
    EXPECT_EQ(View.Lines.back(), LostText);
    EXPECT_FALSE(Link.Opened);
    EXPECT_EQ(Timers.RunningCount(), 0u);
}

TEST_F(FwUpdaterTest, SilentBootLoaderGetsTheFallbackHeaderAfterFiveTicks) {
    const Bytes image = Image(264 + 64);
    ASSERT_TRUE(Start(image, false));
    Answer(Bytes("+\x00", 2));
    ASSERT_EQ(Link.Writes.size(), 2u);
    Link.Unsent = 10; // the header has not left yet: no countdown
    for (int i = 0; i < 10; ++i)
        Tick();
    EXPECT_EQ(Link.Writes.size(), 2u);
    Link.Unsent = 0;
    for (int i = 0; i < 4; ++i)
        Tick();
    EXPECT_EQ(Link.Writes.size(), 2u);
    Tick();
    ASSERT_EQ(Link.Writes.size(), 3u);
    EXPECT_EQ(Link.Writes[2], image.substr(80, 184));
    EXPECT_EQ(Updater.Stage, usSendFallbackHeader);
    Answer(HeaderAnswer(32));
    EXPECT_EQ(Updater.PageCount, 2);
    Answer(Request(1));
    const Bytes page1 = image.substr(264 + 32, 32);
    EXPECT_EQ(Link.Writes.back(), "@" + Word(1) + Word(Checksum16(page1)) + page1);
}

TEST_F(FwUpdaterTest, ThreeNaksRetryAPositiveReplyResetsAndFourthEnds) {
    ASSERT_TRUE(Start(Image(80 + 128 * 10), false));
    Answer(Bytes("+\x00", 2));
    Answer(HeaderAnswer(128));
    Answer(Request(7));
    Answer("---");
    EXPECT_EQ(View.Lines[View.Lines.size() - 3], "Writing Page #7 : Retry 1");
    EXPECT_EQ(View.Lines[View.Lines.size() - 1], "Writing Page #7 : Retry 3");
    Answer(Ack(7));
    EXPECT_EQ(Updater.NakCount, 0);
    const size_t writes = Link.Writes.size();
    Answer("----");
    EXPECT_FALSE(Updater.IsUploading());
    EXPECT_EQ(View.Lines.back(), "Writing Page #7 : Error");
    EXPECT_EQ(Updater.Outcome(), uoPageError);
    EXPECT_EQ(View.Status, "Writing Page #7 : Error");
    EXPECT_EQ(Link.Writes.size(), writes); // nothing sent after an error
}

TEST_F(FwUpdaterTest, NakToTheEndMarkerEndsWithError) {
    ASSERT_TRUE(Start(Image(80 + 128), false));
    Answer(Bytes("+\x00", 2));
    Answer(HeaderAnswer(128));
    Answer(Request(1));
    Answer("-");
    EXPECT_FALSE(Updater.IsUploading());
    EXPECT_EQ(View.Lines.back(), "Error updating firmware...");
    EXPECT_EQ(Updater.Outcome(), uoEndError);
}

TEST_F(FwUpdaterTest, WrongFramesInConnectAndHeaderStagesEndTheUpload) {
    ASSERT_TRUE(Start(Image(100), false));
    Answer("-");
    EXPECT_FALSE(Updater.IsUploading());
    EXPECT_EQ(View.Lines.back(), "Connecting: Error");
    EXPECT_EQ(Updater.Outcome(), uoConnectError);
    Link.Opened = true;
    View.Lines.clear();
    ASSERT_TRUE(Start(Image(100), false));
    Answer(Bytes("+\x00", 2));
    Answer(">");
    EXPECT_EQ(View.Lines.back(), "Send Header: Error");
    EXPECT_EQ(Updater.Outcome(), uoHeaderError);
    EXPECT_FALSE(Link.Opened);
}

TEST_F(FwUpdaterTest, HeaderAnswerTooShortOrPageSizeZeroStopsInOrder) {
    ASSERT_TRUE(Start(Image(500), false));
    Answer(Bytes("+\x00", 2));
    Answer(Bytes("+\x01\x80", 3)); // no room for a page size
    EXPECT_FALSE(Updater.IsUploading());
    EXPECT_EQ(View.Lines.back(), "Send Header: Error");
    Link.Opened = true;
    ASSERT_TRUE(Start(Image(500), false));
    Answer(Bytes("+\x00", 2));
    Answer(HeaderAnswer(0));
    EXPECT_FALSE(Updater.IsUploading());
    EXPECT_EQ(View.Lines.back(), "Send Header: Error");
    EXPECT_EQ(Updater.PageCount, 0);
}

TEST_F(FwUpdaterTest, CancelWhileRunningAndWhileIdle) {
    Updater.CancelUpload();
    EXPECT_TRUE(View.Lines.empty());
    ASSERT_TRUE(Start(Image(100)));
    Updater.CancelUpload();
    EXPECT_FALSE(Updater.IsUploading());
    EXPECT_EQ(View.Lines.back(), "Firmware Update canceled...");
    EXPECT_EQ(Updater.Outcome(), uoCancelled);
    EXPECT_FALSE(Link.Opened);
    EXPECT_TRUE(Link.Writes.empty());
    EXPECT_EQ(Timers.RunningCount(), 0u);
}

TEST_F(FwUpdaterTest, FileProblemsShowTheirBoxesAndLeaveTheLinkAlone) {
    Link.Opened = false;
    EXPECT_FALSE(Updater.StartUpload(Link, "C:\\none.rfw", true));
    ASSERT_EQ(UserIo.Boxes().size(), 1u);
    EXPECT_EQ(UserIo.Boxes()[0].Text, "File \"C:\\none.rfw\" is not found.");
    EXPECT_EQ(UserIo.Boxes()[0].Caption, "Open Firware file...");
    EXPECT_EQ(UserIo.Boxes()[0].Flags, mb::IconStop);
    EXPECT_EQ(Updater.Outcome(), uoFileMissing);
    EXPECT_FALSE(Start(Image(79)));
    EXPECT_EQ(Updater.Outcome(), uoFileShort);
    ASSERT_EQ(UserIo.Boxes().size(), 2u);
    EXPECT_EQ(UserIo.Boxes()[1].Text, "Error! Firmware file \"C:\\fw\\new.rfw\" is short.");
    EXPECT_FALSE(Start(""));
    EXPECT_EQ(UserIo.Boxes().size(), 3u);
    EXPECT_EQ(Link.Opens, 0);
    EXPECT_FALSE(Updater.IsUploading());
}

TEST(FirmwareFileCheck, MissingShortTooLargeOrSendable) {
    TMemoryFiles files;
    Bytes image;
    EXPECT_EQ(CheckFirmwareFile(files, "none.rfw", image), uoFileMissing);
    files.Put("short.rfw", Image(79));
    EXPECT_EQ(CheckFirmwareFile(files, "short.rfw", image), uoFileShort);
    files.Put("big.rfw", Image(80 + 65535 * 2 + 2));
    // Too large only once the page size is known.
    EXPECT_EQ(CheckFirmwareFile(files, "big.rfw", image), uoNone);
    EXPECT_EQ(image.size(), 80u + 65535 * 2 + 2);
    EXPECT_EQ(CheckFirmwareFile(files, "big.rfw", image, 2), uoFileTooLarge);
    EXPECT_EQ(CheckFirmwareFile(files, "big.rfw", image, 4), uoNone);
    EXPECT_EQ(FirmwareFileText(uoFileMissing, "a.rfw"), "File \"a.rfw\" is not found.");
    EXPECT_EQ(FirmwareFileText(uoFileShort, "a.rfw"), "Error! Firmware file \"a.rfw\" is short.");
}

TEST_F(FwUpdaterTest, OpensAClosedLinkAndFailsQuietlyWhenItCannot) {
    Link.Opened = false;
    ASSERT_TRUE(Start(Image(100)));
    EXPECT_EQ(Link.Opens, 1);
    Updater.CancelUpload();
    Link.OpenSucceeds = false;
    EXPECT_FALSE(Start(Image(100)));
    EXPECT_FALSE(Updater.IsUploading());
    EXPECT_EQ(UserIo.Boxes().size(), 0u);
}

TEST_F(FwUpdaterTest, ALinkClosedUnderTheUploadEndsItAsLost) {
    ASSERT_TRUE(Start(Image(100)));
    Link.Opened = false;
    Tick();
    EXPECT_FALSE(Updater.IsUploading());
    EXPECT_EQ(Updater.Outcome(), uoLinkLost);
    EXPECT_EQ(View.Lines.back(), LostText);
    EXPECT_EQ(Timers.RunningCount(), 0u);
}

TEST_F(FwUpdaterTest, AllFramesOfOneTickAreHandledInIt) {
    ASSERT_TRUE(Start(Image(80 + 256)));
    Answer(">");
    Answer(Bytes("+\x00", 2));
    Answer(HeaderAnswer(128) + Request(0) + Ack(0) + Request(1));
    EXPECT_EQ(View.Lines.back(), "Writing Page #1");
}

} // namespace
} // namespace qvx
