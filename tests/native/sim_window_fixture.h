#pragma once
// The main window against the simulated adapter, with the session and upload
// timers and the adapter's clock advancing together.
#include "sim/sim_link.h"
#include "tests/native/window_fixture.h"

namespace qvx {

class SimWindowTest : public ::testing::Test, protected TMemoryPlatform {
protected:
    SimWindowTest() {
        TPortLists lists;
        lists.Entries = {{"USB:QV2A0017", "Quorvelix Adapter", ""}};
        Link.SetPortLists(lists);
        Files.SetProgramPath("C:\\Quorvelix\\Configurator.exe");
        Form.FormCreate();
    }
    void Configure(const std::string& text) {
        TSimConfig config;
        std::string error;
        ASSERT_TRUE(ParseSimConfig(text, config, error)) << error;
        Adapter.SetConfig(config);
    }
    // Both clocks move on in 1 ms steps until the window is idle again.
    void RunUntilIdle(int maxMs = 120000) {
        for (int ms = 0; ms < maxMs; ++ms) {
            Link.Advance(1000);
            Timers.Advance(1);
            if (Form.Session.Idle() && !Form.Updater.IsUploading())
                return;
        }
        FAIL() << "the session did not end";
    }

    TSimAdapter Adapter;
    TSimLink Link{Adapter};
    TfrmMain Form{Platform, &Link};
};

} // namespace qvx
