#pragma once
// One adapter on one port, as the console program drives it: the session and
// the upload engines, and the views they show through, kept as plain data
// that the commands print when the engines are done.
#include "fwupdate/Unitfwupdate.h"
#include "platform/platform.h"
#include "platform/settings.h"
#include "platform/text_lines.h"
#include "qvx/console.h"
#include "session/session.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qvx {

// What the upload's view saw, for the progress display.
class IUploadProgress {
public:
    virtual ~IUploadProgress() = default;
    virtual void StatusShown(const std::string& text) = 0;
    virtual void ProgressChanged(int position, int max) = 0;
};

class TConsoleAdapter : public ISessionView,
                        public IIdentityView,
                        public ISelfTestView,
                        public IUploadView {
public:
    TConsoleAdapter(TPlatform& platform, TSettingsStore& settings, IDeviceLink& link,
                    IConsole& console, TPortEntry port);

    // Runs one request (a session code such as ssClearIdentity) to its end.
    // False when it could not start: the port did not open.
    bool Run(TSessionState request);
    // The search for the adapter, its identify attempts counted afresh.
    bool Search();
    // True when the user interrupted while it ran (a running upload is
    // cancelled as its Stop button does, and the link closed).
    bool Interrupted = false;
    // The upload's silence bound (ms; 0 = no limit): a boot loader that sends
    // nothing for this long after its prompt ends the upload as failed.
    unsigned SilenceLimitMs = 0;

    // Requests' parameters.
    std::string WantedMode;
    bool WantedPower = false;
    std::string FirmwareFile;
    bool WaitForPrompt = true;
    IUploadProgress* Progress = nullptr;
    // Each completed line of the test log as it streams in.
    std::function<void(const std::string&)> OnTestLine;

    // What the adapter's replies showed.
    TPortEntry Port;
    std::map<TIdentityField, std::string> Fields;
    std::vector<TModeRow> Modes;
    int RunningMode = -1; // index into Modes
    bool PowerShown = false;
    bool PowerOn = false;
    int Millivolts = 0;
    std::vector<std::string> Log;
    TTextLines TestLog;
    bool TestRated = false;
    std::string TestCounts;
    TTestVerdict Verdict = TTestVerdict::Ok;
    std::vector<std::string> Statuses;
    // When the upload started and when it showed its last status (ms of the
    // console's clock; 0 = not yet).
    uint64_t UploadStartMs = 0;
    uint64_t LastStatusMs = 0;

    TSession Session;
    TFwUpdater Updater;

    // ISessionView
    std::string PortText() override { return Port.Name; }
    void ArmTick(unsigned ms) override { Tick.SetInterval(ms); }
    void Lock() override {}
    void Unlock(bool) override {}
    void ClearIdentity() override;
    void ClearModes() override;
    void ShowLog(const std::vector<std::string>& lines) override;
    void EnablePages() override {}
    bool StartUpload() override;
    bool Uploading() override { return Updater.IsUploading(); }

    // IIdentityView
    void ShowField(TIdentityField field, const std::string& text) override;
    void ShowPower(int visible, int enable, int switchState, int millivolts) override;
    bool ShowAllModes() override { return true; }
    size_t ModeCount() override { return Modes.size(); }
    void AddMode(const TModeRow& row) override { Modes.push_back(row); }
    void SortModes() override;
    const std::string& ModeNumberAt(size_t index) override { return Modes[index].Number; }
    int ModeStateAt(size_t index) override { return Modes[index].StateIndex; }
    void SetModeStateAt(size_t index, int state) override { Modes[index].StateIndex = state; }
    void SelectRunningMode(size_t index) override { RunningMode = static_cast<int>(index); }
    void ModesChanged() override {}

    // ISelfTestView
    size_t TestLineCount() override { return TestLog.Lines.size(); }
    void InsertTestText(const std::string& text) override;
    void ReplaceTestLine(size_t index, const std::string& text) override;
    std::string TestLogText() override { return TestLog.Text(); }
    void AddTestLine(const std::string& line) override;
    void ShowTestResult(const std::string& counts, TTestVerdict verdict) override;

    // IUploadView
    void ShowStatus(const std::string& text) override;
    void ClearStatus() override {}
    void SetProgressRange(int max) override { ProgressRange = max; }
    void SetProgress(int position) override;
    int ProgressMax() const override { return ProgressRange; }

private:
    void TestLogChanged();

    IDeviceLink& Link;
    IConsole& Console;
    TTimer Tick;
    int ProgressRange = 100;
    size_t TestLinesPassed = 0; // completed lines handed to OnTestLine
};

// "selected", "active", "hidden", "available" or "" for a row's state.
const char* ModeStateName(int state);

} // namespace qvx
