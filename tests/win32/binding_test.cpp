// The binding of control objects to real controls, on a small form of its own.
#include "app/win32/win_form.h"
#include "tests/win32/win_probe.h"
#include "tests/win32/window_shot.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>

namespace qvx {
namespace {

struct TSampleForm : TForm {
    TSampleForm() : TForm("frmSample") {
        SetCaption("Sample");
        SetBounds(10, 20, 420, 300);
        Centered = false;
        pcPages.SetBounds(4, 4, 412, 260);
        tsFirst.SetCaption("First");
        tsSecond.SetCaption("Second");
        tsHidden.SetCaption("Hidden");
        tsHidden.SetTabVisible(false);
        gbFrame.SetCaption(" Frame ");
        gbFrame.SetBounds(4, 4, 200, 80);
        btInFrame.SetCaption("Inside");
        btInFrame.SetBounds(8, 20, 80, 24);
        btOff.SetCaption("Off");
        btOff.SetBounds(100, 20, 80, 24);
        btOff.SetEnabled(false);
        cbTick.SetCaption("Tick");
        cbTick.SetBounds(210, 4, 100, 20);
        rbOne.SetCaption("One");
        rbOne.SetBounds(210, 28, 80, 20);
        rbOne.SetChecked(true);
        rbTwo.SetCaption("Two");
        rbTwo.SetBounds(210, 52, 80, 20);
        lbLink.SetCaption("link");
        lbLink.SetBounds(210, 76, 100, 16);
        lbLink.HandCursor = true;
        edName.SetBounds(4, 90, 200, 21);
        edShown.SetBounds(210, 96, 100, 21);
        edShown.ReadOnly = true;
        memLog.SetBounds(4, 116, 200, 80);
        cbList.SetBounds(210, 120, 100, 21);
        cbList.SetItems({"a", "b", "c"});
        pbBar.SetBounds(4, 200, 200, 16);
        lvRows.SetBounds(4, 4, 300, 120);
        lvRows.ImageListName = "ilStates";
        lvRows.GridLines = true;
        lvRows.AddColumn("#", 40);
        lvRows.AddColumn("ID", 40);
        lvRows.AddColumn("Description", 200);
        shBox.SetBounds(4, 130, 40, 20);
        imgLogo.SetBounds(60, 130, 240, 80);
        btOutside.SetCaption("Outside");
        btOutside.SetBounds(4, 270, 80, 24);
        btOutside.SetHint("Outside the pages");
        ilStates.Name = "ilStates";
        ilStates.PictureIds = {110, 111, 112, 113};
    }
    TPageControl pcPages{"pcPages", this};
    TTabSheet tsFirst{"tsFirst", &pcPages};
    TGroupBox gbFrame{"gbFrame", &tsFirst};
    TButton btInFrame{"btInFrame", &gbFrame};
    TButton btOff{"btOff", &gbFrame};
    TCheckBox cbTick{"cbTick", &tsFirst};
    TRadioButton rbOne{"rbOne", &tsFirst};
    TRadioButton rbTwo{"rbTwo", &tsFirst};
    TLabel lbLink{"lbLink", &tsFirst};
    TEdit edName{"edName", &tsFirst};
    TEdit edShown{"edShown", &tsFirst};
    TMemo memLog{"memLog", &tsFirst};
    TComboBox cbList{"cbList", &tsFirst};
    TProgressBar pbBar{"pbBar", &tsFirst};
    TTabSheet tsSecond{"tsSecond", &pcPages};
    TListView lvRows{"lvRows", &tsSecond};
    TShape shBox{"shBox", &tsSecond};
    TImage imgLogo{"imgLogo", &tsSecond};
    TTabSheet tsHidden{"tsHidden", &pcPages};
    TButton btHidden{"btHidden", &tsHidden};
    TButton btOutside{"btOutside", this};
    TImageList ilStates;
};

class Binding : public ::testing::Test {
protected:
    Binding() : Controls(), Window(Form, {&Form.ilStates}) {
        Window.OnError = [this](const std::string& message) { Errors.push_back(message); };
        Window.Show(SW_SHOWNOACTIVATE);
        probe::Pump();
    }
    HWND H(const TControl& control) { return Window.HandleOf(control); }
    void AddRow(const std::string& caption, const std::string& id, int state) {
        TListItem* item = Form.lvRows.AddItem();
        item->Caption = caption;
        item->SubItems = {id, "mode " + id};
        item->StateIndex = state;
        Form.lvRows.ItemsChanged();
    }
    probe::TCommonControls Controls;
    TSampleForm Form;
    TWin32Form Window;
    std::vector<std::string> Errors;
};

TEST_F(Binding, WindowHasAFixedFrameWithoutMaximiseBoxAndTheFormsClientSize) {
    HWND window = Window.Handle();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(probe::Text(window), "Sample");
    LONG style = probe::Style(window);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_TRUE(style & WS_SYSMENU);
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 420);
    EXPECT_EQ(client.bottom, 300);
    RECT outer;
    GetWindowRect(window, &outer);
    EXPECT_EQ(Form.Left(), outer.left);
    EXPECT_EQ(Form.Top(), outer.top);
}

TEST_F(Binding, MovingTheWindowTellsTheForm) {
    SetWindowPos(Window.Handle(), nullptr, 37, 41, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    EXPECT_EQ(Form.Left(), 37);
    EXPECT_EQ(Form.Top(), 41);
    Form.SetBounds(50, 60, 420, 300);
    RECT outer;
    GetWindowRect(Window.Handle(), &outer);
    EXPECT_EQ(outer.left, 50);
    EXPECT_EQ(outer.top, 60);
}

TEST_F(Binding, ControlsStartInTheirObjectsStates) {
    EXPECT_EQ(probe::TabCaptions(H(Form.pcPages)), (std::vector<std::string>{"First", "Second"}));
    EXPECT_EQ(SendMessageA(H(Form.pcPages), TCM_GETCURSEL, 0, 0), 0);
    EXPECT_TRUE(IsWindowVisible(H(Form.btInFrame)));
    EXPECT_FALSE(IsWindowVisible(H(Form.lvRows))); // on the inactive page
    EXPECT_FALSE(IsWindowVisible(H(Form.btHidden)));
    EXPECT_EQ(probe::Text(H(Form.btInFrame)), "Inside");
    EXPECT_EQ(probe::Text(H(Form.gbFrame)), " Frame ");
    EXPECT_EQ(GetParent(H(Form.btInFrame)), H(Form.gbFrame));
    EXPECT_FALSE(IsWindowEnabled(H(Form.btOff)));
    EXPECT_TRUE(IsWindowEnabled(H(Form.btInFrame)));
    EXPECT_TRUE(probe::Checked(H(Form.rbOne)));
    EXPECT_FALSE(probe::Checked(H(Form.rbTwo)));
    EXPECT_FALSE(probe::Checked(H(Form.cbTick)));
    EXPECT_TRUE(probe::Style(H(Form.edShown)) & ES_READONLY);
    EXPECT_FALSE(probe::Style(H(Form.edName)) & ES_READONLY);
    EXPECT_TRUE(probe::Style(H(Form.memLog)) & ES_MULTILINE);
    EXPECT_EQ(SendMessageA(H(Form.cbList), CB_GETCOUNT, 0, 0), 3);
    EXPECT_EQ(SendMessageA(H(Form.cbList), CB_GETCURSEL, 0, 0), CB_ERR);
    HWND list = H(Form.lvRows);
    EXPECT_EQ(probe::ListColumns(list), (std::vector<std::string>{"#", "ID", "Description"}));
    EXPECT_TRUE(probe::Style(list) & LVS_REPORT);
    DWORD extended = static_cast<DWORD>(SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    EXPECT_TRUE(extended & LVS_EX_GRIDLINES);
    EXPECT_TRUE(extended & LVS_EX_FULLROWSELECT);
    HIMAGELIST states =
        reinterpret_cast<HIMAGELIST>(SendMessageA(list, LVM_GETIMAGELIST, LVSIL_STATE, 0));
    ASSERT_NE(states, nullptr);
    EXPECT_EQ(ImageList_GetImageCount(states), 4);
}

TEST_F(Binding, PropertyChangesShowInTheRealControls) {
    Form.btInFrame.SetCaption("Renamed");
    EXPECT_EQ(probe::Text(H(Form.btInFrame)), "Renamed");
    Form.btOff.SetEnabled(true);
    EXPECT_TRUE(IsWindowEnabled(H(Form.btOff)));
    Form.btInFrame.SetVisible(false);
    EXPECT_FALSE(IsWindowVisible(H(Form.btInFrame)));
    Form.edName.SetText("typed");
    EXPECT_EQ(probe::Text(H(Form.edName)), "typed");
    Form.cbTick.SetChecked(true);
    EXPECT_TRUE(probe::Checked(H(Form.cbTick)));
    Form.rbTwo.SetChecked(true);
    EXPECT_TRUE(probe::Checked(H(Form.rbTwo)));
    EXPECT_FALSE(probe::Checked(H(Form.rbOne)));
    Form.pbBar.SetPosition(42);
    EXPECT_EQ(SendMessageA(H(Form.pbBar), PBM_GETPOS, 0, 0), 42);
    Form.cbList.SetItems({"COM1", "COM2"});
    Form.cbList.SetItemIndex(1);
    EXPECT_EQ(SendMessageA(H(Form.cbList), CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(SendMessageA(H(Form.cbList), CB_GETCURSEL, 0, 0), 1);
    Form.btOutside.SetBounds(100, 270, 90, 24);
    RECT box;
    GetWindowRect(H(Form.btOutside), &box);
    EXPECT_EQ(box.right - box.left, 90);
    Form.SetCaption("Title");
    EXPECT_EQ(probe::Text(Window.Handle()), "Title");
}

TEST_F(Binding, MemoShowsItsLinesJoinedByCrLfAndFollowsEveryChange) {
    Form.memLog.Add("first");
    Form.memLog.Add("second");
    EXPECT_EQ(probe::Text(H(Form.memLog)), "first\r\nsecond");
    Form.memLog.SetLine(0, "changed");
    EXPECT_EQ(probe::Text(H(Form.memLog)), "changed\r\nsecond");
    Form.memLog.Clear();
    EXPECT_EQ(probe::Text(H(Form.memLog)), "");
    Form.memLog.Add("again");
    EXPECT_EQ(probe::Text(H(Form.memLog)), "again");
}

TEST_F(Binding, LongLogsAndBytesAfterANulAreShownWhole) {
    const std::string line(999, 'x'); // 1001 characters with CR LF, 40K in all
    for (int i = 0; i < 40; ++i)
        Form.memLog.Add(line);
    EXPECT_EQ(GetWindowTextLengthA(H(Form.memLog)), 40 * 1001 - 2);
    Form.memLog.SetLines({std::string("before\0after", 12)});
    EXPECT_EQ(probe::Text(H(Form.memLog)), "before after");
    Form.edName.SetText(std::string("a\0b", 3));
    EXPECT_EQ(probe::Text(H(Form.edName)), "a b");
    TListItem* row = Form.lvRows.AddItem();
    row->Caption = std::string("0\0"
                               "1",
                               3);
    row->SubItems = {std::string("x\0y", 3)};
    Form.lvRows.ItemsChanged();
    EXPECT_EQ(probe::ListText(H(Form.lvRows), 0, 0), "0 1");
    EXPECT_EQ(probe::ListText(H(Form.lvRows), 0, 1), "x y");
}

TEST_F(Binding, ListRowsFollowTheObjectsOrderAndSelection) {
    AddRow("02", "B", 1);
    AddRow("01", "A", 0);
    AddRow("03", "C", -1);
    HWND list = H(Form.lvRows);
    ASSERT_EQ(probe::ListCount(list), 3);
    EXPECT_EQ(probe::ListText(list, 0, 0), "02");
    EXPECT_EQ(probe::ListText(list, 0, 1), "B");
    EXPECT_EQ(probe::ListText(list, 0, 2), "mode B");
    EXPECT_EQ(probe::ListStateIndex(list, 0), 1);
    EXPECT_EQ(probe::ListStateIndex(list, 1), 0);
    EXPECT_EQ(probe::ListStateIndex(list, 2), -1);
    Form.lvRows.SetSelected(Form.lvRows.Item(2));
    EXPECT_EQ(probe::ListSelected(list), 2);
    Form.lvRows.AlphaSort();
    EXPECT_EQ(probe::ListText(list, 0, 1), "A");
    EXPECT_EQ(probe::ListText(list, 2, 1), "C");
    EXPECT_EQ(probe::ListSelected(list), 2); // the selected row moved with its item
    Form.lvRows.DeleteItem(Form.lvRows.Item(0));
    EXPECT_EQ(probe::ListCount(list), 2);
    Form.lvRows.Clear();
    EXPECT_EQ(probe::ListCount(list), 0);
}

// The real list is brought in step with only the rows that differ: after
// each kind of change it shows exactly the object's rows.
TEST_F(Binding, ListRowsFollowChangesAnywhereInTheList) {
    HWND list = H(Form.lvRows);
    auto expectShown = [&](const char* step) {
        ASSERT_EQ(probe::ListCount(list), static_cast<int>(Form.lvRows.Count())) << step;
        for (size_t i = 0; i < Form.lvRows.Count(); ++i) {
            const TListItem& item = *Form.lvRows.Item(i);
            const int row = static_cast<int>(i);
            EXPECT_EQ(probe::ListText(list, row, 0), item.Caption) << step;
            for (size_t s = 0; s < 2; ++s)
                EXPECT_EQ(probe::ListText(list, row, static_cast<int>(s + 1)),
                          s < item.SubItems.size() ? item.SubItems[s] : "")
                    << step << " row " << i;
            EXPECT_EQ(probe::ListStateIndex(list, row), item.StateIndex) << step << " row " << i;
        }
    };
    for (const char* id : {"E", "A", "D", "B", "C"})
        AddRow(std::string("0") + id, id, -1);
    Form.lvRows.AlphaSort(); // A B C D E
    expectShown("sorted");
    AddRow("0BB", "BB", 2);
    Form.lvRows.AlphaSort(); // a row in the middle: A B BB C D E
    expectShown("inserted");
    Form.lvRows.Item(3)->StateIndex = 0;
    Form.lvRows.Item(4)->SubItems = {"D2"};
    Form.lvRows.Item(1)->Caption = "0Z";
    Form.lvRows.ItemsChanged();
    expectShown("changed");
    Form.lvRows.DeleteItem(Form.lvRows.Item(2));
    expectShown("deleted");
    Form.lvRows.AlphaSort();
    expectShown("sorted again");
}

TEST_F(Binding, ShowingAHiddenTabAddsItAndPagesFollowTheActivePage) {
    HWND tabs = H(Form.pcPages);
    Form.tsHidden.SetTabVisible(true);
    EXPECT_EQ(probe::TabCaptions(tabs), (std::vector<std::string>{"First", "Second", "Hidden"}));
    Form.pcPages.SetActivePage(&Form.tsHidden);
    EXPECT_EQ(SendMessageA(tabs, TCM_GETCURSEL, 0, 0), 2);
    EXPECT_TRUE(IsWindowVisible(H(Form.btHidden)));
    EXPECT_FALSE(IsWindowVisible(H(Form.btInFrame)));
    Form.tsSecond.SetTabVisible(false);
    EXPECT_EQ(probe::TabCaptions(tabs), (std::vector<std::string>{"First", "Hidden"}));
    EXPECT_EQ(SendMessageA(tabs, TCM_GETCURSEL, 0, 0), 1); // still the active page's tab
    Form.tsHidden.SetCaption("Shown");
    EXPECT_EQ(probe::TabCaptions(tabs), (std::vector<std::string>{"First", "Shown"}));
    // Tabs that come and go anywhere in the row; only the row is redrawn,
    // not the page under it.
    probe::Pump();
    ValidateRect(tabs, nullptr);
    Form.tsFirst.SetTabVisible(false);
    Form.tsSecond.SetTabVisible(true);
    Form.tsFirst.SetTabVisible(true);
    EXPECT_EQ(probe::TabCaptions(tabs), (std::vector<std::string>{"First", "Second", "Shown"}));
    EXPECT_EQ(SendMessageA(tabs, TCM_GETCURSEL, 0, 0), 2);
    RECT page, redrawn;
    GetClientRect(tabs, &page);
    TabCtrl_AdjustRect(tabs, FALSE, &page);
    ASSERT_TRUE(GetUpdateRect(tabs, &redrawn, FALSE));
    EXPECT_LT(redrawn.bottom, page.top + 8);
}

TEST_F(Binding, PickingATabSelectsItsPageWithHiddenTabsSkipped) {
    Form.tsSecond.SetTabVisible(false);
    Form.tsHidden.SetTabVisible(true);
    int changes = 0;
    Form.pcPages.OnChange = [&] { ++changes; };
    probe::SelectTab(H(Form.pcPages), 1); // the second tab is the third page now
    EXPECT_EQ(Form.pcPages.ActivePage(), &Form.tsHidden);
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(IsWindowVisible(H(Form.btHidden)));
    EXPECT_FALSE(IsWindowVisible(H(Form.tsFirst)));
}

TEST_F(Binding, RealClicksReachTheObjects) {
    int clicks = 0;
    Form.btInFrame.OnClick = [&] { ++clicks; };
    SendMessageA(H(Form.btInFrame), BM_CLICK, 0, 0);
    EXPECT_EQ(clicks, 1);

    int ticks = 0;
    Form.cbTick.OnClick = [&] { ++ticks; };
    SendMessageA(H(Form.cbTick), BM_CLICK, 0, 0);
    EXPECT_TRUE(Form.cbTick.Checked());
    EXPECT_TRUE(probe::Checked(H(Form.cbTick)));
    EXPECT_EQ(ticks, 1);

    SendMessageA(H(Form.rbTwo), BM_CLICK, 0, 0);
    EXPECT_TRUE(Form.rbTwo.Checked());
    EXPECT_FALSE(Form.rbOne.Checked());
    EXPECT_FALSE(probe::Checked(H(Form.rbOne)));

    int outside = 0;
    Form.btOutside.OnClick = [&] { ++outside; };
    SendMessageA(H(Form.btOutside), BM_CLICK, 0, 0);
    EXPECT_EQ(outside, 1);
}

TEST_F(Binding, ClickOnAControlOfAnInactivePageIsRefusedByItsObject) {
    // The real check box stays as the object says when the object refuses.
    Form.pcPages.SetActivePage(&Form.tsSecond);
    SendMessageA(GetParent(H(Form.cbTick)), WM_COMMAND, MAKEWPARAM(0, BN_CLICKED),
                 reinterpret_cast<LPARAM>(H(Form.cbTick)));
    EXPECT_FALSE(Form.cbTick.Checked());
    EXPECT_FALSE(probe::Checked(H(Form.cbTick)));
}

TEST_F(Binding, TypingAndChoosingReachTheObjects) {
    int changes = 0;
    Form.edName.OnChange = [&] { ++changes; };
    SetWindowTextA(H(Form.edName), "user text");
    EXPECT_EQ(Form.edName.Text(), "user text");
    EXPECT_EQ(changes, 1);

    int picks = 0;
    Form.cbList.OnChange = [&] { ++picks; };
    probe::SelectComboItem(H(Form.cbList), 2);
    EXPECT_EQ(Form.cbList.ItemIndex(), 2);
    EXPECT_EQ(picks, 1);
}

TEST_F(Binding, ListEventsReachTheObject) {
    AddRow("01", "A", 0);
    AddRow("02", "B", 1);
    Form.pcPages.SetActivePage(&Form.tsSecond);
    HWND list = H(Form.lvRows);
    std::vector<std::pair<TListItem*, bool>> selections;
    Form.lvRows.OnSelectItem = [&](TListItem* item, bool selected) {
        selections.emplace_back(item, selected);
    };
    probe::SelectRow(list, 1);
    EXPECT_EQ(Form.lvRows.Selected(), Form.lvRows.Item(1));
    probe::SelectRow(list, 0);
    EXPECT_EQ(Form.lvRows.Selected(), Form.lvRows.Item(0));
    ASSERT_EQ(selections.size(), 3u);
    EXPECT_EQ(selections[1], std::make_pair(Form.lvRows.Item(1), false));
    EXPECT_EQ(selections[2], std::make_pair(Form.lvRows.Item(0), true));

    int column = -1, doubles = 0, ups = 0;
    std::vector<char> keys;
    Form.lvRows.OnColumnClick = [&](int c) { column = c; };
    Form.lvRows.OnDblClick = [&] { ++doubles; };
    Form.lvRows.OnMouseUp = [&](int, int, int) { ++ups; };
    Form.lvRows.OnKeyPress = [&](char& key) { keys.push_back(key); };
    probe::SendListNotify(list, LVN_COLUMNCLICK, -1, 2);
    probe::SendListNotify(list, NM_DBLCLK, 0, 0);
    probe::SendListNotify(list, NM_CLICK, 0, 0);
    SendMessageA(list, WM_CHAR, 13, 0);
    EXPECT_EQ(column, 2);
    EXPECT_EQ(doubles, 1);
    EXPECT_EQ(ups, 1);
    EXPECT_EQ(keys, std::vector<char>{13});
}

TEST_F(Binding, LabelReportsClicksAndTheMouseEntering) {
    int clicks = 0, enters = 0;
    Form.lbLink.OnClick = [&] { ++clicks; };
    Form.lbLink.OnMouseEnter = [&] { ++enters; };
    HWND label = H(Form.lbLink);
    EXPECT_TRUE(probe::Style(label) & SS_NOTIFY);
    SendMessageA(label, WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
    SendMessageA(label, WM_MOUSEMOVE, 0, MAKELPARAM(3, 2));
    EXPECT_EQ(enters, 1); // once per entry, not per move
    SendMessageA(GetParent(label), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(label), STN_CLICKED),
                 reinterpret_cast<LPARAM>(label));
    EXPECT_EQ(clicks, 1);
}

TEST_F(Binding, AnErrorEscapingAHandlerIsReportedAndTheWindowLives) {
    Form.btInFrame.OnClick = [] { throw std::runtime_error("handler failed"); };
    SendMessageA(H(Form.btInFrame), BM_CLICK, 0, 0);
    EXPECT_EQ(Errors, std::vector<std::string>{"handler failed"});
    EXPECT_TRUE(IsWindow(Window.Handle()));
}

TEST_F(Binding, ClosingRunsOnCloseAndLaterChangesGoNowhere) {
    int closes = 0;
    Form.OnClose = [&] { ++closes; };
    HWND window = Window.Handle();
    SendMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(Window.Handle(), nullptr);
    Form.btInFrame.SetCaption("after close"); // must not touch a destroyed window
    EXPECT_EQ(Form.btInFrame.AttachedPeer(), nullptr);
}

TEST_F(Binding, ACloseQueryAnsweringFalseKeepsTheWindow) {
    int closes = 0;
    bool allow = false;
    Form.OnCloseQuery = [&] { return allow; };
    Form.OnClose = [&] { ++closes; };
    HWND window = Window.Handle();
    SendMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(closes, 0);
    EXPECT_TRUE(IsWindow(window));
    allow = true;
    SendMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(IsWindow(window));
}

// A place saved on a monitor that is gone: the first show moves the window
// onto the work area of the nearest monitor, and the form knows where.
TEST(BindingPlace, APlaceOffEveryMonitorMovesOntoTheNearestWorkArea) {
    probe::TCommonControls controls;
    TSampleForm form;
    form.OnShow = [&form] { form.SetBounds(-5000, 9000, form.Width(), form.Height()); };
    TWin32Form window(form, {&form.ilStates});
    window.Show(SW_SHOWNOACTIVATE);
    probe::Pump();
    RECT outer;
    GetWindowRect(window.Handle(), &outer);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    ASSERT_TRUE(GetMonitorInfoA(MonitorFromRect(&outer, MONITOR_DEFAULTTONEAREST), &monitor));
    EXPECT_GE(outer.left, monitor.rcWork.left);
    EXPECT_GE(outer.top, monitor.rcWork.top);
    EXPECT_LE(outer.right, monitor.rcWork.right);
    EXPECT_LE(outer.bottom, monitor.rcWork.bottom);
    EXPECT_EQ(form.Left(), outer.left);
    EXPECT_EQ(form.Top(), outer.top);
}

TEST_F(Binding, EveryPageOfTheSamplePaintsItsControls) {
    AddRow("01", "A", 0);
    AddRow("02", "B", 1);
    AddRow("03", "C", 2);
    AddRow("04", "D", 3);
    Form.memLog.Add("a line of the log");
    Form.pbBar.SetPosition(60);
    for (int page = 0; page < 2; ++page) {
        Form.pcPages.SetActivePageIndex(page);
        probe::TShot shot = probe::Capture(Window.Handle());
        EXPECT_EQ(shot.Width, 420);
        EXPECT_GT(probe::ColourCount(shot), 8u) << "page " << page << " looks blank";
        std::string path = probe::ShotDir() + "/sample_page" + std::to_string(page) + ".png";
        EXPECT_TRUE(png::Write(path, shot.Width, shot.Height, shot.Rgb)) << path;
    }
}

// What a window shows now, read back without drawing it again.
std::vector<uint8_t> OnScreen(HWND window) {
    GdiFlush();
    RECT client;
    GetClientRect(window, &client);
    std::vector<uint8_t> rgb;
    HDC dc = GetDC(window);
    png::CopyPixels(dc, 0, 0, client.right, client.bottom, rgb);
    ReleaseDC(window, dc);
    return rgb;
}

// A button enabled or disabled, a shown log given many lines, a shown list
// given its rows, a selection and a scroll position: once the window has
// painted, each shows what a fresh drawing of it shows, and the log and the
// list stay shown, scrolled and focused.
TEST_F(Binding, ChangedControlsShowTheirChangeWithTheNextPaint) {
    HWND button = H(Form.btInFrame);
    const std::vector<uint8_t> enabled = OnScreen(button);
    Form.btInFrame.SetEnabled(false);
    EXPECT_TRUE(GetUpdateRect(button, nullptr, FALSE));
    probe::Pump();
    EXPECT_NE(OnScreen(button), enabled);
    EXPECT_EQ(OnScreen(button), probe::Capture(button).Rgb);

    HWND memo = H(Form.memLog);
    SetFocus(memo);
    ASSERT_EQ(GetFocus(), memo);
    std::vector<std::string> lines;
    for (int i = 0; i < 60; ++i)
        lines.push_back("line " + std::to_string(i));
    Form.memLog.SetLines(lines);
    EXPECT_TRUE(IsWindowVisible(memo));
    EXPECT_EQ(GetFocus(), memo);
    EXPECT_GT(SendMessageA(memo, EM_GETFIRSTVISIBLELINE, 0, 0), 40);
    SetFocus(H(Form.edName)); // no caret blinking in the log
    probe::Pump();
    EXPECT_EQ(OnScreen(memo), probe::Capture(memo).Rgb);

    Form.pcPages.SetActivePage(&Form.tsSecond);
    probe::Pump();
    HWND list = H(Form.lvRows);
    SetFocus(list);
    ASSERT_EQ(GetFocus(), list);
    Form.lvRows.BeginUpdate();
    for (int i = 0; i < 40; ++i)
        AddRow(std::to_string(10 + i), std::to_string(i), i % 4);
    Form.lvRows.SetSelected(Form.lvRows.Item(35));
    Form.lvRows.MakeVisible(Form.lvRows.Item(35));
    EXPECT_EQ(probe::ListCount(list), 0);
    Form.lvRows.EndUpdate();
    EXPECT_EQ(probe::ListCount(list), 40);
    EXPECT_EQ(probe::ListSelected(list), 35);
    EXPECT_TRUE(IsWindowVisible(list));
    EXPECT_EQ(GetFocus(), list);
    const int top = ListView_GetTopIndex(list);
    EXPECT_GT(top, 0);
    EXPECT_LE(top, 35);
    EXPECT_GT(top + ListView_GetCountPerPage(list), 35);
    probe::Pump();
    EXPECT_EQ(OnScreen(list), probe::Capture(list).Rgb);
    // Back to the top: a selection and a scroll, without an update.
    Form.lvRows.SetSelected(Form.lvRows.Item(0));
    Form.lvRows.MakeVisible(Form.lvRows.Item(0));
    EXPECT_EQ(ListView_GetTopIndex(list), 0);
    EXPECT_EQ(GetFocus(), list);
    probe::Pump();
    EXPECT_EQ(OnScreen(list), probe::Capture(list).Rgb);
    EXPECT_TRUE(Errors.empty());
}

} // namespace
} // namespace qvx

namespace qvx {
namespace {

using probe::FontOf;

struct TTooltipSearch {
    HWND Owner;
    HWND Found;
};

BOOL CALLBACK FindTooltip(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<TTooltipSearch*>(data);
    char name[64] = {};
    GetClassNameA(window, name, sizeof(name));
    if (lstrcmpiA(name, TOOLTIPS_CLASSA) == 0 && GetWindow(window, GW_OWNER) == search->Owner) {
        search->Found = window;
        return FALSE;
    }
    return TRUE;
}

// The tooltip window that the binding created for its form.
HWND TooltipOf(HWND form) {
    TTooltipSearch search{form, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), FindTooltip, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

std::string TipOf(HWND tooltip, HWND form, HWND control) {
    char text[256] = {};
    TTTOOLINFOA tool{};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    tool.hwnd = form;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = text;
    SendMessageA(tooltip, TTM_GETTEXTA, sizeof(text), reinterpret_cast<LPARAM>(&tool));
    return text;
}

TEST_F(Binding, FontsFollowTheObjectsAndHoverChangesReachTheLabel) {
    HWND label = H(Form.lbLink);
    LOGFONTA plain = FontOf(label);
    EXPECT_FALSE(plain.lfUnderline);
    EXPECT_EQ(plain.lfWeight, FW_NORMAL);
    TFont hover;
    hover.Bold = true;
    hover.Italic = true;
    hover.Underline = true;
    Form.lbLink.OnMouseEnter = [&] { Form.lbLink.SetFont(hover); };
    Form.lbLink.OnMouseLeave = [&] { Form.lbLink.SetFont(TFont{}); };
    SendMessageA(label, WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
    LOGFONTA over = FontOf(label);
    EXPECT_TRUE(over.lfUnderline);
    EXPECT_TRUE(over.lfItalic);
    EXPECT_EQ(over.lfWeight, FW_BOLD);
    EXPECT_EQ(over.lfHeight, plain.lfHeight);
    SendMessageA(label, WM_MOUSELEAVE, 0, 0);
    EXPECT_FALSE(FontOf(label).lfUnderline);

    TFont big;
    big.Size = 14;
    big.FixedPitch = true;
    Form.edName.SetFont(big);
    LOGFONTA fixed = FontOf(H(Form.edName));
    EXPECT_LT(fixed.lfHeight, plain.lfHeight); // negative heights: larger is more negative
    EXPECT_EQ(fixed.lfPitchAndFamily & 3, FIXED_PITCH);
}

TEST_F(Binding, HintsAreTooltipsOfTheirControls) {
    HWND tooltip = TooltipOf(Window.Handle());
    ASSERT_NE(tooltip, nullptr);
    EXPECT_EQ(TipOf(tooltip, Window.Handle(), H(Form.btOutside)), "Outside the pages");
    Form.btOutside.SetHint("Changed hint");
    EXPECT_EQ(TipOf(tooltip, Window.Handle(), H(Form.btOutside)), "Changed hint");
    Form.btInFrame.SetHint("Inner");
    EXPECT_EQ(TipOf(tooltip, Window.Handle(), H(Form.btInFrame)), "Inner");
    Form.btOutside.SetHint("");
    EXPECT_EQ(TipOf(tooltip, Window.Handle(), H(Form.btOutside)), "");
}

TEST_F(Binding, ShapesPaintTheirBrushColour) {
    Form.pcPages.SetActivePage(&Form.tsSecond);
    Form.shBox.SetBrushColor(clRed);
    Form.shBox.SetShape(TShapeType::Circle);
    probe::TShot shot = probe::Capture(Window.Handle());
    POINT centre{Form.shBox.Left() + Form.shBox.Width() / 2,
                 Form.shBox.Top() + Form.shBox.Height() / 2};
    MapWindowPoints(H(Form.tsSecond), Window.Handle(), &centre, 1);
    size_t at = (static_cast<size_t>(centre.y) * static_cast<size_t>(shot.Width) +
                 static_cast<size_t>(centre.x)) *
                3;
    ASSERT_LT(at + 2, shot.Rgb.size());
    EXPECT_EQ(shot.Rgb[at], 255);
    EXPECT_EQ(shot.Rgb[at + 1], 0);
    EXPECT_EQ(shot.Rgb[at + 2], 0);
}

// The form's start-up may find a saved position: then the window is not centred.
TEST(BindingStart, CreateAndShowRunOnceAndCentringFollowsStartUp) {
    probe::TCommonControls controls;
    for (bool saved : {false, true}) {
        TSampleForm form;
        form.Centered = true;
        std::vector<std::string> calls;
        form.OnCreate = [&] {
            calls.push_back("create");
            if (saved) {
                form.Centered = false;
                form.SetBounds(33, 44, form.Width(), form.Height());
            }
        };
        form.OnShow = [&] { calls.push_back("show"); };
        TWin32Form window(form);
        EXPECT_TRUE(calls.empty()); // nothing runs before the window is shown
        window.Show(SW_SHOWNOACTIVATE);
        window.Show(SW_SHOWNOACTIVATE);
        EXPECT_EQ(calls, (std::vector<std::string>{"create", "show"}));
        RECT outer, work;
        GetWindowRect(window.Handle(), &outer);
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
        if (saved) {
            EXPECT_EQ(outer.left, 33);
            EXPECT_EQ(outer.top, 44);
        } else {
            EXPECT_LE(std::abs(outer.left + outer.right - work.left - work.right), 1);
            EXPECT_LE(std::abs(outer.top + outer.bottom - work.top - work.bottom), 1);
        }
        EXPECT_EQ(form.Left(), outer.left);
    }
}

} // namespace
} // namespace qvx
