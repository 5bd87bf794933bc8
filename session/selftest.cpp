// The adapter's self-test with its log echoed live into the Test page, and the
// external power switch.
#include "app/Unitmain.h"

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

void TfrmMain::btRunTestClick() {
    FocusAfterSession = &btRunTest;
    memLogTest.Clear();
    shpTest_Result.SetBrushColor(clScrollBar);
    edTest_Result.SetText("");
    Exchange.NextStateOnReply = ssSendSelfTest;
    StartSession();
}

void TfrmMain::EchoReply(TMemo& memo) {
    // Only the reply itself is echoed: nothing behind its end marker.
    const Bytes& rx = Exchange.RxText;
    size_t limit = rx.size();
    const size_t end = rx.find("\r\n\r\n", 2);
    if (end != Bytes::npos)
        limit = end + 4;
    for (;;) {
        const size_t from = static_cast<size_t>(EchoPos - 1);
        if (from >= limit)
            return;
        const Bytes rest = rx.substr(from, limit - from);
        const size_t cr = rest.find('\r');
        Bytes piece;
        if (cr == Bytes::npos) {
            piece = rest;
        } else if (cr + 1 < rest.size() && rest[cr + 1] == '\n') {
            piece = rest.substr(0, cr + 2);
        } else if (cr + 1 == rest.size()) {
            // A CR that is the last byte so far: the next byte tells whether
            // it ends the line or starts an overwrite, so it waits for it.
            piece = rest.substr(0, cr);
            if (piece.empty())
                return;
        } else {
            piece = rest.substr(0, cr);
            if (piece.empty()) {
                // A bare CR: the next piece rewrites the last line.
                EchoLineIndex = static_cast<int>(memo.LineCount()) - 1;
                if (EchoLineIndex < 0)
                    EchoLineIndex = 0;
                ++EchoPos;
                continue;
            }
        }
        if (EchoLineIndex > 0) {
            memo.ReplaceLine(static_cast<size_t>(EchoLineIndex), piece);
            EchoLineIndex = 0;
        } else {
            memo.InsertText(piece);
        }
        EchoPos += static_cast<int>(piece.size());
        EchoedAny = true;
    }
}

void TfrmMain::RateSelfTest() {
    // A reply whose start and end came in the same tick was never echoed: it
    // goes into the log whole, end marker included.
    if (!EchoedAny)
        memLogTest.InsertText(Exchange.LastReply + "\r\n\r\n");
    const std::string text = memLogTest.Text();
    const int errors = CountOccurrences(text, "ERROR");
    const int warnings = CountOccurrences(text, "WARNING");
    char counts[32];
    std::snprintf(counts, sizeof counts, "%d/%d", errors, warnings);
    edTest_Result.SetText(counts);
    const char* verdict;
    TColor color;
    if (errors == 0 && warnings == 0) {
        verdict = "OK (No Errors)";
        color = clLime;
    } else if (warnings == 0) {
        verdict = "Error";
        color = clRed;
    } else if (errors != 0) {
        verdict = "Error/Warning";
        color = clFuchsia;
    } else {
        verdict = "Warning";
        color = clYellow;
    }
    shpTest_Result.SetBrushColor(color);
    memLogTest.Add(std::string("RESULT : ") + verdict);
}

void TfrmMain::memLogTestChange() {
    btCopyTest.SetEnabled(!memLogTest.IsEmpty());
}

void TfrmMain::btCopyTestClick() {
    if (!memLogTest.IsEmpty())
        Platform.UserIo.SetClipboardText(memLogTest.Text());
}

void TfrmMain::cbPowerClick() {
    // Setting the box from a reply happens while it is disabled: no command.
    if (!cbPower.Enabled())
        return;
    FocusAfterSession = &cbPower;
    btPower.SetEnabled(false);
    cbPower.SetEnabled(false);
    Exchange.NextStateOnReply = ssSendPower;
    StartSession();
}

} // namespace qvx
