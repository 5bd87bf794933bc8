#include "sim/sim_adapter.h"
#include "sim/sim_config.h"
#include "sim/sim_link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

namespace qvx {
namespace {

// ---- helpers ---------------------------------------------------------------

// Advances in 1 ms steps for `ms` milliseconds, collecting every piece read.
std::vector<Bytes> CollectPieces(TSimAdapter& a, int ms) {
    std::vector<Bytes> pieces;
    for (int i = 0; i < ms; ++i) {
        a.Advance(1000);
        Bytes piece = a.HostRead(SIZE_MAX);
        if (!piece.empty()) {
            pieces.push_back(piece);
        }
    }
    return pieces;
}

Bytes Collect(TSimAdapter& a, int ms) {
    Bytes all;
    for (const Bytes& p : CollectPieces(a, ms)) {
        all += p;
    }
    return all;
}

Bytes Exchange(TSimAdapter& a, const Bytes& command, int ms = 100) {
    a.HostWrite(command);
    return Collect(a, ms);
}

// The lines of one framed reply, checking the frame on the way.
std::vector<std::string> ReplyLines(const Bytes& reply) {
    std::vector<std::string> lines;
    EXPECT_EQ(reply.substr(0, 5), "\r\nCR:");
    EXPECT_GE(reply.size(), 9u);
    EXPECT_EQ(reply.substr(reply.size() - 4), "\r\n\r\n");
    size_t pos = 2;
    while (pos + 2 < reply.size()) {
        size_t end = reply.find("\r\n", pos);
        lines.push_back(reply.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

bool HasLine(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

int Count(const Bytes& text, const std::string& word) {
    int n = 0;
    for (size_t p = text.find(word); p != Bytes::npos; p = text.find(word, p + word.size())) {
        ++n;
    }
    return n;
}

Bytes B(std::initializer_list<int> bytes) {
    Bytes out;
    for (int b : bytes) {
        out += static_cast<char>(b);
    }
    return out;
}

// The host's frames, built here byte by byte rather than with the adapter's
// own helpers.
Bytes Le(unsigned v) {
    return B({static_cast<int>(v & 0xFF), static_cast<int>(v >> 8)});
}
unsigned Sum(const Bytes& data) {
    unsigned s = 0;
    for (char c : data) {
        s += static_cast<unsigned char>(c);
    }
    return s & 0xFFFF;
}
Bytes HeaderFrame(const Bytes& header) {
    return "#" + Le(Sum(header)) + header;
}
Bytes PageFrameOf(unsigned n, const Bytes& page) {
    return "@" + Le(n) + Le(Sum(page)) + page;
}

Bytes Image(size_t length) {
    Bytes img;
    for (size_t i = 0; i < length; ++i) {
        img += static_cast<char>((i * 37 + 11) & 0xFF);
    }
    return img;
}

// An adapter already in its boot loader and connected ('<' answered).
struct SimBootLoader : ::testing::Test {
    TSimConfig Cfg;
    std::unique_ptr<TSimAdapter> A;
    Bytes Img = Image(80 + 2 * 16 + 5);

    void Start() {
        Cfg.StartInBootLoader = true;
        Cfg.PageSize = 16;
        Cfg.BootSerial = "SN123456";
        Cfg.BootId = "BL";
        A.reset(new TSimAdapter(Cfg));
        ASSERT_EQ(Exchange(*A, "<"), B({'+', 0}));
    }
    Bytes Page(unsigned n) const { return Img.substr(80 + n * 16, 16); }
    Bytes HeaderAnswer() const { return B({'+', 12, 16, 0}) + "SN123456" + "BL"; }
};

// ---- service interface -----------------------------------------------------

TEST(SimAdapter, IdentityReplyIsFramedAndCarriesEveryTagAndMode) {
    TSimConfig cfg;
    cfg.Modes.push_back({"07", '-', "Factory", true});
    TSimAdapter a(cfg);
    Bytes reply = Exchange(a, "!Morvek_SC_I");
    std::vector<std::string> lines = ReplyLines(reply);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "CR:" + cfg.Copyright);
    for (const char* l :
         {"SN:QV2A0017", "ID:5A3C91E0", "FW:2.31", "BW:1.07", "HW:3.0", "PT:105", "000 - Service",
          "003 _ Data logger", "004 + CAN gateway", "005 * K-Line monitor",
          "Selected Mode: 001 - SAE J2534 Pass-Thru", "PI:OFF", "UI:12.34V"}) {
        EXPECT_TRUE(HasLine(lines, l)) << l;
    }
    EXPECT_FALSE(HasLine(lines, "07 - Factory")); // hidden modes are never listed
    for (const std::string& l : lines) {
        EXPECT_FALSE(l.empty()); // an empty line would end the reply early
    }
    EXPECT_EQ(a.IdentifyCount(), 1);
}

TEST(SimAdapter, IdentityVariantsFollowTheConfiguration) {
    TSimConfig cfg;
    cfg.LongTags = true;
    cfg.UsbLine = "USB-QVX";
    cfg.BootVersion.clear();
    cfg.DriverVersion.clear();
    cfg.PowerLines = false;
    cfg.ExtraLines = {"PA:1"};
    TSimAdapter a(cfg);
    std::vector<std::string> lines = ReplyLines(Exchange(a, "!Morvek_SC_I"));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1], "USB-QVX");
    EXPECT_TRUE(HasLine(lines, "Serial Number: QV2A0017"));
    EXPECT_TRUE(HasLine(lines, "Signature: 5A3C91E0"));
    EXPECT_TRUE(HasLine(lines, "Version 2.31"));
    EXPECT_TRUE(HasLine(lines, "Hardware: 3.0"));
    EXPECT_EQ(lines.back(), "PA:1");
    for (const std::string& l : lines) {
        EXPECT_NE(l.substr(0, 3), "BW:");
        EXPECT_NE(l.substr(0, 3), "PT:");
        EXPECT_NE(l.substr(0, 3), "PI:");
    }
}

TEST(SimAdapter, ModeSwitchTakesTheNextWriteAsArgument) {
    TSimAdapter a;
    std::vector<std::string> first = ReplyLines(Exchange(a, "!Morvek_SC_M"));
    EXPECT_FALSE(HasLine(first, "Selected Mode: 002 - Scan tool emulation"));
    std::vector<std::string> second = ReplyLines(Exchange(a, "002"));
    EXPECT_TRUE(HasLine(second, "Selected Mode: 002 - Scan tool emulation"));
    EXPECT_TRUE(HasLine(ReplyLines(Exchange(a, "!Morvek_SC_I")),
                        "Selected Mode: 002 - Scan tool emulation"));

    // An unknown number leaves the running mode; an argument in the command's
    // own write is taken as well.
    Exchange(a, "!Morvek_SC_M");
    EXPECT_TRUE(HasLine(ReplyLines(Exchange(a, "9Z")), "Selected Mode: 002 - Scan tool emulation"));
    Bytes both = Exchange(a, "!Morvek_SC_M000");
    EXPECT_NE(both.find("Selected Mode: 000 - Service"), Bytes::npos);
    EXPECT_EQ(a.RunningMode(), "000");
    EXPECT_EQ(a.ArgumentLog(), (std::vector<Bytes>{"002", "9Z", "000"}));
}

TEST(SimAdapter, ANewCommandInsteadOfTheArgumentIsACommand) {
    TSimAdapter a;
    Exchange(a, "!Morvek_SC_M");
    std::vector<std::string> lines = ReplyLines(Exchange(a, "!Morvek_SC_I"));
    EXPECT_TRUE(HasLine(lines, "Selected Mode: 001 - SAE J2534 Pass-Thru"));
    EXPECT_EQ(a.CommandLog(), "MI");
    EXPECT_TRUE(a.ArgumentLog().empty());
}

TEST(SimAdapter, CommandSplitAcrossWritesAfterNoiseIsRecognised) {
    TSimAdapter a;
    a.HostWrite("xx!Morv");
    a.HostWrite("ek_SC");
    Bytes reply = Exchange(a, "_I");
    EXPECT_EQ(a.CommandLog(), "I");
    EXPECT_EQ(reply.substr(0, 5), "\r\nCR:");
}

TEST(SimAdapter, PowerSwitchReplyCarriesPowerLines) {
    TSimAdapter a;
    Exchange(a, "!Morvek_SC_P");
    std::vector<std::string> on = ReplyLines(Exchange(a, "1"));
    EXPECT_EQ(on, (std::vector<std::string>{"CR:" + TSimConfig().Copyright, "PI:ON", "UI:12.34V"}));
    EXPECT_TRUE(a.PowerOn());
    Exchange(a, "!Morvek_SC_P");
    EXPECT_TRUE(HasLine(ReplyLines(Exchange(a, "0")), "PI:OFF"));
    EXPECT_FALSE(a.PowerOn());
}

TEST(SimAdapter, SelfTestStreamsWithProgressLinesAndConfiguredWords) {
    TSimConfig cfg;
    cfg.TestSteps = 4;
    cfg.TestErrors = 2;
    cfg.TestWarnings = 5; // more than steps: extra rows carry the rest
    cfg.TestStepDelayUs = 10000;
    TSimAdapter a(cfg);
    a.HostWrite("!Morvek_SC_T");
    std::vector<Bytes> pieces = CollectPieces(a, 1000);
    Bytes log;
    for (const Bytes& p : pieces) {
        log += p;
    }
    EXPECT_GE(pieces.size(), 10u);
    // Only the last piece ends the reply.
    for (size_t i = 0; i + 1 < pieces.size(); ++i) {
        EXPECT_EQ(pieces[i].find("\r\n\r\n"), Bytes::npos);
    }
    ReplyLines(log);
    size_t bareCr = 0;
    for (size_t i = 0; i + 1 < log.size(); ++i) {
        bareCr += log[i] == '\r' && log[i + 1] != '\n';
    }
    EXPECT_EQ(bareCr, 4u * 3u); // three progress rewrites per step
    EXPECT_EQ(Count(log, "ERROR"), 2);
    EXPECT_EQ(Count(log, "WARNING"), 5);
}

TEST(SimAdapter, CleanSelfTestHasNoErrorOrWarningWords) {
    TSimAdapter a;
    Bytes log = Exchange(a, "!Morvek_SC_T", 1000);
    ReplyLines(log);
    EXPECT_EQ(Count(log, "ERROR"), 0);
    EXPECT_EQ(Count(log, "WARNING"), 0);
}

// ---- pacing ----------------------------------------------------------------

TEST(SimAdapter, LineRateLimitsWhatArrives) {
    TSimConfig cfg;
    cfg.BytesPerSecond = 1000;
    TSimAdapter a(cfg);
    a.HostWrite("!Morvek_SC_I");
    size_t total = 0;
    for (int ms = 1; ms <= 100; ++ms) {
        a.Advance(1000);
        total += a.HostRead(SIZE_MAX).size();
        EXPECT_LE(total, static_cast<size_t>(ms));
    }
    EXPECT_GE(total, 99u);

    // The same 100 ms in one step give the same bytes.
    TSimAdapter b(cfg);
    b.HostWrite("!Morvek_SC_I");
    b.Advance(100000);
    EXPECT_EQ(b.HostAvailable(), total);
}

TEST(SimAdapter, ChunksNeverExceedTheChunkSizeAndTheRestArrivesWhenQuiet) {
    TSimConfig cfg;
    cfg.BytesPerSecond = 2000;
    cfg.ChunkSize = 16;
    TSimAdapter a(cfg);
    a.HostWrite("!Morvek_SC_P");
    std::vector<Bytes> pieces = CollectPieces(a, 500);
    ASSERT_GT(pieces.size(), 1u);
    Bytes all;
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (i + 1 < pieces.size()) {
            EXPECT_EQ(pieces[i].size(), 16u) << i;
        }
        all += pieces[i];
    }
    ReplyLines(all); // the short tail arrives too
    EXPECT_EQ(pieces.back().size(), all.size() % 16 ? all.size() % 16 : 16);
}

TEST(SimAdapter, ReplyDelayHoldsTheFirstByte) {
    TSimConfig cfg;
    cfg.ReplyDelayUs = 50000;
    TSimAdapter a(cfg);
    a.HostWrite("!Morvek_SC_I");
    a.Advance(49999);
    EXPECT_EQ(a.HostAvailable(), 0u);
    a.Advance(1);
    EXPECT_GT(a.HostAvailable(), 0u);
}

// ---- faults ----------------------------------------------------------------

// What one identify brings: `prefix`, then a whole reply.
void ExpectReplyAfter(const TSimConfig& cfg, const Bytes& prefix) {
    TSimAdapter a(cfg);
    Bytes got = Exchange(a, "!Morvek_SC_I");
    EXPECT_EQ(got.substr(0, prefix.size()), prefix);
    ReplyLines(got.substr(prefix.size()));
}

TEST(SimAdapter, GarbageOrAnEchoComesBeforeTheReply) {
    TSimConfig garbage;
    garbage.Garbage = B({0x00, 0xFF, '>', '\r'});
    ExpectReplyAfter(garbage, garbage.Garbage);
    TSimConfig echo;
    echo.Echo = true;
    ExpectReplyAfter(echo, "!Morvek_SC_I");
}

TEST(SimAdapter, MissingEndMarkerNeverCompletesAReply) {
    TSimConfig cfg;
    cfg.MissingEndMarker = true;
    TSimAdapter a(cfg);
    Bytes reply = Exchange(a, "!Morvek_SC_I");
    EXPECT_EQ(reply.substr(0, 5), "\r\nCR:");
    EXPECT_EQ(reply.find("\r\n\r\n"), Bytes::npos);
    EXPECT_EQ(reply.substr(reply.size() - 2), "\r\n");
}

TEST(SimAdapter, SilentAdapterHearsButNeverAnswers) {
    TSimConfig cfg;
    cfg.Silent = true;
    TSimAdapter a(cfg);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(Exchange(a, "!Morvek_SC_I", 250), "");
    }
    EXPECT_EQ(a.CommandLog(), "IIII");
}

TEST(SimAdapter, OnlyTheConfiguredIdentifyOnwardsIsAnswered) {
    TSimConfig cfg;
    cfg.IdentifyAnswerFrom = 3;
    TSimAdapter a(cfg);
    EXPECT_EQ(Exchange(a, "!Morvek_SC_I"), "");
    EXPECT_EQ(Exchange(a, "!Morvek_SC_I"), "");
    ReplyLines(Exchange(a, "!Morvek_SC_I"));
    ReplyLines(Exchange(a, "!Morvek_SC_I"));
    EXPECT_EQ(a.IdentifyCount(), 4);

    cfg.IdentifyAnswerOnce = true;
    TSimAdapter once(cfg);
    EXPECT_EQ(Exchange(once, "!Morvek_SC_I"), "");
    EXPECT_EQ(Exchange(once, "!Morvek_SC_I"), "");
    ReplyLines(Exchange(once, "!Morvek_SC_I"));
    EXPECT_EQ(Exchange(once, "!Morvek_SC_I"), "");
}

TEST(SimAdapter, DisconnectAfterBytesCutsTheOutput) {
    TSimConfig cfg;
    cfg.DisconnectAfterBytes = 10;
    TSimAdapter a(cfg);
    Bytes got = Exchange(a, "!Morvek_SC_I");
    EXPECT_EQ(got.size(), 10u);
    EXPECT_FALSE(a.Connected());
    EXPECT_EQ(Exchange(a, "!Morvek_SC_I"), "");
    EXPECT_EQ(a.IdentifyCount(), 1); // a disconnected adapter hears nothing

    a.Reconnect();
    cfg.DisconnectAfterBytes = 0;
    a.SetConfig(cfg);
    ReplyLines(Exchange(a, "!Morvek_SC_I"));
}

TEST(SimAdapter, DisconnectAtATime) {
    TSimConfig cfg;
    cfg.DisconnectAtUs = 50000;
    cfg.BytesPerSecond = 1000;
    TSimAdapter a(cfg);
    a.HostWrite("!Morvek_SC_I");
    a.Advance(49000);
    EXPECT_TRUE(a.Connected());
    a.Advance(1000);
    EXPECT_FALSE(a.Connected());
    size_t got = a.HostAvailable();
    EXPECT_EQ(got, 50u); // what reached the host before stays readable
    a.Advance(100000);
    EXPECT_EQ(a.HostAvailable(), got);
}

TEST(SimAdapter, DriverImageIsFramedWithAnyByteValues) {
    TSimConfig cfg;
    cfg.DriverImage = B({0x00, 0xFF, 0x00, '[', 0x0D, 0x0A, 0xFF});
    TSimAdapter a(cfg);
    EXPECT_EQ(Exchange(a, "!Morvek_SC_D"), "[BEGIN]" + cfg.DriverImage + "[END]\r\n");

    cfg.MissingEndMarker = true;
    TSimAdapter b(cfg);
    EXPECT_EQ(Exchange(b, "!Morvek_SC_D"), "[BEGIN]" + cfg.DriverImage + "\r\n");
}

TEST(SimAdapter, ResetAnswersNothingAndDropsAPendingArgument) {
    TSimAdapter a;
    Exchange(a, "!Morvek_SC_M");
    EXPECT_EQ(Exchange(a, "!Morvek_SC_R"), "");
    EXPECT_EQ(Exchange(a, "002"), ""); // no longer an argument
    EXPECT_EQ(a.RunningMode(), "001");
}

TEST(SimAdapter, ConcurrentHostAndClockLoseNothing) {
    TSimConfig cfg;
    cfg.BytesPerSecond = 100000;
    cfg.ChunkSize = 64;
    TSimAdapter a(cfg);
    const int kCommands = 40;
    Bytes read;
    bool done = false;
    std::mutex m;
    std::thread host([&] {
        for (int i = 0; i < kCommands; ++i) {
            a.HostWrite("!Morvek_SC_I");
            a.Advance(20000);
        }
        a.Advance(1000000);
        std::lock_guard<std::mutex> g(m);
        done = true;
    });
    for (;;) {
        read += a.HostRead(100);
        std::lock_guard<std::mutex> g(m);
        if (done && a.HostAvailable() == 0) {
            break;
        }
    }
    host.join();
    TSimAdapter single(cfg);
    Bytes one = Exchange(single, "!Morvek_SC_I", 500);
    EXPECT_EQ(read.size(), one.size() * kCommands);
    EXPECT_EQ(Count(read, "\r\nCR:"), kCommands);
}

TEST(SimAdapter, EndlessReplyStreamsLinesAtTheLineRateWithoutItsEnd) {
    TSimConfig cfg;
    cfg.BytesPerSecond = 200000;
    cfg.EndlessReply = true;
    TSimAdapter a(cfg);
    a.HostWrite("!Morvek_SC_I");
    const Bytes first = Collect(a, 1000);
    EXPECT_EQ(first.rfind("\r\nCR:" + cfg.Copyright + "\r\n", 0), 0u);
    EXPECT_EQ(first.find("SN:"), Bytes::npos);
    EXPECT_EQ(first.find("\r\n\r\n"), Bytes::npos);
    EXPECT_GE(first.size(), 199000u);
    EXPECT_LE(first.size(), 200000u);
    const Bytes later = Collect(a, 1000); // still coming, at the same rate
    EXPECT_GE(later.size(), 199000u);
    EXPECT_LE(later.size(), 200000u);
    EXPECT_EQ(later.find("\r\n\r\n"), Bytes::npos);
    // Only about a millisecond's worth waits on the line; a restart ends the stream.
    EXPECT_LT(Exchange(a, "!Morvek_SC_R", 10).size(), 1000u);
    EXPECT_EQ(Collect(a, 100), "");
}

TEST(SimAdapter, TricklingDriverImageWithoutItsEnd) {
    TSimConfig cfg;
    std::string error;
    ASSERT_TRUE(ParseSimConfig("line.rate=11;fault.noend=1;driver.image=MZ\\x90\\x00 short image",
                               cfg, error))
        << error;
    TSimAdapter a(cfg);
    a.HostWrite("!Morvek_SC_D");
    const std::vector<Bytes> pieces = CollectPieces(a, 1000);
    EXPECT_EQ(pieces.size(), 11u); // one byte about every 91 ms
    Bytes all;
    for (const Bytes& p : pieces) {
        EXPECT_EQ(p.size(), 1u);
        all += p;
    }
    EXPECT_EQ(all, Bytes("[BEGIN]") + cfg.DriverImage.substr(0, 4));
    const Bytes rest = Collect(a, 10000);
    EXPECT_EQ(all + rest, "[BEGIN]" + cfg.DriverImage + "\r\n");
}

// ---- boot loader -----------------------------------------------------------

TEST(SimAdapter, UpdateCommandEntersTheBootLoaderWhichPrompts) {
    TSimConfig cfg;
    cfg.PromptDelayUs = 30000;
    cfg.PromptRepeatUs = 100000;
    TSimAdapter a(cfg);
    Bytes reply = Exchange(a, "!Morvek_SC_U", 20);
    ReplyLines(reply);
    EXPECT_EQ(a.State(), TSimState::BootPrompt);
    EXPECT_EQ(Collect(a, 10), ">");
    EXPECT_EQ(Collect(a, 100), ">"); // repeated until the host connects
    EXPECT_EQ(Exchange(a, "<", 300), B({'+', 0}));
    EXPECT_EQ(a.State(), TSimState::BootHeader);
}

TEST_F(SimBootLoader, TwoPageUploadStoresThePagesInOrder) {
    Start();
    Bytes answer = Exchange(*A, HeaderFrame(Img.substr(0, 80)));
    EXPECT_EQ(answer, HeaderAnswer() + B({'.', 0, 0}));
    EXPECT_EQ(A->ReceivedHeader(), Img.substr(0, 80));

    EXPECT_EQ(Exchange(*A, PageFrameOf(0, Page(0))), B({'+', 2, 0, 0, '.', 1, 0}));
    EXPECT_EQ(Exchange(*A, PageFrameOf(1, Page(1))), B({'+', 2, 1, 0, '.', 2, 0}));
    EXPECT_EQ(Exchange(*A, B({'@', 0xFF, 0xFF})), B({'+', 2, 0xFF, 0xFF}));

    std::map<uint16_t, Bytes> pages = A->Pages();
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0], Page(0));
    EXPECT_EQ(pages[1], Page(1));
    EXPECT_EQ(A->CompletedUploads(), 1);
    EXPECT_EQ(A->State(), TSimState::Firmware);
    ReplyLines(Exchange(*A, "!Morvek_SC_I")); // the firmware runs again
}

