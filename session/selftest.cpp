// The adapter's self-test with its log echoed live into the Test page, and the
// external power switch.
#include "app/Unitmain.h"

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

void TfrmMain::btRunTestClick() {
    FocusAfterSession = &btRunTest;
    memLogTest.Clear();
    shpTest_Result.SetBrushColor(clScrollBar);
    edTest_Result.SetText("");
    Exchange.NextStateOnReply = ssSendSelfTest;
    StartSession();
}

namespace {

// Echoes text[from, limit) into memo, piece by piece: CR LF ends a line, a
// bare CR makes the next piece rewrite the memo's last line (lineIndex, 0 =
// none). A CR at limit - 1 waits: the next byte tells whether it ends the
// line or starts an overwrite. Returns the position of the first byte not
// echoed.
size_t EchoPieces(TMemo& memo, const Bytes& text, size_t from, size_t limit, int& lineIndex) {
    while (from < limit) {
        const size_t cr = std::min(text.find('\r', from), limit);
        size_t end = cr; // of the piece
        if (cr + 1 < limit && text[cr + 1] == '\n') {
            end = cr + 2;
        } else if (cr == from) {
            if (cr + 1 == limit)
                break;
            // A bare CR: the next piece rewrites the last line.
            lineIndex = std::max(static_cast<int>(memo.LineCount()) - 1, 0);
            ++from;
            continue;
        }
        const Bytes piece = text.substr(from, end - from);
        if (lineIndex > 0) {
            memo.ReplaceLine(static_cast<size_t>(lineIndex), piece);
            lineIndex = 0;
        } else {
            memo.InsertText(piece);
        }
        from = end;
    }
    return from;
}

} // namespace

void TfrmMain::EchoReply(TMemo& memo) {
    // Only the reply itself is echoed: nothing behind its end marker.
    const Bytes& rx = Exchange.RxText;
    const size_t end = rx.find("\r\n\r\n", 2);
    const size_t limit = end == Bytes::npos ? rx.size() : end + 4;
    const size_t from = static_cast<size_t>(EchoPos - 1);
    const size_t next = EchoPieces(memo, rx, from, limit, EchoLineIndex);
    if (next > from) {
        EchoPos = static_cast<int>(next) + 1;
        EchoedAny = true;
    }
}

void TfrmMain::RateSelfTest() {
    // A reply whose start and end came in the same tick was never echoed: it
    // is echoed now, whole and end marker included, by the same rules.
    if (!EchoedAny) {
        const Bytes whole = Exchange.LastReply + "\r\n\r\n";
        EchoPieces(memLogTest, whole, 0, whole.size(), EchoLineIndex);
    }
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
    if (memLogTest.IsEmpty())
        return;
    memLogTest.SelectAll();
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
