// The fault rig over the simulated link: the window's model with manual
// timers, and the adapter's clock stepped with them 1 ms at a time.
#include "tests/faults/fault_rig.h"

#include "platform/memory/memory_platform.h"
#include "sim/sim_config.h"
#include "sim/sim_link.h"

#include <tuple>

namespace qvx {
namespace {

void SnapshotKey(const TMemoryRegistry& registry, const std::string& path, TSettingsSnapshot& out) {
    for (const std::string& name : registry.ValueNamesOf(path)) {
        TMemoryRegistry::Value v;
        registry.GetValue(path, name, v);
        out[path + "|" + name] = std::to_string(static_cast<int>(v.Type)) + ":" + v.Text + ":" +
                                 std::to_string(v.Number);
    }
    for (const std::string& sub : registry.SubkeyNamesOf(path)) {
        const std::string child = path.empty() ? sub : path + "\\" + sub;
        out[child + "\\"] = ""; // keys count too
        SnapshotKey(registry, child, out);
    }
}

class TSimRig : public TFaultRig {
public:
    TSimRig() {
        Lists.Entries = {{"USB:QV2A0017", "Quorvelix Adapter", ""}};
        Link.SetPortLists(Lists);
        Files.SetProgramPath("C:\\Quorvelix\\Configurator.exe");
        Window.FormCreate();
    }

    void Start(const std::string& config) override { Configure(config); }
    TfrmMain& Form() override { return Window; }
    void Run(int ms) override {
        for (int i = 0; i < ms; ++i)
            Step();
    }
    bool RunUntil(const std::function<bool()>& condition, int maxMs) override {
        for (int ms = 0; ms < maxMs; ++ms) {
            if (condition())
                return true;
            Step();
        }
        return condition();
    }
    void Click(TControl& control) override { control.UserClick(); }
    void SelectPage(int index) override { Window.pcOptions.UserSelectPage(index); }
    void SelectRow(size_t row) override { Window.lvModes.UserSelect(Window.lvModes.Item(row)); }
    std::string Text(const TControl& control) override { return control.Caption(); }
    bool Enabled(const TControl& control) override { return control.Enabled(); }
    TSettingsSnapshot Settings() override {
        TSettingsSnapshot out;
        SnapshotKey(Registry, "", out);
        return out;
    }
    bool LinkOpen() override { return Link.IsOpen(); }
    bool& Ended() override { return Link.Ended; }
    std::vector<Bytes>& WritesAfterEnd() override { return Link.WritesAfterEnd; }
    uint64_t BytesWritten() override { return Link.BytesWritten; }
    TSimAdapter* Sim() override { return &Adapter; }
    bool RealWindow() override { return false; }
    std::string PortText() override { return "USB:QV2A0017 (Quorvelix Adapter)"; }
    void ExpectDeviceClosed() override { EXPECT_EQ(Link.CloseCount(), Link.OpenCount()); }
    void ExpectPortListRuns() override {
        TPortLists more = Lists;
        more.Add("COM7", "Communications Port", "ACPI\\PNP0501\\7");
        Link.SetPortLists(more);
        for (int ms = 0; ms < 600; ++ms)
            Timers.Advance(1);
        EXPECT_EQ(Window.cbCOM.Items().size(), 2u) << "the port list no longer follows the link";
        Link.SetPortLists(Lists);
        for (int ms = 0; ms < 600; ++ms)
            Timers.Advance(1);
        EXPECT_EQ(Window.cbCOM.Text(), PortText());
    }
    // The simulated link refuses the open without a word of its own.
    void ExpectUnpluggedSearchBox() override { EXPECT_TRUE(UserIo.Boxes().empty()); }
    void Replug() override {
        Adapter.Reconnect();
        Configure("");
    }

private:
    void Configure(const std::string& text) {
        TSimConfig config;
        std::string error;
        ASSERT_TRUE(ParseSimConfig(text, config, error)) << error;
        Adapter.SetConfig(config);
    }
    // Both clocks move on by 1 ms.
    void Step() {
        Link.Advance(1000);
        Timers.Advance(1);
    }

    TMemoryRegistry Registry;
    TFakeLibraries Libraries;
    TStaticVersion Version = TStaticVersion::Product();
    TManualTimers Timers;
    TPlatform Platform{Registry, Libraries, UserIo, Files, Version, Timers};
    TPortLists Lists;
    TSimAdapter Adapter;
    TCountingLink<TSimLink> Link{Adapter};
    TfrmMain Window{Platform, &Link};
};

} // namespace

std::unique_ptr<TFaultRig> MakeSimRig() {
    return std::make_unique<TSimRig>();
}

} // namespace qvx