TEST_F(SimBootLoader, BadChecksumOrWrongPageIsRefusedAndAskedAgain) {
    Start();
    Exchange(*A, HeaderFrame(Img.substr(0, 80)));
    Bytes bad = PageFrameOf(0, Page(0));
    bad[3] ^= 1;
    EXPECT_EQ(Exchange(*A, bad), B({'-', '.', 0, 0}));
    EXPECT_EQ(Exchange(*A, PageFrameOf(1, Page(1))), B({'-', '.', 0, 0}));
    EXPECT_EQ(Exchange(*A, PageFrameOf(0, Page(0))), B({'+', 2, 0, 0, '.', 1, 0}));
    EXPECT_EQ(A->NaksSent(), 2);
}

TEST_F(SimBootLoader, HeaderWithABadChecksumIsRefused) {
    Start();
    Bytes frame = HeaderFrame(Img.substr(0, 80));
    frame[1] ^= 0x10;
    EXPECT_EQ(Exchange(*A, frame), "-");
    EXPECT_EQ(A->State(), TSimState::BootHeader);
}

TEST_F(SimBootLoader, NakForPageKTheConfiguredNumberOfTimes) {
    Cfg.NakPage = 1;
    Cfg.NakCount = 2;
    Start();
    Exchange(*A, HeaderFrame(Img.substr(0, 80)));
    Exchange(*A, PageFrameOf(0, Page(0)));
    EXPECT_EQ(Exchange(*A, PageFrameOf(1, Page(1))), B({'-', '.', 1, 0}));
    EXPECT_EQ(Exchange(*A, PageFrameOf(1, Page(1))), B({'-', '.', 1, 0}));
    EXPECT_EQ(Exchange(*A, PageFrameOf(1, Page(1))), B({'+', 2, 1, 0, '.', 2, 0}));
    EXPECT_EQ(A->Pages().at(1), Page(1));
}

