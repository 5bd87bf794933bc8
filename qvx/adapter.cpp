#include "qvx/adapter.h"

#include "platform/text.h"

#include <algorithm>

namespace qvx {

const char* ModeStateName(int state) {
    switch (state) {
    case 0:
        return "selected";
    case 1:
        return "active";
    case 2:
        return "hidden";
    case 3:
        return "available";
    default:
        return "";
    }
}

TConsoleAdapter::TConsoleAdapter(TPlatform& platform, TSettingsStore& settings, IDeviceLink& link,
                                 IConsole& console, TPortEntry port)
    : Port(std::move(port)), Session(link, settings, *this, *this, *this),
      Updater(platform.UserIo, platform.Files, platform.Timers, *this), Link(link),
      Console(console), Tick("tmrSearch", platform.Timers) {
    Tick.SetInterval(0);
    Tick.OnTimer = [this] { Session.Tick(); };
}

bool TConsoleAdapter::Search() {
    return Run(ssClearIdentity);
}

bool TConsoleAdapter::Run(TSessionState request) {
    TRequestInputs inputs;
    inputs.Port = Port;
    inputs.Mode = WantedMode;
    inputs.Power = WantedPower;
    bool started = false;
    if (request == ssClearIdentity)
        started = Session.Search(inputs);
    else if (request == ssSendReset)
        started = Session.Reset(inputs);
    else
        started = Session.Start(request, inputs);
    if (!started)
        return false;
    Console.RunUntil([this] { return Session.Idle() || Console.Interrupted(); });
    if (!Session.Idle()) {
        // As the Stop button: nothing more goes out, the link is closed.
        Interrupted = true;
        Updater.CancelUpload();
        Session.Cancel();
    }
    return true;
}

void TConsoleAdapter::ClearIdentity() {
    ClearModes();
    Fields.clear();
    PowerShown = PowerOn = false;
    Millivolts = 0;
    TestLog = TTextLines();
    TestLinesPassed = 0;
    TestRated = false;
}

void TConsoleAdapter::ClearModes() {
    Modes.clear();
    RunningMode = -1;
}

void TConsoleAdapter::ShowLog(const std::vector<std::string>& lines) {
    Log = lines;
}

bool TConsoleAdapter::StartUpload() {
    UploadStartMs = Console.NowMs();
    // No Stop button here: the wait for the prompt has the same bound.
    return Updater.StartUpload(Link, FirmwareFile, WaitForPrompt, SilenceLimitMs, SilenceLimitMs);
}

void TConsoleAdapter::ShowField(TIdentityField field, const std::string& text) {
    Fields[field] = text;
}

void TConsoleAdapter::ShowPower(int visible, int, int switchState, int millivolts) {
    if (visible >= 0)
        PowerShown = visible > 0;
    if (switchState >= 0)
        PowerOn = switchState > 0;
    if (millivolts >= 0)
        Millivolts = millivolts;
}

void TConsoleAdapter::SortModes() {
    // The list's default order: by the "#" column.
    std::stable_sort(Modes.begin(), Modes.end(), [](const TModeRow& a, const TModeRow& b) {
        return CompareFoldedAscii(a.Caption, b.Caption) < 0;
    });
}

void TConsoleAdapter::InsertTestText(const std::string& text) {
    TestLog.InsertText(text);
    TestLogChanged();
}

void TConsoleAdapter::ReplaceTestLine(size_t index, const std::string& text) {
    TestLog.ReplaceLine(index, text);
    TestLogChanged();
}

void TConsoleAdapter::AddTestLine(const std::string& line) {
    TestLog.Lines.push_back(line);
    TestLog.Open = false;
    TestLogChanged();
}

void TConsoleAdapter::TestLogChanged() {
    // Every line but the last is final; the last may still be rewritten.
    while (TestLinesPassed + 1 < TestLog.Lines.size()) {
        if (OnTestLine)
            OnTestLine(TestLog.Lines[TestLinesPassed]);
        ++TestLinesPassed;
    }
}

void TConsoleAdapter::ShowTestResult(const std::string& counts, TTestVerdict verdict) {
    for (; TestLinesPassed < TestLog.Lines.size(); ++TestLinesPassed)
        if (OnTestLine)
            OnTestLine(TestLog.Lines[TestLinesPassed]);
    TestCounts = counts;
    Verdict = verdict;
    TestRated = true;
}

void TConsoleAdapter::ShowStatus(const std::string& text) {
    Statuses.push_back(text);
    LastStatusMs = Console.NowMs();
    if (Progress)
        Progress->StatusShown(text);
}

void TConsoleAdapter::SetProgress(int position) {
    if (Progress)
        Progress->ProgressChanged(std::clamp(position, 0, ProgressRange), ProgressRange);
}

} // namespace qvx
