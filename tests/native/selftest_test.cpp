#include "tests/fakes/reply_link.h"
#include "tests/fakes/session_views.h"
#include "tests/native/window_fixture.h"

namespace qvx {
namespace {

TEST(CountOccurrences, CaseSensitiveNonOverlappingAndEmpty) {
    EXPECT_EQ(CountOccurrences("", "ERROR"), -1);
    EXPECT_EQ(CountOccurrences("no problems", "ERROR"), 0);
    EXPECT_EQ(CountOccurrences("ERRORS and ERROR", "ERROR"), 2);
    EXPECT_EQ(CountOccurrences("Error error", "ERROR"), 0);
    EXPECT_EQ(CountOccurrences("aaaa", "aa"), 2);
}

// The self-test session alone: its log echoed into the fake test log.
class SelfTestEcho : public ::testing::Test, protected TMemoryPlatform {
protected:
    void RunTest(const Bytes& log, size_t chunk) {
        Link.Answer("!Morvek_SC_T", log);
        Link.ChunkSize = chunk;
        ASSERT_TRUE(Session.Start(ssSendSelfTest, View.Inputs()));
        for (int i = 0; i < 2000 && !Session.Idle(); ++i)
            Session.Tick();
    }
    const std::vector<std::string>& Lines() const { return View.TestLog.Lines(); }

