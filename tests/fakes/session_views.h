#pragma once
// The session's views without a window: what the session shows is recorded,
// the test log is a plain memo (its line rules are the ones the echo relies
// on), and the answers the session asks for are fields the test sets.
#include "app/controls/controls.h"
#include "session/session.h"

#include <algorithm>
#include <map>
#include <new>

namespace qvx {

struct TFakeSessionViews : ISessionView, IIdentityView, ISelfTestView {
    // ---- session ----
    TPortEntry Port{"COM3", "Communications Port", ""};
    bool HasPort = true;
    unsigned TickMs = 0; // as last armed; 0 = stopped
    int Locks = 0;
    int Unlocks = 0;
    bool FocusRestored = false;
    int IdentityClears = 0;
    int ModeClears = 0;
    std::vector<std::string> Log;
    std::string Mode;
    bool Power = false;
    int PageEnables = 0;
    bool UploadStarts = true; // StartUpload succeeds, and the upload then runs
    int UploadsStarted = 0;
    bool UploadRuns = false;

    // The inputs of a request started now: Port (when HasPort), Mode, Power.
    TRequestInputs Inputs() const {
        TRequestInputs inputs;
        if (HasPort)
            inputs.Port = Port;
        inputs.Mode = Mode;
        inputs.Power = Power;
        return inputs;
    }
    std::string PortText() override { return Port.Name + " (" + Port.Description + ")"; }
    void ArmTick(unsigned ms) override { TickMs = ms; }
    void Lock() override { ++Locks; }
    void Unlock(bool restoreFocus) override {
        ++Unlocks;
        FocusRestored = restoreFocus;
    }
    // Set by a test: the next ClearIdentity fails for want of memory.
    bool ClearIdentityThrows = false;
    void ClearIdentity() override {
        if (ClearIdentityThrows)
            throw std::bad_alloc();
        ++IdentityClears;
        ClearModes();
        Fields.clear();
    }
    void ClearModes() override {
        ++ModeClears;
        Rows.clear();
    }
    void ShowLog(const std::vector<std::string>& lines) override { Log = lines; }
    void EnablePages() override { ++PageEnables; }
    bool StartUpload() override {
        ++UploadsStarted;
        UploadRuns = UploadStarts;
        return UploadStarts;
    }
    bool Uploading() override { return UploadRuns; }

    // ---- identity ----
    std::map<TIdentityField, std::string> Fields;
    // visible, enable, switch state, millivolts of each ShowPower.
    std::vector<std::vector<int>> PowerShown;
    bool ShowAll = false;
    std::vector<TModeRow> Rows;
    std::vector<size_t> RunningRows;

    void ShowField(TIdentityField field, const std::string& text) override { Fields[field] = text; }
    void ShowPower(int visible, int enable, int switchState, int millivolts) override {
        PowerShown.push_back({visible, enable, switchState, millivolts});
    }
    bool ShowAllModes() override { return ShowAll; }
    size_t ModeCount() override { return Rows.size(); }
    void AddMode(const TModeRow& row) override { Rows.push_back(row); }
    void SortModes() override {
        std::stable_sort(Rows.begin(), Rows.end(), [](const TModeRow& a, const TModeRow& b) {
            return a.Caption < b.Caption;
        });
    }
    const std::string& ModeNumberAt(size_t index) override { return Rows.at(index).Number; }
    int ModeStateAt(size_t index) override { return Rows.at(index).StateIndex; }
    void SetModeStateAt(size_t index, int state) override { Rows.at(index).StateIndex = state; }
    void SelectRunningMode(size_t index) override { RunningRows.push_back(index); }
    void ModesChanged() override {}

    // ---- self-test ----
    TMemo TestLog{"memLogTest", nullptr};
    std::string Counts;
    TTestVerdict Verdict = TTestVerdict::Ok;
    int Results = 0;

    size_t TestLineCount() override { return TestLog.LineCount(); }
    void InsertTestText(const std::string& text) override { TestLog.InsertText(text); }
    void ReplaceTestLine(size_t index, const std::string& text) override {
        TestLog.ReplaceLine(index, text);
    }
    std::string TestLogText() override { return TestLog.Text(); }
    void AddTestLine(const std::string& line) override { TestLog.Add(line); }
    void ShowTestResult(const std::string& counts, TTestVerdict verdict) override {
        Counts = counts;
        Verdict = verdict;
        ++Results;
    }
};

} // namespace qvx