TEST_F(SimBootLoader, NakForeverNeverAcceptsThePage) {
    Cfg.NakPage = 0;
    Cfg.NakCount = -1;
    Start();
    Exchange(*A, HeaderFrame(Img.substr(0, 80)));
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(Exchange(*A, PageFrameOf(0, Page(0))), B({'-', '.', 0, 0}));
    }
    EXPECT_TRUE(A->Pages().empty());
}

TEST_F(SimBootLoader, NakOfTheEndMarkerReturnsToThePrompt) {
    Cfg.NakEndMarker = true;
    Start();
    Exchange(*A, HeaderFrame(Img.substr(0, 80)));
    Exchange(*A, PageFrameOf(0, Page(0)));
    EXPECT_EQ(Exchange(*A, B({'@', 0xFF, 0xFF}), 1), "-");
    EXPECT_EQ(A->CompletedUploads(), 0);
    EXPECT_EQ(A->State(), TSimState::BootPrompt);
}

TEST_F(SimBootLoader, SilenceAfterHeaderThenTheFallbackHeaderIsAnswered) {
    Cfg.SilentAfterHeader = true;
    Start();
    EXPECT_EQ(Exchange(*A, HeaderFrame(Img.substr(0, 80)), 1000), "");
    Bytes fallback = Image(184);
    EXPECT_EQ(Exchange(*A, fallback.substr(0, 100), 50), ""); // may come in pieces
    EXPECT_EQ(Exchange(*A, fallback.substr(100)), HeaderAnswer() + B({'.', 0, 0}));
    EXPECT_EQ(A->ReceivedFallbackHeader(), fallback);
}

