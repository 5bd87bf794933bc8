// The Test page: the adapter's self-test and its log, echoed live.
#include "app/Unitmain.h"

namespace qvx {

void TfrmMain::btRunTestClick() {
    // A refused request changes nothing.
    if (!Session.LinkFree())
        return;
    FocusAfterSession = &btRunTest;
    memLogTest.Clear();
    shpTest_Result.SetBrushColor(clScrollBar);
    edTest_Result.SetText("");
    Session.Start(ssSendSelfTest, RequestInputs());
}

void TfrmMain::memLogTestChange() {
    btCopyTest.SetEnabled(!memLogTest.IsEmpty());
}

void TfrmMain::btCopyTestClick() {
    if (memLogTest.IsEmpty())
        return;
    CopyToClipboard(memLogTest);
}

size_t TfrmMain::TestLineCount() {
    return memLogTest.LineCount();
}

void TfrmMain::InsertTestText(const std::string& text) {
    memLogTest.InsertText(text);
}

void TfrmMain::ReplaceTestLine(size_t index, const std::string& text) {
    memLogTest.ReplaceLine(index, text);
}

std::string TfrmMain::TestLogText() {
    return memLogTest.Text();
}

void TfrmMain::AddTestLine(const std::string& line) {
    memLogTest.Add(line);
}

void TfrmMain::ShowTestResult(const std::string& counts, TTestVerdict verdict) {
    static const TColor colors[] = {clLime, clRed, clFuchsia, clYellow};
    edTest_Result.SetText(counts);
    shpTest_Result.SetBrushColor(colors[static_cast<int>(verdict)]);
}

} // namespace qvx
