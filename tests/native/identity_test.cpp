#include "tests/native/window_fixture.h"

namespace qvx {
namespace {

TEST(ModeLines, MarkerAndNumberWidth) {
    EXPECT_EQ(FindModeMarker("05 - CAN"), 2);
    EXPECT_EQ(FindModeMarker("5 * X"), 1);
    EXPECT_EQ(FindModeMarker("ABC _ x"), 3);
    EXPECT_EQ(FindModeMarker("7 + y"), 1);
    EXPECT_EQ(FindModeMarker("A12B - X"), 0);
    EXPECT_EQ(FindModeMarker("ab - X"), 0);
    EXPECT_EQ(FindModeMarker(" - X"), 0);
    EXPECT_EQ(FindModeMarker("05 -"), 0);
    EXPECT_EQ(FindModeMarker("05"), 0);
    EXPECT_EQ(FindModeMarker("05 : X"), 0);
    EXPECT_EQ(FindModeMarker(""), 0);
    const TModeEntry e = SplitModeLine("05 - CAN bus", 2);
    EXPECT_EQ(e.Number, "05");
    EXPECT_EQ(e.Marker, '-');
    EXPECT_EQ(e.Description, "CAN bus");
    EXPECT_EQ(SplitModeLine("5 * ", 1).Description, "");
}

TEST(SupplyVoltage, AddsTheOffsetInSinglePrecisionAndRejectsText) {
    int mv = -7;
    ASSERT_TRUE(ParseSupplyMillivolts("UI:12.34V", mv));
    EXPECT_EQ(FormatVolts(mv), "12.890");
    ASSERT_TRUE(ParseSupplyMillivolts("UI:0.45V", mv));
    EXPECT_EQ(FormatVolts(mv), "1.000");
    ASSERT_TRUE(ParseSupplyMillivolts("UI:-0.55V", mv));
    EXPECT_EQ(mv, 0);
    mv = 42;
    EXPECT_FALSE(ParseSupplyMillivolts("UI:abcV", mv));
    EXPECT_FALSE(ParseSupplyMillivolts("UI:V", mv));
    EXPECT_FALSE(ParseSupplyMillivolts("UI:nanV", mv));
    EXPECT_FALSE(ParseSupplyMillivolts("UI:1e30V", mv));
    EXPECT_FALSE(ParseSupplyMillivolts("UI:", mv));
    EXPECT_EQ(mv, 42);
}

class IdentityTest : public WindowTest {
protected:
    void Parse(const std::vector<std::string>& lines) {
        Form.ShowLog(Form.Session.Identity.Read(lines));
    }
};

TEST_F(IdentityTest, TagsFillTheFieldsAndUnknownLinesLeaveTheLog) {
    Parse({"CR:(c) Morveklink", "SN:ABC", "Signature: SIG1", "FW:1.2.3", "BW:0.9",
           "Hardware: rev B", "junk line", "PA:1", "UA:2"});
    EXPECT_EQ(Form.edCopyRight.Text(), "(c) Morveklink");
    EXPECT_EQ(Form.edSerial.Text(), "ABC");
    EXPECT_EQ(Form.edSignature.Text(), "SIG1");
    EXPECT_EQ(Form.edVersion.Text(), "1.2.3");
    EXPECT_EQ(Form.edBootVer.Text(), "0.9");
    EXPECT_EQ(Form.edHardware.Text(), "rev B");
    EXPECT_TRUE(Form.tsTest.TabVisible());
    EXPECT_TRUE(Form.pbJ2534_Install.Visible());
    EXPECT_EQ(Form.memLog.Lines(),
              (std::vector<std::string>{"CR:(c) Morveklink", "SN:ABC", "Signature: SIG1",
                                        "FW:1.2.3", "BW:0.9", "Hardware: rev B", "PA:1", "UA:2"}));
}

TEST_F(IdentityTest, AlternativeTagsAndTheUsbCopyrightLine) {
    Parse({"USB-XYZ", "Serial Number: ABC", "ID:S2", "Version 4.0", "HW:H1"});
    EXPECT_EQ(Form.edCopyRight.Text(), "USB-XYZ");
    EXPECT_EQ(Form.edSerial.Text(), "ABC");
    EXPECT_EQ(Form.edSignature.Text(), "S2");
    EXPECT_EQ(Form.edVersion.Text(), "4.0");
    EXPECT_EQ(Form.edHardware.Text(), "H1");
}

TEST_F(IdentityTest, DriverVersionEnablesTheInstallButton) {
    Parse({"PT:1.07"});
    EXPECT_EQ(Form.AdapterInfo().DriverVersion, "1.07");
    EXPECT_EQ(Form.btJ2534_Install.Caption(), "Install Driver v1.07");
    EXPECT_TRUE(Form.btJ2534_Install.Enabled());
}

TEST_F(IdentityTest, ModeListWithoutShowAllKeepsOnlyActiveModes) {
    Parse({"00 - Service", "05 - CAN", "06 _ KWP", "07 + J1850", "08 * Demo"});
    EXPECT_EQ(Column(0), (std::vector<std::string>{"00", "05"}));
    EXPECT_EQ(Column(1), (std::vector<std::string>{"Service", "CAN"}));
    EXPECT_EQ(Column(-1), (std::vector<std::string>{"00", "01"}));
    EXPECT_EQ(Form.lvModes.Item(0)->StateIndex, -1);
    EXPECT_EQ(Form.memLog.Lines(), (std::vector<std::string>{"00 - Service", "05 - CAN"}));
    EXPECT_EQ(Form.Session.Identity.ModeNumberWidth, 2);
    // Every listed " - " mode got its (empty) hide value.
    EXPECT_EQ(Setting("05", "Hide"), "");
}

TEST_F(IdentityTest, ShowAllListsAvailableModesWithImage3AndDropsTheirLines) {
    Form.cbShow.SetChecked(true);
    Parse({"05 - CAN", "06 _ KWP", "07 * J1850"});
    EXPECT_EQ(Column(0), (std::vector<std::string>{"05", "06", "07"}));
    EXPECT_EQ(Form.lvModes.Item(0)->StateIndex, 1);
    EXPECT_EQ(Form.lvModes.Item(1)->StateIndex, 3);
    EXPECT_EQ(Form.memLog.Lines(), (std::vector<std::string>{"05 - CAN"}));
}

TEST_F(IdentityTest, HiddenModesExceptServiceAndRunningMode) {
    Registry.SetString("SOFTWARE\\Morveklink\\Hide", "05", "CAN");
    Registry.SetString("SOFTWARE\\Morveklink\\Hide", "000", "Boot");
    Registry.SetString("SOFTWARE\\Morveklink\\Hide", "07", "ISO");
    Registry.SetString("SOFTWARE\\Morveklink", "Mode", "07 - ISO");
    Parse({"05 - CAN", "000 - Boot", "07 - ISO"});
    EXPECT_EQ(Column(0), (std::vector<std::string>{"000", "07"}));
    EXPECT_EQ(Form.memLog.Lines().size(), 3u); // the hidden line stays in the log
    Form.lvModes.Clear();
    Form.cbShow.SetChecked(true);
    Parse({"05 - CAN"});
    ASSERT_EQ(Form.lvModes.Count(), 1u);
    EXPECT_EQ(Form.lvModes.Item(0)->StateIndex, 2);
}

TEST_F(IdentityTest, SelectedModeMarksTheRunningModeAndStoresIt) {
    Form.cbShow.SetChecked(true);
    Registry.SetString("SOFTWARE\\Morveklink\\Hide", "09", "Old");
    Parse({"Selected Mode: 07 - X", "05 - CAN", "07 - X", "09 - Old"});
    EXPECT_EQ(Form.lvModes.Item(0)->StateIndex, 1);
    EXPECT_EQ(Form.lvModes.Item(1)->StateIndex, 0);
    EXPECT_EQ(Form.lvModes.Item(2)->StateIndex, 2);
    EXPECT_EQ(Form.lvModes.Selected(), Form.lvModes.Item(1));
    EXPECT_EQ(Setting("Mode"), "07 - X");
    EXPECT_EQ(Form.lvModes.ScrolledTo(), Form.lvModes.Item(1));
}

TEST_F(IdentityTest, SelectedModeWithoutShowAllClearsOtherImages) {
    Parse({"05 - CAN", "07 - X", "Selected Mode: 05 - CAN"});
    EXPECT_EQ(Form.lvModes.Item(0)->StateIndex, 0);
    EXPECT_EQ(Form.lvModes.Item(1)->StateIndex, -1);
    Parse({"Selected Mode: 99 - none"});
    EXPECT_EQ(Setting("Mode"), "05 - CAN"); // an unlisted mode is not stored
}

TEST_F(IdentityTest, CaptionsCountOnPastNinetyNine) {
    std::vector<std::string> lines;
    for (int i = 0; i < 101; ++i) {
        char line[32];
        std::snprintf(line, sizeof line, "%03d - m", i);
        lines.push_back(line);
    }
    Parse(lines);
    ASSERT_EQ(Form.lvModes.Count(), 101u);
    // Captions follow the arrival order; the list sorts them as text, so
    // '100' comes before '11'.
    EXPECT_EQ(Form.lvModes.Item(10)->Caption, "10");
    EXPECT_EQ(Form.lvModes.Item(11)->Caption, "100");
    EXPECT_EQ(Form.lvModes.Item(11)->SubItems[0], "100");
    EXPECT_EQ(Form.lvModes.Item(100)->Caption, "99");
}

TEST_F(IdentityTest, PowerLinesSetTheBoxWithoutSendingACommand) {
    for (const char* off : {"PI:OF", "PI:OFF", "PI:of"}) {
        Form.cbPower.SetEnabled(false); // as a reply sets it: no request
        Form.cbPower.SetChecked(true);
        Form.cbPower.SetEnabled(true);
        Parse({off});
        EXPECT_FALSE(Form.cbPower.Checked()) << off;
    }
    Parse({"PI:ON"});
    EXPECT_TRUE(Form.cbPower.Checked());
    EXPECT_TRUE(Form.cbPower.Visible());
    EXPECT_TRUE(Form.cbPower.Enabled());
    Timers.Advance(1000);
    EXPECT_EQ(Link.Opens, 0);
    EXPECT_TRUE(Link.Writes.empty());
}

TEST_F(IdentityTest, VoltageDisplayRules) {
    Parse({"UI:12.34V"});
    EXPECT_EQ(Form.edPower.Text(), "12.890");
    Parse({"UI:garbageV"});
    EXPECT_EQ(Form.edPower.Text(), "12.890"); // no unrelated value
    Parse({"UI:-0.55V"});
    EXPECT_EQ(Form.edPower.Text(), "");
    Form.edPower.SetText("5.000");
    Parse({"UI:-3V"});
    EXPECT_EQ(Form.edPower.Text(), "5.000");
}

TEST_F(IdentityTest, ShowPowerTriStates) {
    Form.ShowPower(0, 0, 0, 0);
    EXPECT_FALSE(Form.cbPower.Visible());
    EXPECT_FALSE(Form.btPower.Visible());
    Form.ShowPower(1, 1, 1, 1500);
    EXPECT_TRUE(Form.edPower.Visible());
    EXPECT_TRUE(Form.cbPower.Checked());
    EXPECT_EQ(Form.edPower.Text(), "1.500");
    Form.ShowPower(-1, 0, -1, -1);
    EXPECT_FALSE(Form.btPower.Enabled());
    EXPECT_FALSE(Form.cbPower.Enabled());
    EXPECT_TRUE(Form.cbPower.Checked());
    Form.ShowPower(-1, 1, -1, -1);
    EXPECT_TRUE(Form.btPower.Enabled());
    EXPECT_TRUE(Form.cbPower.Enabled());
}

} // namespace
} // namespace qvx