TEST_F(SimBootLoader, ShortFallbackHeaderIsAnsweredAfterSilence) {
    Cfg.SilentAfterHeader = true;
    Cfg.FallbackIdleUs = 100000;
    Start();
    Exchange(*A, HeaderFrame(Img.substr(0, 80)), 10);
    A->HostWrite(Img.substr(80, 37));
    EXPECT_EQ(Collect(*A, 99), "");
    EXPECT_EQ(Collect(*A, 1), HeaderAnswer() + B({'.', 0, 0}));
    EXPECT_EQ(A->ReceivedFallbackHeader(), Img.substr(80, 37));
}

TEST_F(SimBootLoader, IncompletePageFrameIsDroppedAfterSilence) {
    Cfg.FrameIdleUs = 200000;
    Start();
    Exchange(*A, HeaderFrame(Img.substr(0, 80)));
    A->HostWrite(PageFrameOf(0, Page(0)).substr(0, 9));
    EXPECT_EQ(Collect(*A, 199), "");
    EXPECT_EQ(Collect(*A, 1), B({'-', '.', 0, 0}));
    EXPECT_EQ(Exchange(*A, PageFrameOf(0, Page(0))), B({'+', 2, 0, 0, '.', 1, 0}));
}

TEST_F(SimBootLoader, SilentAfterAPageSendsNothingMore) {
    Cfg.SilentAfterPage = 0;
    Start();
    EXPECT_EQ(Exchange(*A, HeaderFrame(Img.substr(0, 80))), HeaderAnswer() + B({'.', 0, 0}));
    EXPECT_EQ(Exchange(*A, PageFrameOf(0, Page(0))), B({'+', 2, 0, 0}));
    EXPECT_EQ(Exchange(*A, PageFrameOf(1, Page(1)), 2000), "");
    EXPECT_EQ(Exchange(*A, "<", 2000), "");
    EXPECT_EQ(Exchange(*A, B({'@', 0xFF, 0xFF}), 2000), "");
    EXPECT_TRUE(A->Connected());
}

