// The real main window: its controls, their initial states, property changes
// and real user actions, seen through the Win32 API only.
#include "tests/win32/main_window.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace qvx {
namespace {

using probe::TMainWindow;

class MainWindow : public ::testing::Test, public TMainWindow {};

TEST_F(MainWindow, HasAFixedFrameWithMinimiseButNoMaximiseBox) {
    HWND window = Window.Handle();
    ASSERT_NE(window, nullptr);
    LONG style = probe::Style(window);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(probe::Text(window), "Name...");
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, Form.Width());
    EXPECT_EQ(client.bottom, Form.Height());
}

TEST_F(MainWindow, StartUpAndShowRunOnceInOrderAndCloseRunsFormClose) {
    EXPECT_EQ(Form.Calls, (std::vector<std::string>{"FormCreate", "FormShow"}));
    Window.Show();
    EXPECT_EQ(Form.Calls.size(), 2u);
    SendMessageA(Window.Handle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(Form.Calls.back(), "FormClose");
}

TEST_F(MainWindow, CentredOnTheWorkAreaAndTheFormKnowsWhere) {
    RECT outer, work;
    GetWindowRect(Window.Handle(), &outer);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_LE(std::abs((outer.left + outer.right) - (work.left + work.right)), 1);
    EXPECT_LE(std::abs((outer.top + outer.bottom) - (work.top + work.bottom)), 1);
    EXPECT_EQ(Form.Left(), outer.left);
    EXPECT_EQ(Form.Top(), outer.top);
}

TEST_F(MainWindow, TabsAreTheFourVisiblePagesWithSettingsActive) {
    HWND tabs = H(Form.pcOptions);
    EXPECT_EQ(SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0), 4);
    EXPECT_EQ(probe::TabCaptions(tabs),
              (std::vector<std::string>{"Settings", "Update", "Passthru SAE J2534", "About"}));
    EXPECT_EQ(SendMessageA(tabs, TCM_GETCURSEL, 0, 0), 0);
    EXPECT_TRUE(IsWindowVisible(H(Form.tsSettings)));
    EXPECT_FALSE(IsWindowVisible(H(Form.Update)));
    EXPECT_FALSE(IsWindowVisible(H(Form.tsTest)));
    EXPECT_TRUE(IsWindowVisible(H(Form.btSearch)));
    EXPECT_FALSE(IsWindowVisible(H(Form.btUpdateRun)));
}

