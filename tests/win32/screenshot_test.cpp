// Screenshots of every page of the real main window, filled as after start-up
// and a search, saved as PNG files for a person to look at.
#include "tests/win32/main_window.h"
#include "tests/win32/window_shot.h"

#include <gtest/gtest.h>

namespace qvx {
namespace {

class Screenshots : public ::testing::Test, public probe::TMainWindow {
protected:
    // Texts as long as the real ones, so that a cut-off shows.
    void Fill() {
        Form.SetCaption("Quorvelix Configurator Version 2.3.1.8");
        Form.lbName.SetCaption("Quorvelix Configurator");
        Form.lbVersion.SetCaption("Version 2.3.1.8");
        Form.lbCopy.SetCaption("Copyright (C) 2026 Morveklink Ltd.");
        Form.lbRef.SetCaption("http://www.morveklink.example");
        Form.lbMail.SetCaption("orders@morveklink.example");
        Form.rbAddMode.SetCaption("Repair Quorvelix");
        Form.GroupBox_Driver.SetCaption(" Quorvelix Driver ");
        Form.cbCOM.SetItems({"COM3 - USB Serial Port (Quorvelix adapter)"});
        Form.cbCOM.SetItemIndex(0);
        Form.edSignature.SetText("Morvek_QVX");
        Form.edSerial.SetText("QV2301-004711");
        Form.edCopyRight.SetText("(C) Morveklink 2026");
        Form.edHardware.SetText("3.1");
        Form.edBootVer.SetText("1.07");
        Form.edVersion.SetText("2.14.3");
        AddMode("01", "000", "Boot loader service mode", 1);
        AddMode("02", "0A1", "ISO 15765 CAN gateway", 0);
        AddMode("03", "1B", "J1850 PWM/VPW interface", 1);
        AddMode("04", "2C", "ISO 9141 / ISO 14230 K-line", 2);
        AddMode("05", "3D", "Pass-thru SAE J2534 device", 3);
        Form.lvModes.SetSelected(Form.lvModes.Item(1));
        Form.cbShow.SetChecked(true);
        Form.lvInfo.SetVisible(true);
        Form.btModeSelect.SetEnabled(true);
        Form.btModeHide.SetEnabled(true);
        Form.memLog.Add("CR:Quorvelix adapter");
        Form.memLog.Add("Serial Number: QV2301-004711");
        Form.memLog.Add("Firmware: 2.14.3");
        Form.btCopy.SetEnabled(true);
        Form.cbPower.SetVisible(true);
        Form.edPower.SetVisible(true);
        Form.edPower.SetText("12.6");
        Form.lbPower.SetVisible(true);
        Form.btPower.SetVisible(true);
        Form.edFW_File.SetText("C:\\Program Files\\Quorvelix\\firmware_2_14_3.rfw");
        Form.edUpdateSatus.SetText("Page 12 of 40 written");
        Form.pbUpdateProgress.SetPosition(30);
        Form.memUpdate.Add("Boot loader answered.");
        Form.cbJ2534_Devices.SetItems({"Morveklink - Quorvelix"});
        Form.cbJ2534_Devices.SetItemIndex(0);
        Form.edJ2534_Config.SetText("C:\\Program Files\\Quorvelix\\Configurator.exe");
        Form.edJ2534_DLL.SetText("C:\\windows\\system32\\mvpass32.dll");
        Form.edJ2534_Version_DLL.SetText("04.04.0012");
        Form.shJ2534_Version_DLL.SetBrushColor(clRed);
        Form.shJ2534_Version_DLL.SetVisible(true);
        Form.lbJ2534_Message.SetVisible(true);
        Form.shJ2534_Install.SetBrushColor(clLime);
        Form.shJ2534_Install.SetVisible(true);
        Form.pbJ2534_Install.SetPosition(55);
        Form.pbJ2534_Install.SetVisible(true);
        Form.memLogTest.Add("Self-test started");
        Form.memLogTest.Add("Errors: 0  Warnings: 1");
        Form.edTest_Result.SetText("Warnings: 1");
        Form.shpTest_Result.SetBrushColor(clYellow);
    }

    void Save(int page) {
        Form.pcOptions.SetActivePageIndex(page);
        probe::TShot shot = probe::Capture(Window.Handle());
        ASSERT_EQ(shot.Width, Form.Width());
        ASSERT_EQ(shot.Height, Form.Height());
        // A page that did not paint is one flat colour (or nearly).
        EXPECT_GT(probe::ColourCount(shot), 16u) << "page " << page;
        std::string path = probe::ShotDir() + "/window_page" + std::to_string(page) + "_" +
                           Form.pcOptions.Pages()[static_cast<size_t>(page)]->Name() + ".png";
        EXPECT_TRUE(png::Write(path, shot.Width, shot.Height, shot.Rgb)) << path;
    }
};

TEST_F(Screenshots, EveryVisiblePageAndTheTestPage) {
    Fill();
    for (int page = 0; page < 4; ++page)
        Save(page);
    Form.tsTest.SetTabVisible(true);
    Save(4);
    EXPECT_TRUE(Errors.empty());
}

} // namespace
} // namespace qvx