TEST_F(SimBootLoader, VanishesOnceAPageIsAcknowledged) {
    Cfg.VanishAfterPage = 1;
    Start();
    Exchange(*A, HeaderFrame(Img.substr(0, 80)));
    EXPECT_EQ(Exchange(*A, PageFrameOf(0, Page(0))), B({'+', 2, 0, 0, '.', 1, 0}));
    EXPECT_TRUE(A->Connected());
    EXPECT_EQ(Exchange(*A, PageFrameOf(1, Page(1))), B({'+', 2, 1, 0}));
    EXPECT_FALSE(A->Connected());
    EXPECT_EQ(A->Pages().size(), 2u);
}

TEST(SimAdapter, ChecksumAndNumbersOnTheWire) {
    EXPECT_EQ(SimChecksum16("abc"), 0x0126);
    EXPECT_EQ(SimChecksum16(Bytes(300, '\xFF')), (300 * 255) & 0xFFFF);
    EXPECT_EQ(SimLe16(0x0126), B({0x26, 0x01}));
}

// ---- configuration text ----------------------------------------------------

TEST(SimConfigText, RoundTripKeepsEveryField) {
    TSimConfig c;
    c.Copyright = "Semi;colon \\ back\tslash";
    c.UsbLine = "USB-1";
    c.ExtraLines = {"PA:1", "UA:2"};
    c.Modes = {{"5", '*', "X", false}, {"A1", '-', "", false}, {"ZZ9", '_', "Secret", true}};
    c.RunningMode = "A1";
    c.DriverImage = B({0, 0xFF, ';', '\n', '\\', 'x'});
    c.Garbage = B({0x00, 0x80, '\r'});
    c.LongTags = true;
    c.PowerOn = true;
    c.TestErrors = 3;
    c.NakPage = 7;
    c.NakCount = -1;
    c.BytesPerSecond = 11520;
    c.DisconnectAtUs = 123456789;
    c.IdentifyAnswerFrom = 3;
    std::string text = FormatSimConfig(c);
    TSimConfig back;
    std::string error;
    ASSERT_TRUE(ParseSimConfig(text, back, error)) << error;
    EXPECT_TRUE(back == c);
    EXPECT_EQ(error, "");

    std::string oneLine = text;
    std::replace(oneLine.begin(), oneLine.end(), '\n', ';');
    TSimConfig backOneLine;
    ASSERT_TRUE(ParseSimConfig(oneLine, backOneLine, error)) << error;
    EXPECT_TRUE(backOneLine == c);

    TSimConfig noModes;
    noModes.Modes.clear();
    TSimConfig backNoModes;
    ASSERT_TRUE(ParseSimConfig(FormatSimConfig(noModes), backNoModes, error)) << error;
    EXPECT_TRUE(backNoModes.Modes.empty());
}