TEST_F(MainWindow, SettingsPageControlsStartInTheirStates) {
    EXPECT_EQ(probe::Text(H(Form.btSearch)), "Search");
    EXPECT_TRUE(IsWindowEnabled(H(Form.btSearch)));
    EXPECT_EQ(probe::Text(H(Form.btPortProp)), "?");
    EXPECT_FALSE(IsWindowEnabled(H(Form.btPortProp)));
    EXPECT_EQ(probe::Text(H(Form.btRefresh)), "Refresh");
    EXPECT_EQ(probe::Text(H(Form.cbShow)), "Show ALL");
    EXPECT_FALSE(probe::Checked(H(Form.cbShow)));
    EXPECT_TRUE((probe::Style(H(Form.cbCOM)) & 3) == CBS_DROPDOWNLIST);
    HWND modes = H(Form.lvModes);
    EXPECT_EQ(probe::ListColumns(modes), (std::vector<std::string>{"#", "ID", "Description"}));
    EXPECT_EQ(probe::ListCount(modes), 0);
    EXPECT_TRUE(probe::Style(modes) & LVS_REPORT);
    EXPECT_TRUE(probe::Style(modes) & LVS_SINGLESEL);
    EXPECT_TRUE(probe::Style(modes) & LVS_SHOWSELALWAYS);
    DWORD extended = static_cast<DWORD>(SendMessageA(modes, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    EXPECT_TRUE(extended & LVS_EX_GRIDLINES);
    EXPECT_TRUE(extended & LVS_EX_FULLROWSELECT);
    HWND legend = H(Form.lvInfo);
    EXPECT_FALSE(IsWindowVisible(legend));
    EXPECT_FALSE(IsWindowEnabled(legend));
    EXPECT_EQ(probe::ListCount(legend), 4);
    EXPECT_EQ(probe::ListText(legend, 3, 0), "Available");
    EXPECT_EQ(probe::ListStateIndex(legend, 3), 3);
    for (const TButton* off : {&Form.btModeSelect, &Form.btModeHide, &Form.btModeFile,
                               &Form.btModeRun, &Form.btModeFileDel, &Form.btCopy})
        EXPECT_FALSE(IsWindowEnabled(H(*off))) << off->Name();
    EXPECT_EQ(probe::Text(H(Form.btCopy)), "Copy to Buffer");
    EXPECT_TRUE(probe::Style(H(Form.memLog)) & ES_READONLY);
    EXPECT_TRUE(probe::Style(H(Form.memLog)) & ES_MULTILINE);
}

TEST_F(MainWindow, OtherPagesAndTheIdentityFieldsStartInTheirStates) {
    EXPECT_TRUE(probe::Checked(H(Form.rbUploadFW)));
    EXPECT_EQ(probe::Text(H(Form.rbUploadFW)), "Upload New Firmware");
    EXPECT_FALSE(probe::Checked(H(Form.rbAddMode)));
    EXPECT_TRUE(probe::Checked(H(Form.ckbWait)));
    EXPECT_FALSE(IsWindowEnabled(H(Form.ckbWait)));
    EXPECT_FALSE(IsWindowEnabled(H(Form.ckbNotSearch)));
    EXPECT_FALSE(IsWindowEnabled(H(Form.btUpdateRun)));
    PBRANGE range{};
    SendMessageA(H(Form.pbUpdateProgress), PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 100);
    EXPECT_EQ(probe::Text(H(Form.GroupBox_Devices)), " Devices ");
    EXPECT_EQ(probe::Text(H(Form.btJ2534_Info)), "Read Info");
    EXPECT_FALSE(IsWindowEnabled(H(Form.btJ2534_Install)));
    EXPECT_FALSE(probe::Style(H(Form.lbJ2534_Message)) & WS_VISIBLE);
    EXPECT_FALSE(probe::Style(H(Form.pbJ2534_Install)) & WS_VISIBLE);
    EXPECT_FALSE(probe::Style(H(Form.lbRef_Over)) & WS_VISIBLE);
    EXPECT_EQ(probe::Text(H(Form.lbSerial)), "Serial Number:");
    for (const TEdit* field : {&Form.edSignature, &Form.edSerial, &Form.edCopyRight,
                               &Form.edHardware, &Form.edBootVer, &Form.edVersion}) {
        EXPECT_TRUE(IsWindowVisible(H(*field))) << field->Name();
        EXPECT_TRUE(probe::Style(H(*field)) & ES_READONLY) << field->Name();
    }
    for (const TControl* hidden :
         {static_cast<const TControl*>(&Form.cbPower), static_cast<const TControl*>(&Form.edPower),
          static_cast<const TControl*>(&Form.lbPower), static_cast<const TControl*>(&Form.btPower)})
        EXPECT_FALSE(IsWindowVisible(H(*hidden))) << hidden->Name();
}

TEST_F(MainWindow, PassThruMemoHasACyrillicFont) {
    EXPECT_EQ(probe::FontOf(H(Form.memJ2534)).lfCharSet, RUSSIAN_CHARSET);
    EXPECT_EQ(probe::FontOf(H(Form.memLog)).lfCharSet, DEFAULT_CHARSET);
    EXPECT_EQ(probe::FontOf(H(Form.memJ2534)).lfHeight, probe::FontOf(H(Form.memLog)).lfHeight);
}

TEST_F(MainWindow, CopyToBufferLeavesTheWholeMemoVisiblySelected) {
    Form.memLog.Add("CR:(c)");
    Form.memLog.Add("SN:1");
    Form.btCopy.SetEnabled(true);
    HWND memo = H(Form.memLog);
    SendMessageA(H(Form.btCopy), BM_CLICK, 0, 0);
    EXPECT_EQ(probe::Selection(memo), std::make_pair(0, GetWindowTextLengthA(memo)));
    EXPECT_TRUE(probe::Style(memo) & ES_NOHIDESEL);
    Form.memLog.Add("more");
    const int end = GetWindowTextLengthA(memo);
    EXPECT_EQ(probe::Selection(memo), std::make_pair(end, end));
}

TEST_F(MainWindow, ChangesOfTheObjectsShowInTheWindow) {
    Form.SetCaption("Quorvelix Configurator Version 2.3.1.8");
    EXPECT_EQ(probe::Text(Window.Handle()), "Quorvelix Configurator Version 2.3.1.8");
    Form.btModeHide.SetCaption("Show");
    Form.btModeHide.SetEnabled(true);
    EXPECT_EQ(probe::Text(H(Form.btModeHide)), "Show");
    EXPECT_TRUE(IsWindowEnabled(H(Form.btModeHide)));
    Form.btPower.SetVisible(true);
    EXPECT_TRUE(IsWindowVisible(H(Form.btPower)));
    Form.edSerial.SetText("0123456789");
    EXPECT_EQ(probe::Text(H(Form.edSerial)), "0123456789");
    Form.memLog.Add("Serial: 0123456789");
    Form.memLog.Add("Firmware: 1.2");
    EXPECT_EQ(probe::Text(H(Form.memLog)), "Serial: 0123456789\r\nFirmware: 1.2");
    AddMode("01", "000", "Boot mode", 1);
    AddMode("02", "0A1", "CAN gateway", 0);
    HWND modes = H(Form.lvModes);
    ASSERT_EQ(probe::ListCount(modes), 2);
    EXPECT_EQ(probe::ListText(modes, 1, 1), "0A1");
    EXPECT_EQ(probe::ListText(modes, 1, 2), "CAN gateway");
    EXPECT_EQ(probe::ListStateIndex(modes, 1), 0);
    Form.pbUpdateProgress.SetPosition(37);
    EXPECT_EQ(SendMessageA(H(Form.pbUpdateProgress), PBM_GETPOS, 0, 0), 37);
    Form.cbCOM.SetItems({"COM1", "COM3"});
    Form.cbCOM.SetItemIndex(1);
    EXPECT_EQ(SendMessageA(H(Form.cbCOM), CB_GETCURSEL, 0, 0), 1);
}

TEST_F(MainWindow, LegendLaidOverTheModeListIsDrawnAboveIt) {
    Form.lvInfo.SetVisible(true);
    const TBounds& legend = Form.lvInfo.Bounds();
    POINT inside{legend.Left + legend.Width / 2, legend.Top + legend.Height / 2};
    RECT list{Form.lvModes.Left(), Form.lvModes.Top(), Form.lvModes.Left() + Form.lvModes.Width(),
              Form.lvModes.Top() + Form.lvModes.Height()};
    ASSERT_TRUE(PtInRect(&list, inside)) << "the legend no longer lies over the list";
    EXPECT_EQ(ChildWindowFromPointEx(H(Form.tsSettings), inside, CWP_SKIPINVISIBLE),
              H(Form.lvInfo));
}

TEST_F(MainWindow, ShowingTheTestPageAddsItsTab) {
    HWND tabs = H(Form.pcOptions);
    Form.tsTest.SetTabVisible(true);
    EXPECT_EQ(
        probe::TabCaptions(tabs),
        (std::vector<std::string>{"Settings", "Update", "Passthru SAE J2534", "About", "Test"}));
    probe::SelectTab(tabs, 4);
    EXPECT_EQ(Form.pcOptions.ActivePage(), &Form.tsTest);
    EXPECT_TRUE(IsWindowVisible(H(Form.btRunTest)));
    SendMessageA(H(Form.btRunTest), BM_CLICK, 0, 0);
    EXPECT_EQ(Form.Calls.back(), "btRunTestClick");
}

TEST_F(MainWindow, TabKeyOrderRunsThroughTheActivePageAndTheIdentityFields) {
    HWND form = Window.Handle();
    EXPECT_EQ(GetNextDlgTabItem(form, H(Form.cbCOM), FALSE), H(Form.btRefresh)); // "?" is off
    EXPECT_EQ(GetNextDlgTabItem(form, H(Form.edSignature), FALSE), H(Form.edSerial));
    // From the last field the order wraps into the page, not onto a hidden page.
    EXPECT_EQ(GetNextDlgTabItem(form, H(Form.edVersion), FALSE), H(Form.cbCOM));
}

TEST_F(MainWindow, PickingATabRunsPageChangeAndShowsThatPage) {
    probe::SelectTab(H(Form.pcOptions), 1);
    EXPECT_EQ(Form.pcOptions.ActivePageIndex(), 1);
    EXPECT_EQ(Form.Calls.back(), "pcOptionsChange");
    EXPECT_TRUE(IsWindowVisible(H(Form.btUpdateRun)));
    EXPECT_FALSE(IsWindowVisible(H(Form.btSearch)));
}

TEST_F(MainWindow, RealClicksReachTheirHandlers) {
    SendMessageA(H(Form.btSearch), BM_CLICK, 0, 0);
    EXPECT_EQ(Form.Calls.back(), "btSearchClick");
    SendMessageA(H(Form.btRefresh), BM_CLICK, 0, 0);
    EXPECT_EQ(Form.Calls.back(), "btRefreshClick");
    // "Show ALL" ticks itself and runs the search handler.
    SendMessageA(H(Form.cbShow), BM_CLICK, 0, 0);
    EXPECT_TRUE(Form.cbShow.Checked());
    EXPECT_TRUE(probe::Checked(H(Form.cbShow)));
    EXPECT_EQ(Form.Calls.back(), "btSearchClick");
    // A disabled button does nothing.
    size_t before = Form.Calls.size();
    SendMessageA(H(Form.btPortProp), BM_CLICK, 0, 0);
    EXPECT_EQ(Form.Calls.size(), before);

    Form.cbCOM.SetItems({"COM1", "COM3"});
    probe::SelectComboItem(H(Form.cbCOM), 1);
    EXPECT_EQ(Form.cbCOM.Text(), "COM3");
    EXPECT_EQ(Form.Calls.back(), "cbCOMClick");

    probe::SelectTab(H(Form.pcOptions), 1);
    // The selected radio button raises no click: its handler would make
    // "Do not Search" available.
    SendMessageA(H(Form.rbUploadFW), BM_CLICK, 0, 0);
    EXPECT_TRUE(probe::Checked(H(Form.rbUploadFW)));
    EXPECT_FALSE(IsWindowEnabled(H(Form.ckbNotSearch)));
    SendMessageA(H(Form.rbAddMode), BM_CLICK, 0, 0);
    EXPECT_TRUE(Form.rbAddMode.Checked());
    EXPECT_FALSE(probe::Checked(H(Form.rbUploadFW)));
    EXPECT_EQ(Form.Calls.back(), "rbAddModeClick");
}

TEST_F(MainWindow, ModeListEventsReachTheirHandlers) {
    AddMode("01", "000", "Boot mode", 1);
    AddMode("02", "0A1", "CAN gateway", 0);
    HWND modes = H(Form.lvModes);
    Form.Calls.clear();
    probe::SelectRow(modes, 1);
    EXPECT_EQ(Form.lvModes.Selected(), Form.lvModes.Item(1));
    EXPECT_EQ(Form.Calls, std::vector<std::string>{"lvModesSelectItem 02 on"});
    probe::SendListNotify(modes, LVN_COLUMNCLICK, -1, 1);
    EXPECT_EQ(Form.Calls.back(), "lvModesColumnClick 1");
    probe::SendListNotify(modes, NM_DBLCLK, 1, 0);
    EXPECT_EQ(Form.Calls.back(), "lvModesDblClick");
    SendMessageA(modes, WM_CHAR, ' ', 0);
    EXPECT_EQ(Form.Calls.back(), "lvModesKeyPress 32");
}

TEST_F(MainWindow, LinkLabelHasTheHandCursorAndReportsClicks) {
    HWND link = H(Form.lbRef);
    SendMessageA(GetParent(link), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(link), STN_CLICKED),
                 reinterpret_cast<LPARAM>(link));
    EXPECT_TRUE(Form.Calls.empty() || Form.Calls.back() != "lbRefClick")
        << "a label on a hidden page must not react";
    probe::SelectTab(H(Form.pcOptions), 3);
    SendMessageA(GetParent(link), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(link), STN_CLICKED),
                 reinterpret_cast<LPARAM>(link));
    EXPECT_EQ(Form.Calls.back(), "lbRefClick");
    SendMessageA(link, WM_SETCURSOR, reinterpret_cast<WPARAM>(link), MAKELPARAM(HTCLIENT, 0));
    EXPECT_EQ(GetCursor(), LoadCursor(nullptr, IDC_HAND));
}

} // namespace
} // namespace qvx
