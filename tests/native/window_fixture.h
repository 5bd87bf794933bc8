#pragma once
// The main window over in-memory seams and a link whose answers the test
// scripts, for the tests of the window's behaviour.
#include "app/Unitmain.h"
#include "platform/callconv.h"
#include "platform/memory/memory_platform.h"
#include "tests/fakes/reply_link.h"

#include <gtest/gtest.h>

namespace qvx {

class WindowTest : public ::testing::Test, protected TMemoryPlatform {
protected:
    WindowTest() {
        Form.Settings.AppProductName = "Quorvelix";
        Form.Settings.AppTitle = "Quorvelix Configurator Version 2.3.1.8";
        Link.AddPort("COM3", "Communications Port", "ACPI\\PNP0501\\1");
        Link.AddPort("USB:A1B2C3D4", "Quorvelix Adapter");
        Form.RebuildPortList(true);
    }
    // Runs the session's ticks until it ends (bounded).
    void RunSession(int maxTicks = 2000) {
        for (int i = 0; i < maxTicks && !Form.Session.Idle(); ++i)
            Timers.Advance(10);
    }
    void SelectPort(const std::string& name) {
        for (size_t i = 0; i < Form.Ports.Count(); ++i)
            if (Form.Ports.Entries[i].Name == name)
                Form.cbCOM.SetItemIndex(static_cast<int>(i));
    }
    std::string Setting(const std::string& name, const std::string& sub = "") {
        TMemoryRegistry::Value v;
        std::string path = "SOFTWARE\\Morveklink" + (sub.empty() ? "" : "\\" + sub);
        return Registry.GetValue(path, name, v) ? v.Text : "<missing>";
    }
    std::vector<std::string> Column(int sub) {
        std::vector<std::string> out;
        for (size_t i = 0; i < Form.lvModes.Count(); ++i) {
            TListItem* item = Form.lvModes.Item(i);
            out.push_back(sub < 0 ? item->Caption : item->SubItems[static_cast<size_t>(sub)]);
        }
        return out;
    }

    TReplyLink Link;
    TfrmMain Form{Platform, &Link};
};

} // namespace qvx
