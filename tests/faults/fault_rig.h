#pragma once
// The fault campaign, written once for every device link: a rig brings up the
// whole window over one link to a simulated adapter with a given
// configuration, and the scenarios work it through the window's own controls
// only. Each link's rig says how time passes (simulated steps or real
// pumping), how a control is clicked and read, what the settings hold and
// what a closed device and a running port list look like on that link.
#include "app/Unitmain.h"
#include "platform/memory/memory_files.h"
#include "platform/memory/watched.h"
#include "sim/sim_adapter.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>

namespace qvx {

using TSettingsSnapshot = std::map<std::string, std::string>;

// A link that also counts the bytes written through it.
template <typename TLink> class TCountingLink : public TWatchedLink<TLink> {
public:
    using TWatchedLink<TLink>::TWatchedLink;
    uint64_t BytesWritten = 0;
    bool Write(const Bytes& bytes) override {
        BytesWritten += bytes.size();
        return TWatchedLink<TLink>::Write(bytes);
    }
};

class TFaultRig {
public:
    virtual ~TFaultRig() = default;
    // The window over an adapter of this configuration, its port selected.
    virtual void Start(const std::string& config) = 0;
    virtual TfrmMain& Form() = 0;
    // Time passes: simulated steps of 1 ms, or real time while pumping.
    virtual void Run(int ms) = 0;
    // Runs until the condition holds; false when it does not within maxMs.
    virtual bool RunUntil(const std::function<bool()>& condition, int maxMs) = 0;
    virtual void Click(TControl& control) = 0;
    virtual void SelectPage(int index) = 0;
    virtual void SelectRow(size_t row) = 0; // of lvModes
    virtual std::string Text(const TControl& control) = 0;
    virtual bool Enabled(const TControl& control) = 0;
    virtual TSettingsSnapshot Settings() = 0;
    // What the link holds of the request's end: open, and writes after it.
    virtual bool LinkOpen() = 0;
    virtual bool& Ended() = 0;
    virtual std::vector<Bytes>& WritesAfterEnd() = 0;
    // The bytes that reached the device.
    virtual uint64_t BytesWritten() = 0;
    // The adapter itself, where the link lets the test see it (else null).
    virtual TSimAdapter* Sim() = 0;
    // The real window under Wine, rather than its model.
    virtual bool RealWindow() = 0;
    // The combo's text of the adapter's port.
    virtual std::string PortText() = 0;
    // The link's own signs that the device is closed and nothing is held.
    virtual void ExpectDeviceClosed() = 0;
    // The port list still follows the link: a new port shows up.
    virtual void ExpectPortListRuns() = 0;
    // After the adapter went away: what a search on the link says.
    virtual void ExpectUnpluggedSearchBox() = 0;
    // The adapter plugged in again, healthy, and its port selected.
    virtual void Replug() = 0;
    // The link notices that its device has gone (Lost). A COM port does not:
    // the port stays, only the adapter behind it falls quiet.
    virtual bool NoticesLostDevice() { return true; }
    // A write can be held back on the link (flow control, a USB write that
    // never completes); the pty behind a COM port takes every byte at once.
    virtual bool CanHoldWrites() { return true; }

    TWatchedUserIo UserIo;
    TMemoryFiles Files;
};

struct TRigMaker {
    const char* Name;
    std::function<std::unique_ptr<TFaultRig>()> Make;
};

inline void PrintTo(const TRigMaker& maker, std::ostream* out) {
    *out << maker.Name;
}

std::unique_ptr<TFaultRig> MakeSimRig();

// Every scenario over every link the suite instantiates it with.
class FaultTest : public ::testing::TestWithParam<TRigMaker> {
protected:
    void SetUp() override;
    void TearDown() override;

    TfrmMain& Form() { return Rig->Form(); }
    TWatchedUserIo& UserIo() { return Rig->UserIo; }
    bool Idle() { return Form().Session.Idle() && !Form().Updater.IsUploading(); }
    bool RunUntilIdle(int maxMs = 120000) {
        return Rig->RunUntil([&] { return Idle(); }, maxMs);
    }
    // Starts a request from its control with the record of writes armed.
    void Request(TControl& control) {
        Rig->Ended() = false;
        Rig->Click(control);
    }
    void Snapshot();
    void SearchAndSnapshot();
    void SelectMode(const std::string& number);
    Bytes PrepareUpload(size_t pages);
    void ExpectNotFoundBox();
    // A search on an adapter of this configuration ends, within maxMs, in the
    // not-found box after every identify attempt, and leaves all as it was.
    void ExpectSearchEndsNotFound(const std::string& config, int maxMs, const char* why);
    // "Install Driver" with an adapter of this configuration gets the
    // installation's error box and changes no file and no setting.
    void ExpectInstallRefused(const std::string& config);
    // What every fault must leave behind.
    void ExpectRecovered();
    // The adapter plugged in again and healthy: the next search finds it.
    void ExpectNextSearchWorks();

    std::unique_ptr<TFaultRig> Rig;
    TSettingsSnapshot Before;
};

std::string RigName(const ::testing::TestParamInfo<TRigMaker>& info);

} // namespace qvx