TEST(SimConfigText, FieldFaultKeys) {
    TSimConfig c;
    std::string error;
    ASSERT_TRUE(ParseSimConfig("fault.write.stall=1;fault.write.delay=150000;fault.endless=yes;"
                               "fault.boot.silent.page=2;fault.vanish.page=65534",
                               c, error))
        << error;
    EXPECT_TRUE(c.WriteStall);
    EXPECT_EQ(c.WriteDelayUs, 150000u);
    EXPECT_TRUE(c.EndlessReply);
    EXPECT_EQ(c.SilentAfterPage, 2);
    EXPECT_EQ(c.VanishAfterPage, 65534);
    TSimConfig back;
    ASSERT_TRUE(ParseSimConfig(FormatSimConfig(c), back, error)) << error;
    EXPECT_TRUE(back == c);
    back.VanishAfterPage = -1;
    EXPECT_FALSE(back == c);
    EXPECT_FALSE(ParseSimConfig("fault.vanish.page=-2", back, error));
    EXPECT_FALSE(ParseSimConfig("fault.write.delay=-1", back, error));
}

TEST(SimConfigText, OneLineFormWithCommentsAndCrlf) {
    TSimConfig c;
    std::string error;
    ASSERT_TRUE(ParseSimConfig("# demo\r\nline.rate=1000;fault.echo=yes\r\n\r\n"
                               " mode = 12 + Twelve;driver.image.pattern=300;"
                               "identity.serial=A\\x3BB",
                               c, error))
        << error;
    EXPECT_EQ(c.BytesPerSecond, 1000u);
    EXPECT_TRUE(c.Echo);
    ASSERT_EQ(c.Modes.size(), 1u); // the first mode replaces the defaults
    EXPECT_EQ(c.Modes[0].Line(), "12 + Twelve");
    ASSERT_EQ(c.DriverImage.size(), 300u);
    EXPECT_EQ(static_cast<unsigned char>(c.DriverImage[255]), 255u);
    EXPECT_EQ(c.DriverImage[256], '\0');
    EXPECT_EQ(c.SerialNumber, "A;B");
}

TEST(SimConfigText, LoadsFromTextOrANamedFile) {
    std::string path = ::testing::TempDir() + "sim_config_test.txt";
    TSimConfig c;
    c.SerialNumber = "FILE0001";
    c.Modes.clear();
    {
        std::ofstream out(path, std::ios::binary);
        out << FormatSimConfig(c);
    }
    TSimConfig fromFile;
    std::string error;
    ASSERT_TRUE(LoadSimConfig("@" + path, fromFile, error)) << error;
    EXPECT_TRUE(fromFile == c);
    std::remove(path.c_str());

    TSimConfig fromText;
    ASSERT_TRUE(LoadSimConfig("identity.serial=TEXT0001", fromText, error)) << error;
    EXPECT_EQ(fromText.SerialNumber, "TEXT0001");
    EXPECT_FALSE(LoadSimConfig("@" + path, fromText, error));
    EXPECT_EQ(error, "cannot read the file '" + path + "'");
}

TEST(SimConfigText, SeveralAdaptersAreSeparatedByDashLines) {
    std::vector<TSimConfig> configs;
    std::string error;
    ASSERT_TRUE(LoadSimConfigs("identity.serial=ONE00001\nline.rate=11520\n---\n"
                               "# the second one\nidentity.serial=TWO00002\r\n --- ;"
                               "identity.serial=THREE003;fault.silent=1",
                               configs, error))
        << error;
    ASSERT_EQ(configs.size(), 3u);
    EXPECT_EQ(configs[0].SerialNumber, "ONE00001");
    EXPECT_EQ(configs[0].BytesPerSecond, 11520u);
    // Each adapter starts from the defaults, not from the one before it.
    EXPECT_EQ(configs[1].SerialNumber, "TWO00002");
    EXPECT_EQ(configs[1].BytesPerSecond, 0u);
    EXPECT_EQ(configs[2].SerialNumber, "THREE003");
    EXPECT_TRUE(configs[2].Silent);
    EXPECT_FALSE(configs[1].Silent);

    // One adapter without a dash line, read from a file as LoadSimConfig does.
    const std::string path = ::testing::TempDir() + "sim_configs_test.txt";
    {
        std::ofstream out(path, std::ios::binary);
        out << "identity.serial=FILE0001\n";
    }
    ASSERT_TRUE(LoadSimConfigs("@" + path, configs, error)) << error;
    ASSERT_EQ(configs.size(), 1u);
    EXPECT_EQ(configs[0].SerialNumber, "FILE0001");
    std::remove(path.c_str());

    // A bad line names its adapter and its line there; nothing changes.
    EXPECT_FALSE(
        LoadSimConfigs("identity.serial=A\n---\nidentity.serial=B\nbogus=1\n", configs, error));
    EXPECT_EQ(error, "adapter 2, line 2: unknown key 'bogus'");
    ASSERT_EQ(configs.size(), 1u);
    EXPECT_EQ(configs[0].SerialNumber, "FILE0001");
    EXPECT_FALSE(LoadSimConfigs("@" + path, configs, error));
    EXPECT_EQ(error, "cannot read the file '" + path + "'");
}

