// The window's requests against the simulated adapter, with the session and
// upload timers and the adapter's clock advancing together.
#include "sim/sim_link.h"
#include "tests/native/window_fixture.h"

namespace qvx {
namespace {

class SimSessionTest : public ::testing::Test, protected TMemoryPlatform {
protected:
    SimSessionTest() {
        TPortLists lists;
        lists.Names = {"USB:QV2A0017"};
        lists.Descriptions = {"Quorvelix Adapter"};
        lists.DeviceIds = {""};
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
            if (Form.SessionState == ssIdle && !Form.Updater.IsUploading())
                return;
        }
        FAIL() << "the session did not end";
    }

    TSimAdapter Adapter;
    TSimLink Link{Adapter};
    TfrmMain Form{Platform, &Link};
};

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

} // namespace
} // namespace qvx
