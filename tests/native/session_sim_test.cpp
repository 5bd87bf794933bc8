// The window's requests against the simulated adapter, with the session and
// upload timers and the adapter's clock advancing together.
#include "tests/native/sim_window_fixture.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace qvx {
namespace {

class SimSessionTest : public SimWindowTest {};

TEST_F(SimSessionTest, SearchShowsTheSimulatedAdapter) {
    Configure("line.rate=11520\nline.chunk=64");
    Form.btSearch.UserClick();
    RunUntilIdle();
    EXPECT_TRUE(UserIo.Boxes().empty());
    EXPECT_EQ(Form.edSerial.Text(), "QV2A0017");
    EXPECT_EQ(Form.edVersion.Text(), "2.31");
    EXPECT_TRUE(Form.tsTest.TabVisible());
    EXPECT_EQ(Form.btJ2534_Install.Caption(), "Install Driver v105");
    ASSERT_NE(Form.lvModes.Selected(), nullptr);
    EXPECT_EQ(Form.lvModes.Selected()->SubItems[0], "001");
    EXPECT_FALSE(Link.IsOpen());
}

TEST_F(SimSessionTest, ModeSwitchAndPowerAndSelfTest) {
    Configure("test.errors=2\ntest.warnings=1\nline.rate=20000\nline.chunk=32");
    Form.btSearch.UserClick();
    RunUntilIdle();
    for (size_t i = 0; i < Form.lvModes.Count(); ++i)
        if (Form.lvModes.Item(i)->SubItems[0] == "002")
            Form.lvModes.UserSelect(Form.lvModes.Item(i));
    Form.btModeSelect.UserClick();
    RunUntilIdle();
    EXPECT_EQ(Adapter.RunningMode(), "002");
    EXPECT_EQ(Form.lvModes.Selected()->SubItems[0], "002");
    EXPECT_EQ(Form.lvModes.Selected()->StateIndex, 0);

    Form.cbPower.UserClick();
    RunUntilIdle();
    EXPECT_TRUE(Adapter.PowerOn());
    EXPECT_TRUE(Form.cbPower.Checked());
    EXPECT_EQ(Form.edPower.Text(), "12.890");

    Form.pcOptions.UserSelectPage(Form.tsTest.PageIndex());
    Form.btRunTest.UserClick();
    RunUntilIdle();
    EXPECT_EQ(Form.edTest_Result.Text(), "2/1");
    EXPECT_EQ(Form.memLogTest.Lines().back(), "RESULT : Error/Warning");
    EXPECT_EQ(Form.shpTest_Result.BrushColor(), clFuchsia);
    EXPECT_TRUE(UserIo.Boxes().empty());
}

TEST_F(SimSessionTest, FirmwareUploadWritesEveryPage) {
    Configure("boot.pagesize=128\nline.rate=11520\nline.chunk=64");
    Bytes image(80 + 128 * 4 + 50, '\0');
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<char>(i * 13 + 1);
    Files.Put("C:\\fw\\new.rfw", image);
    Form.btSearch.UserClick();
    RunUntilIdle();
    Form.pcOptions.UserSelectPage(1);
    Form.edFW_File.SetText("C:\\fw\\new.rfw");
    ASSERT_TRUE(Form.btUpdateRun.Enabled());
    Form.btUpdateRun.UserClick();
    RunUntilIdle();
    EXPECT_EQ(Form.memUpdate.Lines().back(), "Updating firmware : Ok");
    EXPECT_EQ(Form.pbUpdateProgress.Position(), Form.pbUpdateProgress.Max());
    EXPECT_EQ(Adapter.ReceivedHeader(), image.substr(0, 80));
    const auto pages = Adapter.Pages();
    ASSERT_EQ(pages.size(), 4u);
    for (uint16_t p = 0; p < 4; ++p)
        EXPECT_EQ(pages.at(p), image.substr(80 + p * 128, 128)) << "page " << p;
    EXPECT_EQ(Form.btUpdateRun.Caption(), "Run");
    EXPECT_FALSE(Link.IsOpen());
}

TEST_F(SimSessionTest, FallbackHeaderAfterASilentHeader) {
    Configure("fault.header.silent=1\nboot.pagesize=64");
    Bytes image(264 + 64 * 2, 'p');
    image[264] = 'A';
    Files.Put("C:\\fw\\old.rfw", image);
    Form.btSearch.UserClick();
    RunUntilIdle();
    Form.pcOptions.UserSelectPage(1);
    Form.edFW_File.SetText("C:\\fw\\old.rfw");
    Form.btUpdateRun.UserClick();
    RunUntilIdle();
    EXPECT_EQ(Form.memUpdate.Lines().back(), "Updating firmware : Ok");
    EXPECT_EQ(Adapter.ReceivedFallbackHeader(), image.substr(80, 184));
    ASSERT_EQ(Adapter.Pages().size(), 2u);
    EXPECT_EQ(Adapter.Pages().at(0), image.substr(264, 64));
}

TEST_F(SimSessionTest, NotFoundWhenTheAdapterIsSilent) {
    Configure("fault.silent=1");
    Form.btSearch.UserClick();
    RunUntilIdle();
    ASSERT_EQ(UserIo.Boxes().size(), 1u);
    EXPECT_EQ(Adapter.IdentifyCount(), 4);
    EXPECT_EQ(Form.edSerial.Text(), "");
}

// The port-list refresh runs while a mode switch waits for its slow reply:
// "Search" stays locked, and the switch sends the chosen mode's number.
TEST_F(SimSessionTest, APortListChangeDuringAModeSwitchKeepsSearchLocked) {
    Configure("line.rate=200\nline.chunk=1");
    Form.btSearch.UserClick();
    RunUntilIdle();
    for (size_t i = 0; i < Form.lvModes.Count(); ++i)
        if (Form.lvModes.Item(i)->SubItems[0] == "002")
            Form.lvModes.UserSelect(Form.lvModes.Item(i));
    TPortLists lists;
    lists.Entries = {{"COM7", "Communications Port", ""},
                     {"USB:QV2A0017", "Quorvelix Adapter", ""}};
    Link.SetPortLists(lists);
    Form.btModeSelect.UserClick();
    for (int ms = 0; ms < 600; ++ms) {
        Link.Advance(1000);
        Timers.Advance(1);
    }
    ASSERT_FALSE(Form.Session.Idle());
    ASSERT_EQ(Form.cbCOM.Items().size(), 2u); // the refresh has run
    EXPECT_FALSE(Form.btSearch.Enabled());
    Form.btSearch.UserClick();
    RunUntilIdle();
    EXPECT_EQ(Adapter.RunningMode(), "002");
    EXPECT_TRUE(UserIo.Boxes().empty());
}

// Counts what the real controls would be told, per control and property.
struct TCountingPeer : IControlPeer {
    std::map<std::pair<std::string, TProp>, int> Seen;
    void PropertyChanged(TControl& c, TProp p) override { ++Seen[{c.Name(), p}]; }
    int Of(const TControl& c, TProp p) const {
        auto it = Seen.find({c.Name(), p});
        return it == Seen.end() ? 0 : it->second;
    }
};

// A reply of 150 modes: every listed row in the list's order (by the "#"
// texts, so '100' comes before '11'), the running mode marked, the log
// without the line of a mode on offer; and the list and the log are shown
// a few times per search, not once per line, and the settings are read once
// per mode line.
TEST_F(SimSessionTest, LongIdentityListsEveryModeInOrderAndShowsItOnce) {
    const char* digits = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::string config = "line.rate=0\n";
    std::vector<std::string> modeLines;
    for (int k = 1; k <= 151; ++k) {
        // The running mode "001" comes 100th.
        const int i = k == 1 ? 100 : k == 100 ? 1 : k;
        const std::string number = {'0', digits[i / 36], digits[i % 36]};
        const std::string line = number + (k == 75 ? " _ " : " - ") + "Mode " + number;
        config += "mode=" + line + "\n";
        if (k != 75)
            modeLines.push_back(line);
    }
    Configure(config);
    TCountingPeer peer;
    Form.lvModes.AttachPeer(&peer);
    Form.memLog.AttachPeer(&peer);
    const int opensBefore = Registry.OpenCount();
    Form.btSearch.UserClick();
    RunUntilIdle();
    // The settings: each mode's hide mark, the remembered running mode once.
    EXPECT_LE(Registry.OpenCount() - opensBefore, static_cast<int>(modeLines.size()) + 10);

    std::vector<std::string> log = {"CR:(c) Morveklink, Quorvelix adapter",
                                    "SN:QV2A0017",
                                    "ID:5A3C91E0",
                                    "FW:2.31",
                                    "BW:1.07",
                                    "HW:3.0",
                                    "PT:105"};
    log.insert(log.end(), modeLines.begin(), modeLines.end());
    log.insert(log.end(), {"Selected Mode: 001 - Mode 001", "PI:OFF", "UI:12.34V"});
    EXPECT_EQ(Form.memLog.Lines(), log);

    // Rows in the order they came, then ordered by their "#" text.
    std::vector<std::pair<std::string, std::string>> rows; // "#", line
    for (size_t i = 0; i < modeLines.size(); ++i) {
        char index[8];
        std::snprintf(index, sizeof index, "%02u", static_cast<unsigned>(i));
        rows.emplace_back(index, modeLines[i]);
    }
    std::sort(rows.begin(), rows.end());
    ASSERT_EQ(Form.lvModes.Count(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        const TListItem& item = *Form.lvModes.Item(i);
        const std::string& line = rows[i].second;
        EXPECT_EQ(item.Caption, rows[i].first);
        EXPECT_EQ(item.SubItems, (std::vector<std::string>{line.substr(0, 3), line.substr(6)}));
        EXPECT_EQ(item.StateIndex, line.compare(0, 3, "001") == 0 ? 0 : -1) << line;
    }
    ASSERT_NE(Form.lvModes.Selected(), nullptr);
    EXPECT_EQ(Form.lvModes.Selected()->SubItems[0], "001");

    EXPECT_LE(peer.Of(Form.lvModes, TProp::Items), 5);
    EXPECT_LE(peer.Of(Form.memLog, TProp::Lines), 3);
}

} // namespace
} // namespace qvx
