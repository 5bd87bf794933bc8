// The adapter's self-test with its log echoed live into the test log.
#include "session/selftest.h"

#include "session/exchange.h"

#include <algorithm>
#include <cstdio>

namespace qvx {

int CountOccurrences(const std::string& text, const std::string& word) {
    if (text.empty())
        return -1;
    if (word.empty())
        return 0;
    int count = 0;
    for (size_t at = text.find(word); at != std::string::npos;
         at = text.find(word, at + word.size()))
        ++count;
    return count;
}

const char* VerdictText(TTestVerdict verdict) {
    switch (verdict) {
    case TTestVerdict::Ok:
        return "OK (No Errors)";
    case TTestVerdict::Error:
        return "Error";
    case TTestVerdict::ErrorWarning:
        return "Error/Warning";
    case TTestVerdict::Warning:
        break;
    }
    return "Warning";
}

namespace {

// Echoes text[from, limit) into the log, piece by piece: CR LF ends a line, a
// bare CR makes the next piece rewrite the log's last line (lineIndex, 0 =
// none). A CR at limit - 1 waits: the next byte tells whether it ends the
// line or starts an overwrite. Returns the position of the first byte not
// echoed.
size_t EchoPieces(ISelfTestView& log, const Bytes& text, size_t from, size_t limit,
                  int& lineIndex) {
    while (from < limit) {
        const size_t cr = std::min(text.find('\r', from), limit);
        size_t end = cr; // of the piece
        if (cr + 1 < limit && text[cr + 1] == '\n') {
            end = cr + 2;
        } else if (cr == from) {
            if (cr + 1 == limit)
                break;
            // A bare CR: the next piece rewrites the last line.
            lineIndex = std::max(static_cast<int>(log.TestLineCount()) - 1, 0);
            ++from;
            continue;
        }
        const Bytes piece = text.substr(from, end - from);
        if (lineIndex > 0) {
            log.ReplaceTestLine(static_cast<size_t>(lineIndex), piece);
            lineIndex = 0;
        } else {
            log.InsertTestText(piece);
        }
        from = end;
    }
    return from;
}

} // namespace

void TSelfTestEcho::Reset() {
    Pos = 3;
    LineIndex = 0;
    EchoedAny = false;
}

void TSelfTestEcho::Echo(const Bytes& rx) {
    // Only the reply itself is echoed: nothing behind its end marker. An end
    // marker wholly within what was echoed on an earlier tick would have
    // ended the reply then, so the search starts just before the next byte.
    const size_t from = static_cast<size_t>(Pos - 1);
    const size_t end = rx.find("\r\n\r\n", std::max<size_t>(2, from >= 3 ? from - 3 : 0));
    // A reply never grows past the exchange's bound, and neither does its echo.
    const size_t limit =
        std::min(end == Bytes::npos ? rx.size() : end + 4, TServiceExchange::ReplyMaxBytes);
    if (from >= limit)
        return;
    const size_t next = EchoPieces(View, rx, from, limit, LineIndex);
    if (next > from) {
        Pos = static_cast<int>(next) + 1;
        EchoedAny = true;
    }
}

TTestVerdict TSelfTestEcho::Rate(const Bytes& reply) {
    // A reply whose start and end came in the same tick was never echoed: it
    // is echoed now, whole and end marker included, by the same rules.
    if (!EchoedAny) {
        const Bytes whole = reply + "\r\n\r\n";
        EchoPieces(View, whole, 0, whole.size(), LineIndex);
    }
    const std::string text = View.TestLogText();
    const int errors = CountOccurrences(text, "ERROR");
    const int warnings = CountOccurrences(text, "WARNING");
    char counts[32];
    std::snprintf(counts, sizeof counts, "%d/%d", errors, warnings);
    TTestVerdict verdict;
    if (errors == 0 && warnings == 0)
        verdict = TTestVerdict::Ok;
    else if (warnings == 0)
        verdict = TTestVerdict::Error;
    else if (errors != 0)
        verdict = TTestVerdict::ErrorWarning;
    else
        verdict = TTestVerdict::Warning;
    View.ShowTestResult(counts, verdict);
    View.AddTestLine(std::string("RESULT : ") + VerdictText(verdict));
    return verdict;
}

} // namespace qvx