TEST(SimConfigText, BadLinesAreRejectedWithTheirLineAndLeaveTheConfig) {
    struct Case {
        const char* Text;
        const char* Error;
    } cases[] = {
        {"line.rate=100\nline.rate=fast", "line 2: 'line.rate' needs a whole number of 0 or more, "
                                          "got 'fast'"},
        {"nosuch.key=1", "line 1: unknown key 'nosuch.key'"},
        {"fault.echo", "line 1: no '=' in 'fault.echo'"},
        {"mode=ABCD - X", "line 1: 'mode' needs a mode line like '05 - CAN', got 'ABCD - X'"},
        {"fault.echo=maybe", "line 1: 'fault.echo' needs 0 or 1, got 'maybe'"},
        {"fault.garbage=\\q", "line 1: 'fault.garbage' unknown escape '\\q'"},
        {"driver.image.hex=ABC", "line 1: 'driver.image.hex' an odd number of hex digits"},
        {"boot.pagesize=0", "line 1: 'boot.pagesize' needs a whole number from 1 to 65535, "
                            "got '0'"},
        {"line.chunk=-4", "line 1: 'line.chunk' needs a whole number of 0 or more, got '-4'"},
    };
    for (const Case& c : cases) {
        TSimConfig cfg;
        std::string error;
        EXPECT_FALSE(ParseSimConfig(c.Text, cfg, error)) << c.Text;
        EXPECT_EQ(error, c.Error);
        EXPECT_TRUE(cfg == TSimConfig()) << c.Text;
    }
}

// ---- the link --------------------------------------------------------------

TEST(SimLink, WritesReachTheAdapterAndStayInFlightUntilTimePasses) {
    TSimAdapter a;
    TSimLink link(a);
    EXPECT_FALSE(link.Write("!Morvek_SC_I")); // closed
    EXPECT_TRUE(link.Write(""));
    link.SetPortName("COM3");
    ASSERT_TRUE(link.Open());
    EXPECT_EQ(link.PortName(), "COM3");
    EXPECT_TRUE(link.Write("!Morvek_SC_I"));
    EXPECT_EQ(link.OutputCount(), 12);
    EXPECT_EQ(link.InputCount(), 0);
    link.Advance(10000);
    EXPECT_EQ(link.OutputCount(), 0);
    int32_t n = link.InputCount();
    EXPECT_GT(n, 0);
    Bytes text = "old";
    EXPECT_TRUE(link.ReadAvailable(text));
    EXPECT_EQ(static_cast<int32_t>(text.size()), n);
    ReplyLines(text);
    Bytes unchanged = "keep";
    link.ReadAvailable(unchanged);
    EXPECT_EQ(unchanged, "keep");
    EXPECT_EQ(link.Writes(), (std::vector<Bytes>{"!Morvek_SC_I"}));
    EXPECT_TRUE(link.Close());
    EXPECT_EQ(link.InputCount(), 0);
    EXPECT_EQ(link.OpenCount(), 1);
    EXPECT_EQ(link.CloseCount(), 1);
}

TEST(SimLink, AStalledWriteStaysInFlightAndNeverReachesTheAdapter) {
    TSimConfig cfg;
    cfg.WriteStall = true;
    TSimAdapter a(cfg);
    TSimLink link(a);
    ASSERT_TRUE(link.Open());
    EXPECT_TRUE(link.Write("!Morvek_SC_I"));
    link.Advance(60000000);
    EXPECT_EQ(link.OutputCount(), 12);
    EXPECT_EQ(link.InputCount(), 0);
    EXPECT_EQ(a.CommandLog(), "");
    const uint64_t before = a.Now();
    EXPECT_TRUE(link.Close()); // waits its bound, then drops the write
    EXPECT_EQ(a.Now(), before + TSimLink::kCloseDrainUs);
    ASSERT_TRUE(link.Open());
    EXPECT_EQ(link.OutputCount(), 0);
    EXPECT_EQ(a.CommandLog(), "");
}

TEST(SimLink, ADelayedWriteReachesTheAdapterThatLongAfter) {
    TSimConfig cfg;
    cfg.WriteDelayUs = 150000;
    TSimAdapter a(cfg);
    TSimLink link(a);
    ASSERT_TRUE(link.Open());
    EXPECT_TRUE(link.Write("!Morvek_SC_I"));
    link.Advance(149999);
    EXPECT_EQ(link.OutputCount(), 12);
    EXPECT_EQ(a.CommandLog(), "");
    link.Advance(1);
    EXPECT_EQ(link.OutputCount(), 0);
    EXPECT_EQ(a.CommandLog(), "I");
    link.Advance(10000);
    EXPECT_GT(link.InputCount(), 0);
}

TEST(SimLink, CloseLetsAWriteLeaveWithinTheHandOverBound) {
    TSimConfig cfg;
    cfg.WriteDelayUs = 150000;
    TSimAdapter a(cfg);
    TSimLink link(a);
    ASSERT_TRUE(link.Open());
    EXPECT_TRUE(link.Write("!Morvek_SC_R"));
    EXPECT_TRUE(link.Close());
    EXPECT_EQ(a.CommandLog(), "R");
    EXPECT_EQ(a.Now(), 150000u);
}

TEST(SimLink, LostOnceTheAdapterDisconnects) {
    TSimAdapter a;
    TSimLink link(a);
    EXPECT_FALSE(link.Lost());
    ASSERT_TRUE(link.Open());
    EXPECT_FALSE(link.Lost());
    a.Disconnect();
    EXPECT_TRUE(link.Lost());
    link.Close();
    EXPECT_FALSE(link.Lost());
}

TEST(SimLink, ReceiveBufferHoldsAtMost16384UntilReadEmpty) {
    TSimConfig cfg;
    cfg.DriverImage = Bytes(20000, 'z');
    TSimAdapter a(cfg);
    TSimLink link(a);
    link.Open();
    link.Write("!Morvek_SC_D");
    link.Advance(1000);
    EXPECT_EQ(link.InputCount(), 16384);
    link.Advance(1000);
    EXPECT_EQ(link.InputCount(), 16384);
    Bytes first;
    link.ReadAvailable(first);
    EXPECT_EQ(first.size(), 16384u);
    EXPECT_EQ(link.InputCount(), 0); // releases the buffer
    Bytes rest;
    link.ReadAvailable(rest);
    EXPECT_EQ(first + rest, "[BEGIN]" + cfg.DriverImage + "[END]\r\n");
}

