#pragma once
// The adapter's self-test: its log echoed live into the test log as it
// arrives, and the verdict counted from the log.
#include "platform/bytes.h"

#include <cstddef>
#include <string>

namespace qvx {

// Occurrences of word in text, case-sensitive and non-overlapping; -1 when
// text is empty.
int CountOccurrences(const std::string& text, const std::string& word);

enum class TTestVerdict { Ok, Error, ErrorWarning, Warning };
// "OK (No Errors)", "Error", "Error/Warning", "Warning".
const char* VerdictText(TTestVerdict verdict);

// The test log as the echo writes it.
class ISelfTestView {
public:
    virtual ~ISelfTestView() = default;
    virtual size_t TestLineCount() = 0;
    // Text at the end of the log: the first part continues an open last line,
    // every CR LF starts a new line.
    virtual void InsertTestText(const std::string& text) = 0;
    virtual void ReplaceTestLine(size_t index, const std::string& text) = 0;
    virtual std::string TestLogText() = 0;
    virtual void AddTestLine(const std::string& line) = 0;
    // "errors/warnings" and the verdict.
    virtual void ShowTestResult(const std::string& counts, TTestVerdict verdict) = 0;
};

class TSelfTestEcho {
public:
    explicit TSelfTestEcho(ISelfTestView& view) : View(view) {}

    // Before a reply: nothing echoed yet.
    void Reset();
    // Echoes what has arrived of the reply in rx (which begins with its start
    // marker) and not been echoed yet; nothing behind its end marker and
    // nothing past TServiceExchange::ReplyMaxBytes.
    void Echo(const Bytes& rx);
    // The reply is complete (body in reply): one whose start and end came in
    // the same tick is echoed now, whole; then the verdict, which it returns.
    TTestVerdict Rate(const Bytes& reply);

private:
    ISelfTestView& View;
    // 1-based position in the receive text of the next byte to echo.
    int Pos = 3;
    // The log line the next piece replaces (0 = none).
    int LineIndex = 0;
    // Something of the current reply has been echoed.
    bool EchoedAny = false;
};

} // namespace qvx