    TReplyLink Link;
    TFakeSessionViews View;
    TSettingsStore Settings{Platform};
    TSession Session{Link, Settings, View, View, View};
};

TEST_F(SelfTestEcho, StreamedLogIsEchoedLineByLineAndRated) {
    RunTest(Framed({"Test 1 ERROR", "Test 2 ERROR", "Test 3 WARNING", "done"}), 5);
    EXPECT_EQ(Link.Writes, (std::vector<Bytes>{"!Morvek_SC_T"}));
    EXPECT_EQ(Lines(),
              (std::vector<std::string>{"CR:(c)", "Test 1 ERROR", "Test 2 ERROR", "Test 3 WARNING",
                                        "done", "", "RESULT : Error/Warning"}));
    EXPECT_EQ(View.Counts, "2/1");
    EXPECT_EQ(View.Verdict, TTestVerdict::ErrorWarning);
}

TEST_F(SelfTestEcho, TheVerdictIsTheSessionsOutcome) {
    const std::pair<Bytes, TSessionOutcome> cases[] = {
        {"all fine", soDone},
        {"Test 3 WARNING", soSelftestWarnings},
        {"Test 1 ERROR", soSelftestErrors},
        {"Test 1 ERROR WARNING", soSelftestErrors},
    };
    for (const auto& [line, outcome] : cases) {
        RunTest(Framed({line}), 0);
        EXPECT_EQ(Session.Outcome(), outcome) << line;
        View.TestLog.Clear();
        Link.Replies.clear();
    }
}

TEST_F(SelfTestEcho, ReplyStartingAndEndingInOneTickIsLoggedWhole) {
    RunTest(Framed({"one", "two"}), 0);
    EXPECT_EQ(Lines(),
              (std::vector<std::string>{"CR:(c)", "one", "two", "", "RESULT : OK (No Errors)"}));
}

TEST_F(SelfTestEcho, ProgressLineRewrittenByBareCarriageReturnsStreamedOrInOneTick) {
    for (size_t chunk : {3, 0}) {
        View.TestLog.Clear();
        RunTest("\r\nCR:(c)\r\nchecking\r\n10%\r20%\r30%\r\nend\r\n\r\n", chunk);
        EXPECT_EQ(Lines(), (std::vector<std::string>{"CR:(c)", "checking", "30%", "end", "",
                                                     "RESULT : OK (No Errors)"}))
            << "chunk " << chunk;
        Link.Replies.clear();
    }
}

TEST_F(SelfTestEcho, CarriageReturnAsTheLastByteSoFarWaitsForTheNext) {
    // Each chunk ends in a CR whose meaning comes with the next chunk.
    RunTest("\r\nCR:(c)\r\nline\r\nA\rB\r\n\r\n", 1);
    EXPECT_EQ(Lines(),
              (std::vector<std::string>{"CR:(c)", "line", "B", "", "RESULT : OK (No Errors)"}));
}

TEST_F(SelfTestEcho, BareCrOnTheFirstLineDoesNotOverwrite) {
    RunTest("\r\nCR:a\rb\r\n\r\n", 2);
    EXPECT_EQ(Lines()[0], "CR:ab");
}

TEST_F(SelfTestEcho, ALogWithoutEndIsEchoedUpToTheReplyBoundOnly) {
    const Bytes line = Bytes(1022, 'x') + "\r\n";
    Bytes log = "\r\nCR:Test log\r\n";
    while (log.size() < 2 * TServiceExchange::ReplyMaxBytes)
        log += line;
    RunTest(log, 64 * 1024);
    EXPECT_TRUE(Session.Idle());
    EXPECT_LE(View.TestLogText().size(), TServiceExchange::ReplyMaxBytes);
    EXPECT_EQ(View.Results, 0);
}

TEST_F(SelfTestEcho, SilentAdapterGetsNoVerdict) {
    RunTest("", 0);
    EXPECT_EQ(View.Results, 0);
    EXPECT_EQ(UserIo.Boxes().size(), 1u);
    EXPECT_TRUE(View.TestLog.IsEmpty());
}

// ---- the Test page ----

class SelfTest : public WindowTest {
protected:
    void SetUp() override {
        Link.Answer("!Morvek_SC_I", Framed({"SN:1", "BW:1.0"}));
        Form.btSearch.UserClick();
        RunSession();
        Form.pcOptions.UserSelectPage(Form.tsTest.PageIndex());
        Link.Writes.clear();
    }
    void RunTest(const Bytes& log) {
        Link.Answer("!Morvek_SC_T", log);
        Form.btRunTest.UserClick();
        RunSession();
    }
};

TEST_F(SelfTest, VerdictsShowTheirCountsAndColours) {
    struct Case {
        const char* line;
        const char* counts;
        const char* verdict;
        TColor color;
    };
    for (const Case& c : {Case{"all fine", "0/0", "RESULT : OK (No Errors)", clLime},
                          Case{"ERROR", "1/0", "RESULT : Error", clRed},
                          Case{"ERROR WARNING", "1/1", "RESULT : Error/Warning", clFuchsia},
                          Case{"WARNING WARNING", "0/2", "RESULT : Warning", clYellow}}) {
        RunTest(Framed({c.line}));
        EXPECT_EQ(Form.edTest_Result.Text(), c.counts) << c.line;
        EXPECT_EQ(Form.memLogTest.Lines().back(), c.verdict) << c.line;
        EXPECT_EQ(Form.shpTest_Result.BrushColor(), c.color) << c.line;
        EXPECT_EQ(Form.ActiveControl(), &Form.btRunTest);
        Link.Replies.clear();
    }
}

TEST_F(SelfTest, SilentAdapterLeavesTheResultEmpty) {
    RunTest("");
    EXPECT_EQ(Form.edTest_Result.Text(), "");
    EXPECT_EQ(Form.shpTest_Result.BrushColor(), clScrollBar);
    EXPECT_TRUE(Form.memLogTest.IsEmpty());
    EXPECT_FALSE(Form.btCopyTest.Enabled());
}

TEST_F(SelfTest, CopyTakesTheWholeLog) {
    RunTest(Framed({"x"}));
    EXPECT_TRUE(Form.btCopyTest.Enabled());
    Form.btCopyTest.UserClick();
    EXPECT_EQ(UserIo.Clipboard(), "CR:(c)\r\nx\r\n\r\nRESULT : OK (No Errors)\r\n");
    EXPECT_TRUE(Form.memLogTest.AllSelected());
    Form.memLogTest.Clear();
    EXPECT_FALSE(Form.memLogTest.AllSelected());
    EXPECT_FALSE(Form.btCopyTest.Enabled());
}

} // namespace
} // namespace qvx