TEST(SimLink, ReadWaitCollectsAPacedImageOnTheSimulatedClock) {
    TSimConfig cfg;
    cfg.DriverImage.clear();
    for (int i = 0; i < 40000; ++i) {
        cfg.DriverImage += static_cast<char>(i % 251);
    }
    cfg.BytesPerSecond = 200000;
    cfg.ChunkSize = 64;
    TSimAdapter a(cfg);
    TSimLink link(a);
    link.Open();
    link.Write("!Morvek_SC_D");
    Bytes reply;
    ASSERT_TRUE(link.ReadWait(reply, 100));
    EXPECT_EQ(reply, "[BEGIN]" + cfg.DriverImage + "[END]\r\n");
    uint64_t sent = 40014 * 1000000ull / 200000;
    EXPECT_GE(a.Now(), sent + 100000);
    EXPECT_LE(a.Now(), sent + 102000);

    Bytes nothing = "same";
    EXPECT_FALSE(link.ReadWait(nothing, 100));
    EXPECT_EQ(nothing, "same");
}

TEST(SimLink, ReadWaitStopsAt65536Bytes) {
    TSimConfig cfg;
    cfg.DriverImage = Bytes(70000, '\0');
    TSimAdapter a(cfg);
    TSimLink link(a);
    link.Open();
    link.Write("!Morvek_SC_D");
    Bytes reply;
    ASSERT_TRUE(link.ReadWait(reply, 100));
    EXPECT_EQ(reply.size(), 65536u);
}

TEST(SimLink, OnlyTheAdapterPortReachesTheAdapter) {
    TSimAdapter a;
    TSimLink link(a);
    link.SetAdapterPort("USB:QV2A0017");
    link.SetPortName("COM1");
    ASSERT_TRUE(link.Open());
    link.Write("!Morvek_SC_I");
    link.Advance(100000);
    EXPECT_EQ(link.InputCount(), 0);
    EXPECT_EQ(a.CommandLog(), "");

    link.SetPortName("USB:QV2A0017");
    ASSERT_TRUE(link.Open()); // closes COM1 first
    EXPECT_EQ(link.CloseCount(), 1);
    link.Write("!Morvek_SC_I");
    link.Advance(100000);
    EXPECT_GT(link.InputCount(), 0);
}

TEST(SimLink, DisconnectedAdapterFailsOpenAndStopsInput) {
    TSimConfig cfg;
    cfg.BytesPerSecond = 1000;
    TSimAdapter a(cfg);
    TSimLink link(a);
    ASSERT_TRUE(link.Open());
    link.Write("!Morvek_SC_I");
    link.Advance(20000);
    a.Disconnect();
    link.Advance(500000);
    EXPECT_EQ(link.InputCount(), 20);
    link.Close();
    EXPECT_FALSE(link.Open());
    EXPECT_FALSE(link.IsOpen());
    a.Reconnect();
    EXPECT_TRUE(link.Open());
}

TEST(SimLink, OpenDropsWhatArrivedWhileClosed) {
    TSimConfig cfg;
    cfg.StartInBootLoader = true;
    cfg.PromptDelayUs = 0;
    TSimAdapter a(cfg);
    TSimLink link(a);
    link.Advance(1000); // the prompt goes out to a closed port
    ASSERT_TRUE(link.Open());
    link.Advance(1000);
    EXPECT_EQ(link.InputCount(), 0);
    link.Write("<");
    link.Advance(1000);
    Bytes in;
    link.ReadAvailable(in);
    EXPECT_EQ(in, B({'+', 0}));
}

TEST(SimLink, LineSettingsAndPortLists) {
    TSimAdapter a;
    TSimLink link(a);
    TPortLists configured;
    configured.Entries = {{"COM1", "Communications Port", "ACPI\\PNP0501\\1"},
                          {"USB:QV2A0017", "Quorvelix", ""}};
    link.SetPortLists(configured);
    TPortLists lists;
    lists.Entries = {{"COM9", "x", ""}};
    link.GetPortLists(lists);
    EXPECT_EQ(lists.Count(), 3u);
    EXPECT_EQ(lists.Entries[2].Name, "USB:QV2A0017");
    EXPECT_EQ(lists.Entries[1].DeviceId, "ACPI\\PNP0501\\1");
    link.ReadLineState();
    EXPECT_EQ(link.SetByteSize(7), 7);
    EXPECT_EQ(link.SetByteSize(8), 8);
    EXPECT_EQ(link.ByteSizesSet(), (std::vector<uint8_t>{7, 8}));
    EXPECT_EQ(link.LineStateReadCount(), 1);
    link.RequestUsbRescan();
    EXPECT_EQ(link.RescanCount(), 1);
}

TEST(SimLink, UploadThroughTheLinkWithTheFallbackHeader) {
    TSimConfig cfg;
    cfg.SilentAfterHeader = true;
    cfg.PageSize = 64;
    TSimAdapter a(cfg);
    TSimLink link(a);
    link.Open();
    Bytes img = Image(264 + 64);
    auto exchange = [&](const Bytes& out, uint64_t us = 300000) {
        link.Write(out);
        link.Advance(us);
        Bytes in;
        link.ReadAvailable(in);
        return in;
    };
    Bytes entered = exchange("!Morvek_SC_U", 100000);
    ASSERT_FALSE(entered.empty());
    EXPECT_EQ(entered.back(), '>');
    ReplyLines(entered.substr(0, entered.size() - 1));
    EXPECT_EQ(exchange("<"), B({'+', 0}));
    EXPECT_EQ(exchange(HeaderFrame(img.substr(0, 80))), "");
    Bytes answer = exchange(img.substr(80, 184));
    EXPECT_EQ(answer.substr(0, 4), B({'+', static_cast<int>(10 + cfg.BootId.size()), 64, 0}));
    EXPECT_EQ(answer.substr(answer.size() - 3), B({'.', 0, 0}));
    EXPECT_EQ(exchange(PageFrameOf(0, img.substr(264, 64))), B({'+', 2, 0, 0, '.', 1, 0}));
    EXPECT_EQ(exchange(B({'@', 0xFF, 0xFF})), B({'+', 2, 0xFF, 0xFF}));
    EXPECT_EQ(a.Pages().at(0), img.substr(264, 64));
}

} // namespace
} // namespace qvx
