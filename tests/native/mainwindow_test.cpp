#include "app/Unitmain.h"
#include "app/resource_ids.h"
#include "platform/memory/fake_libraries.h"
#include "platform/memory/manual_timers.h"
#include "platform/memory/memory_files.h"
#include "platform/memory/memory_registry.h"
#include "platform/memory/scripted_userio.h"
#include "platform/memory/static_version.h"
#include "sim/sim_config.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace qvx {
namespace {

// The main window with every handler recording its name (and arguments).
class TRecordingMain : public TfrmMain {
public:
    using TfrmMain::TfrmMain;
    std::vector<std::string> Calls;

#define RECORD(name)                                                                               \
    void name() override {                                                                         \
        Calls.push_back(#name);                                                                    \
    }
    RECORD(FormCreate)
    RECORD(FormShow)
    RECORD(FormClose)
    RECORD(pcOptionsChange)
    RECORD(cbPowerClick)
    RECORD(cbCOMClick)
    RECORD(btPortPropClick)
    RECORD(btRefreshClick)
    RECORD(btSearchClick)
    RECORD(lvModesDblClick)
    RECORD(btModeSelectClick)
    RECORD(btModeHideClick)
    RECORD(btModeFileClick)
    RECORD(btModeRunClick)
    RECORD(btModeFileDelClick)
    RECORD(btCopyClick)
    RECORD(edFW_FileChange)
    RECORD(btFW_FileClick)
    RECORD(rbUploadFWClick)
    RECORD(rbAddModeClick)
    RECORD(ckbNotSearchClick)
    RECORD(btUpdateRunClick)
    RECORD(btResetClick)
    RECORD(cbJ2534_DevicesChange)
    RECORD(btJ2534_RefreshClick)
    RECORD(btJ2534_ConfigClick)
    RECORD(btJ2534_LoadClick)
    RECORD(btJ2534_OpenClick)
    RECORD(btJ2534_VersionClick)
    RECORD(btJ2534_InfoClick)
    RECORD(memJ2534Change)
    RECORD(btJ2534_CopyClick)
    RECORD(btJ2534_Version_CheckClick)
    RECORD(btJ2534_InstallClick)
    RECORD(lbRefMouseEnter)
    RECORD(lbMailMouseEnter)
    RECORD(lbRefMouseLeave)
    RECORD(lbMailMouseLeave)
    RECORD(lbRefClick)
    RECORD(lbMailClick)
    RECORD(btRunTestClick)
    RECORD(memLogTestChange)
    RECORD(btCopyTestClick)
    RECORD(tmrSearchTimer)
    RECORD(tmrRefreshTimer)
#undef RECORD

    bool FormCloseQuery() override {
        Calls.push_back("FormCloseQuery");
        return true;
    }
    void lvModesColumnClick(int column) override {
        Calls.push_back("lvModesColumnClick " + std::to_string(column));
    }
    void lvModesCompare(TListItem* a, TListItem* b, int data, int& compare) override {
        Calls.push_back("lvModesCompare " + std::to_string(data));
        compare = b->Caption.compare(a->Caption); // descending, so the order shows it ran
    }
    void lvModesKeyPress(char& key) override {
        Calls.push_back(std::string("lvModesKeyPress ") + key);
    }
    void lvModesMouseUp(int button, int x, int y) override {
        Calls.push_back("lvModesMouseUp " + std::to_string(button) + " " + std::to_string(x) + " " +
                        std::to_string(y));
    }
    void lvModesSelectItem(TListItem* item, bool selected) override {
        Calls.push_back("lvModesSelectItem " + item->Caption + (selected ? " 1" : " 0"));
    }
};

class MainWindow : public ::testing::Test {
protected:
    TMemoryRegistry Registry;
    TFakeLibraries Libraries;
    TScriptedUserIo UserIo;
    TMemoryFiles Files;
    TStaticVersion Version;
    TManualTimers Timers;
    TPlatform Platform{Registry, Libraries, UserIo, Files, Version, Timers};
    TRecordingMain Form{Platform};

    TControl& Control(const std::string& name) {
        TControl* control = Form.FindControl(name);
        if (!control)
            ADD_FAILURE() << "no control " << name;
        return control ? *control : Form;
    }

    // Makes a control reachable for the user: shown and enabled up to the form,
    // its page the active one.
    void Reach(TControl& control) {
        for (TControl* c = &control; c && c != &Form; c = c->Parent()) {
            c->SetEnabled(true);
            c->SetVisible(true);
            if (c->Kind() == TControlKind::TabSheet) {
                auto* page = static_cast<TTabSheet*>(c);
                page->SetTabVisible(true);
                page->PageControl()->SetActivePage(page);
            }
        }
    }
};

TEST_F(MainWindow, FormIsAFixedCentredWindowWithItsResourceCaption) {
    EXPECT_EQ(Form.Name(), "frmMain");
    EXPECT_EQ(Form.Caption(), "Name...");
    EXPECT_FALSE(Form.Sizeable);
    EXPECT_FALSE(Form.MaximizeBox);
    EXPECT_TRUE(Form.Centered);
    EXPECT_EQ(&Form.Platform.Timers, &Timers);
}

TEST_F(MainWindow, PagesInOrderWithTestHiddenAndSettingsActive) {
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"tsSettings", "Settings"},
        {"Update", "Update"},
        {"J2534", "Passthru SAE J2534"},
        {"About", "About"},
        {"tsTest", "Test"}};
    const auto& pages = Form.pcOptions.Pages();
    ASSERT_EQ(pages.size(), expected.size());
    for (size_t i = 0; i < pages.size(); ++i) {
        EXPECT_EQ(pages[i]->Name(), expected[i].first);
        EXPECT_EQ(pages[i]->Caption(), expected[i].second);
        EXPECT_EQ(pages[i]->TabVisible(), pages[i]->Name() != "tsTest") << pages[i]->Name();
    }
    EXPECT_EQ(Form.pcOptions.ActivePage(), &Form.tsSettings);
    EXPECT_TRUE(Form.btSearch.Showing());
    EXPECT_FALSE(Form.btRunTest.Showing());
}

// One control as the window starts: where it sits, what it shows and whether
// the user can reach it. Checked: 0 or 1 for check boxes and radio buttons.
struct TExpect {
    const char* Name;
    TControlKind Kind;
    const char* Parent;
    const char* Caption;
    bool Enabled;
    bool Visible;
    int Checked = -1;
    const char* Hint = "";
};

constexpr bool on = true, off = false, shown = true, hidden = false;
using K = TControlKind;

const TExpect kControls[] = {
    // Identity and power, below the page control.
    {"lbSignature", K::Label, "frmMain", "Signature:", on, shown},
    {"edSignature", K::Edit, "frmMain", "", on, shown},
    {"lbSerial", K::Label, "frmMain", "Serial Number:", on, shown},
    {"edSerial", K::Edit, "frmMain", "", on, shown},
    {"lbCopyRight", K::Label, "frmMain", "Copyright:", on, shown},
    {"edCopyRight", K::Edit, "frmMain", "", on, shown},
    {"lbHardware", K::Label, "frmMain", "Hardware:", on, shown},
    {"edHardware", K::Edit, "frmMain", "", on, shown},
    {"lbBootVer", K::Label, "frmMain", "Bootware:", on, shown},
    {"edBootVer", K::Edit, "frmMain", "", on, shown},
    {"lbVersionFw", K::Label, "frmMain", "Firmware:", on, shown},
    {"edVersion", K::Edit, "frmMain", "", on, shown},
    {"cbPower", K::CheckBox, "frmMain", "Ext. Power:", off, hidden, 0},
    {"edPower", K::Edit, "frmMain", "", on, hidden},
    {"lbPower", K::Label, "frmMain", "V", on, hidden},
    {"btPower", K::Button, "frmMain", "Read", on, hidden},
    {"pcOptions", K::PageControl, "frmMain", "", on, shown},
    // Settings page.
    {"cbCOM", K::ComboBox, "tsSettings", "", on, shown, -1, "Ports List"},
    {"btPortProp", K::Button, "tsSettings", "?", off, shown, -1, "Property"},
    {"btRefresh", K::Button, "tsSettings", "Refresh", on, shown, -1, "Refresh USB-Ports"},
    {"btSearch", K::Button, "tsSettings", "Search", on, shown},
    {"cbShow", K::CheckBox, "tsSettings", "Show ALL", on, shown, 0},
    {"lvModes", K::ListView, "tsSettings", "", on, shown},
    {"lvInfo", K::ListView, "tsSettings", "", off, hidden},
    {"btModeSelect", K::Button, "tsSettings", "Select", off, shown},
    {"btModeHide", K::Button, "tsSettings", "Hide", off, shown},
    {"edModeRun", K::Edit, "tsSettings", "", off, shown},
    {"btModeFile", K::Button, "tsSettings", "...", off, shown},
    {"btModeRun", K::Button, "tsSettings", "Run", off, shown},
    {"btModeFileDel", K::Button, "tsSettings", "X", off, shown},
    {"memLog", K::Memo, "tsSettings", "", on, shown},
    {"btCopy", K::Button, "tsSettings", "Copy to Buffer", off, shown},
    // Update page.
    {"gbUpdate", K::GroupBox, "Update", "", on, shown},
    {"rbUploadFW", K::RadioButton, "gbUpdate", "Upload New Firmware", on, shown, 1},
    {"rbAddMode", K::RadioButton, "gbUpdate", "Repair", on, shown, 0},
    {"ckbNotSearch", K::CheckBox, "gbUpdate", "Do not Search", off, shown, 0},
    {"ckbWait", K::CheckBox, "gbUpdate", "Wait", off, shown, 1},
    {"btReset", K::Button, "gbUpdate", "Reset", on, shown},
    {"Label5", K::Label, "gbUpdate", "File:", on, shown},
    {"edFW_File", K::Edit, "gbUpdate", "", on, shown},
    {"btFW_File", K::Button, "gbUpdate", "...", on, shown},
    {"btUpdateRun", K::Button, "gbUpdate", "Run", off, shown},
    {"edUpdateSatus", K::Edit, "gbUpdate", "", on, shown},
    {"pbUpdateProgress", K::ProgressBar, "gbUpdate", "", on, shown},
    {"memUpdate", K::Memo, "gbUpdate", "", on, shown},
    // Passthru SAE J2534 page.
    {"GroupBox_Devices", K::GroupBox, "J2534", " Devices ", on, shown},
    {"lbJ2534_Device", K::Label, "GroupBox_Devices", "Device:", on, shown},
    {"cbJ2534_Devices", K::ComboBox, "GroupBox_Devices", "", on, shown},
    {"btJ2534_Refresh", K::Button, "GroupBox_Devices", "Refresh", on, shown},
    {"lbJ2534_Config", K::Label, "GroupBox_Devices", "Config:", on, shown},
    {"edJ2534_Config", K::Edit, "GroupBox_Devices", "", on, shown},
    {"btJ2534_Config", K::Button, "GroupBox_Devices", "Config", off, shown},
    {"lbJ2534_DLL", K::Label, "GroupBox_Devices", "DLL:", on, shown},
    {"edJ2534_DLL", K::Edit, "GroupBox_Devices", "", on, shown},
    {"btJ2534_Load", K::Button, "J2534", "Load", off, shown},
    {"btJ2534_Open", K::Button, "J2534", "Open", off, shown},
    {"btJ2534_Version", K::Button, "J2534", "Version", off, shown},
    {"btJ2534_Info", K::Button, "J2534", "Read Info", off, shown},
    {"btJ2534_Copy", K::Button, "J2534", "Copy to Buffer", off, shown},
    {"memJ2534", K::Memo, "J2534", "", on, shown},
    {"GroupBox_Driver", K::GroupBox, "J2534", " Driver ", on, shown},
    {"btJ2534_Version_Check", K::Button, "GroupBox_Driver", "Check Version", on, shown},
    {"edJ2534_Version_DLL", K::Edit, "GroupBox_Driver", "", on, shown},
    {"shJ2534_Version_DLL", K::Shape, "GroupBox_Driver", "", on, hidden},
    {"lbJ2534_Message", K::Label, "GroupBox_Driver", "- Update is required ->", on, hidden},
    {"btJ2534_Install", K::Button, "GroupBox_Driver", "Install Driver", off, shown},
    {"shJ2534_Install", K::Shape, "GroupBox_Driver", "", on, hidden},
    {"pbJ2534_Install", K::ProgressBar, "GroupBox_Driver", "", on, hidden},
    // About page.
    {"GroupBox_About", K::GroupBox, "About", "", on, shown},
    {"imgLogo_QVX", K::Image, "GroupBox_About", "", on, shown},
    {"lbName", K::Label, "GroupBox_About", "Name", on, shown},
    {"lbVersion", K::Label, "GroupBox_About", "Version ", on, shown},
    {"lbCopy", K::Label, "GroupBox_About", "Copyright", on, shown},
    {"lbVisit", K::Label, "GroupBox_About", "To visit our web-site click here :", on, shown},
    {"lbRef", K::Label, "GroupBox_About", "www", on, shown},
    {"lbPurchase", K::Label, "GroupBox_About", "To purchase click here :", on, shown},
    {"lbMail", K::Label, "GroupBox_About", "e-mail", on, shown},
    {"lbRef_Over", K::Label, "GroupBox_About", "lbRef_Over", on, hidden},
    {"lbRef_Off", K::Label, "GroupBox_About", "lbRef_Off", on, hidden},
    // Test page.
    {"btRunTest", K::Button, "tsTest", "Run", on, shown},
    {"shpTest_Result", K::Shape, "tsTest", "", on, shown},
    {"edTest_Result", K::Edit, "tsTest", "", on, shown},
    {"btCopyTest", K::Button, "tsTest", "Copy to Buffer", off, shown},
    {"memLogTest", K::Memo, "tsTest", "", on, shown},
};

TEST_F(MainWindow, EveryControlStartsWithItsCaptionHintAndState) {
    std::set<std::string> listed;
    for (const TExpect& e : kControls) {
        SCOPED_TRACE(e.Name);
        listed.insert(e.Name);
        TControl* c = Form.FindControl(e.Name);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->Kind(), e.Kind);
        ASSERT_NE(c->Parent(), nullptr);
        EXPECT_EQ(c->Parent()->Name(), e.Parent);
        EXPECT_EQ(c->Caption(), e.Caption);
        EXPECT_EQ(c->Hint(), e.Hint);
        EXPECT_EQ(c->Enabled(), e.Enabled);
        EXPECT_EQ(c->Visible(), e.Visible);
        if (e.Kind == K::CheckBox) {
            EXPECT_EQ(static_cast<TCheckBox*>(c)->Checked(), e.Checked == 1);
        }
        if (e.Kind == K::RadioButton) {
            EXPECT_EQ(static_cast<TRadioButton*>(c)->Checked(), e.Checked == 1);
        }
    }
    // Nothing on the window that the list above does not know, no name twice.
    std::multiset<std::string> names;
    for (TControl* c : Form.AllControls())
        if (c->Kind() != K::TabSheet)
            names.insert(c->Name());
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), listed);
    EXPECT_EQ(names.size(), listed.size());
}

TEST_F(MainWindow, EditsAndMemosThatShowResultsAreReadOnly) {
    const char* const readOnly[] = {
        "edSignature",    "edSerial",    "edCopyRight",         "edHardware",   "edBootVer",
        "edVersion",      "edPower",     "edModeRun",           "edFW_File",    "edUpdateSatus",
        "edJ2534_Config", "edJ2534_DLL", "edJ2534_Version_DLL", "edTest_Result"};
    for (const char* name : readOnly)
        EXPECT_TRUE(static_cast<TEdit&>(Control(name)).ReadOnly) << name;
    for (TMemo* memo : {&Form.memLog, &Form.memUpdate, &Form.memJ2534, &Form.memLogTest})
        EXPECT_TRUE(memo->ReadOnly) << memo->Name();
}

TEST_F(MainWindow, ModeListAndLegendUseTheStatePictures) {
    const TListView& modes = Form.lvModes;
    EXPECT_EQ(modes.ViewStyle, TViewStyle::Report);
    EXPECT_TRUE(modes.ShowColumnHeaders);
    EXPECT_TRUE(modes.GridLines);
    EXPECT_TRUE(modes.RowSelect);
    EXPECT_TRUE(modes.ReadOnly);
    EXPECT_EQ(modes.ImageListName, "ilIcons");
    ASSERT_EQ(modes.Columns().size(), 3u);
    EXPECT_EQ(modes.Columns()[0].Caption, "#");
    EXPECT_EQ(modes.Columns()[0].Width, 40);
    EXPECT_EQ(modes.Columns()[1].Caption, "ID");
    EXPECT_EQ(modes.Columns()[1].Width, 40);
    EXPECT_EQ(modes.Columns()[2].Caption, "Description");
    EXPECT_EQ(modes.Columns()[2].Width, 475);
    EXPECT_EQ(modes.Count(), 0u);

    const TListView& legend = Form.lvInfo;
    EXPECT_EQ(legend.ViewStyle, TViewStyle::SmallIcon);
    EXPECT_FALSE(legend.ShowColumnHeaders);
    EXPECT_EQ(legend.ImageListName, "ilIcons");
    const char* const texts[] = {"Selected", "Active", "Hidden", "Available"};
    ASSERT_EQ(legend.Count(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(legend.Item(i)->Caption, texts[i]);
        EXPECT_EQ(legend.Item(i)->StateIndex, static_cast<int>(i));
    }

    EXPECT_EQ(Form.ilIcons.Name, "ilIcons");
    EXPECT_EQ(Form.ilIcons.PictureIds, (std::vector<int>{IDB_STATE_RUNNING, IDB_STATE_ACTIVE,
                                                         IDB_STATE_HIDDEN, IDB_STATE_AVAILABLE}));
    EXPECT_EQ(Form.ilIcons.PictureIds, (std::vector<int>{110, 111, 112, 113}));
}

TEST_F(MainWindow, FontsAndShapesOfTheMarkedControls) {
    EXPECT_TRUE(Form.edSerial.Font().FixedPitch);
    EXPECT_FALSE(Form.edSignature.Font().FixedPitch);

    // The product name is the largest text of the About page.
    const TFont& name = Form.lbName.Font();
    EXPECT_TRUE(name.Bold);
    EXPECT_EQ(name.Color, clMaroon);
    for (TControl* c : Form.GroupBox_About.Children()) {
        if (c != &Form.lbName && c->Kind() == K::Label) {
            EXPECT_GT(name.Size, c->Font().Size == 0 ? 9 : c->Font().Size) << c->Name();
        }
    }
    EXPECT_TRUE(Form.lbVersion.Font().Bold);
    EXPECT_TRUE(Form.lbCopy.Font().Bold);
    EXPECT_EQ(Form.lbVisit.Font(), TFont());
    EXPECT_EQ(Form.lbPurchase.Font(), TFont());

    for (TLabel* link : {&Form.lbRef, &Form.lbMail}) {
        EXPECT_TRUE(link->HandCursor) << link->Name();
        EXPECT_EQ(link->Font().Color, clPurple);
        EXPECT_TRUE(link->Font().Bold && link->Font().Italic);
        EXPECT_FALSE(link->Font().Underline);
    }
    // The templates differ from the links' normal style in the underline alone.
    TFont over = Form.lbRef_Over.Font();
    EXPECT_TRUE(over.Bold && over.Italic && over.Underline);
    over.Underline = false;
    EXPECT_EQ(over, Form.lbRef.Font());
    EXPECT_EQ(Form.lbRef_Off.Font(), Form.lbRef.Font());

    EXPECT_TRUE(Form.lbJ2534_Message.Font().Bold);
    EXPECT_EQ(Form.lbJ2534_Message.Font().Color, clRed);

    EXPECT_EQ(Form.shJ2534_Version_DLL.Shape(), TShapeType::Rectangle);
    EXPECT_EQ(Form.shJ2534_Install.Shape(), TShapeType::RoundRect);
    EXPECT_EQ(Form.shJ2534_Version_DLL.PenColor(), clYellow);
    EXPECT_EQ(Form.shJ2534_Install.PenColor(), clYellow);
    EXPECT_EQ(Form.shpTest_Result.Shape(), TShapeType::Circle);
    EXPECT_EQ(Form.imgLogo_QVX.PictureId, IDB_LOGO);

    for (TProgressBar* bar : {&Form.pbUpdateProgress, &Form.pbJ2534_Install}) {
        EXPECT_EQ(bar->Min(), 0);
        EXPECT_EQ(bar->Max(), 100);
        EXPECT_EQ(bar->Position(), 0);
    }
}

TEST_F(MainWindow, RefreshTimerRunsEvery500msAndSearchTimerIsStopped) {
    EXPECT_EQ(Form.tmrRefresh.Interval(), 500u);
    EXPECT_TRUE(Form.tmrRefresh.Running());
    EXPECT_EQ(Form.tmrSearch.Interval(), 0u);
    EXPECT_FALSE(Form.tmrSearch.Running());
    EXPECT_EQ(Timers.RunningCount(), 1u);

    Timers.Advance(499);
    EXPECT_TRUE(Form.Calls.empty());
    Timers.Advance(1001);
    EXPECT_EQ(Form.Calls, std::vector<std::string>(3, "tmrRefreshTimer"));
}

TEST_F(MainWindow, EveryEventReachesTheHandlerOfItsName) {
    TfrmMain& f = Form;
    f.cbCOM.SetItems({"COM1"});
    f.cbJ2534_Devices.SetItems({"Device"});
    TListItem* first = f.lvModes.AddItem();
    first->Caption = "01";
    TListItem* second = f.lvModes.AddItem();
    second->Caption = "02";
    f.lvModes.ItemsChanged();

    struct TCase {
        std::vector<std::string> Expected;
        TControl* Target; // made reachable first; none for events not raised by a control
        std::function<void()> Act;
    };
    auto click = [](TControl& c) { return [&c] { c.UserClick(); }; };
    const std::vector<TCase> cases = {
        {{"FormCreate"}, nullptr, [&] { f.OnCreate(); }},
        {{"FormShow"}, nullptr, [&] { f.OnShow(); }},
        {{"FormCloseQuery"}, nullptr, [&] { f.OnCloseQuery(); }},
        {{"FormClose"}, nullptr, [&] { f.OnClose(); }},
        {{"pcOptionsChange"}, &f.pcOptions, [&] { f.pcOptions.UserSelectPage(2); }},
        {{"cbPowerClick"}, &f.cbPower, click(f.cbPower)},
        {{"cbPowerClick"}, &f.btPower, click(f.btPower)},
        {{"cbCOMClick"}, &f.cbCOM, [&] { f.cbCOM.UserSelect(0); }},
        {{"btPortPropClick"}, &f.btPortProp, click(f.btPortProp)},
        {{"btRefreshClick"}, &f.btRefresh, click(f.btRefresh)},
        {{"btSearchClick"}, &f.btSearch, click(f.btSearch)},
        {{"btSearchClick"}, &f.cbShow, click(f.cbShow)},
        {{"lvModesColumnClick 2"}, &f.lvModes, [&] { f.lvModes.UserColumnClick(2); }},
        {{"lvModesCompare 0"}, &f.lvModes, [&] { f.lvModes.AlphaSort(); }},
        {{"lvModesDblClick"}, &f.lvModes, [&] { f.lvModes.UserDblClick(); }},
        {{"lvModesKeyPress h"}, &f.lvModes, [&] { f.lvModes.UserKeyPress('h'); }},
        {{"lvModesMouseUp 1 30 40"}, &f.lvModes, [&] { f.lvModes.UserMouseUp(1, 30, 40); }},
        {{"lvModesSelectItem 01 1"}, &f.lvModes, [&] { f.lvModes.UserSelect(first); }},
        {{"btModeSelectClick"}, &f.btModeSelect, click(f.btModeSelect)},
        {{"btModeHideClick"}, &f.btModeHide, click(f.btModeHide)},
        {{"btModeFileClick"}, &f.btModeFile, click(f.btModeFile)},
        {{"btModeRunClick"}, &f.btModeRun, click(f.btModeRun)},
        {{"btModeFileDelClick"}, &f.btModeFileDel, click(f.btModeFileDel)},
        {{"btCopyClick"}, &f.btCopy, click(f.btCopy)},
        {{"edFW_FileChange"}, &f.edFW_File, [&] { f.edFW_File.SetText("a.rfw"); }},
        {{"btFW_FileClick"}, &f.btFW_File, click(f.btFW_File)},
        {{"rbAddModeClick"}, &f.rbAddMode, click(f.rbAddMode)},
        {{"rbUploadFWClick"}, &f.rbUploadFW, click(f.rbUploadFW)},
        {{"ckbNotSearchClick"}, &f.ckbNotSearch, click(f.ckbNotSearch)},
        {{"ckbNotSearchClick"}, &f.ckbWait, click(f.ckbWait)},
        {{"btUpdateRunClick"}, &f.btUpdateRun, click(f.btUpdateRun)},
        {{"btResetClick"}, &f.btReset, click(f.btReset)},
        {{"cbJ2534_DevicesChange"}, &f.cbJ2534_Devices, [&] { f.cbJ2534_Devices.UserSelect(0); }},
        {{"btJ2534_RefreshClick"}, &f.btJ2534_Refresh, click(f.btJ2534_Refresh)},
        {{"btJ2534_ConfigClick"}, &f.btJ2534_Config, click(f.btJ2534_Config)},
        {{"btJ2534_LoadClick"}, &f.btJ2534_Load, click(f.btJ2534_Load)},
        {{"btJ2534_OpenClick"}, &f.btJ2534_Open, click(f.btJ2534_Open)},
        {{"btJ2534_VersionClick"}, &f.btJ2534_Version, click(f.btJ2534_Version)},
        {{"btJ2534_InfoClick"}, &f.btJ2534_Info, click(f.btJ2534_Info)},
        {{"memJ2534Change"}, &f.memJ2534, [&] { f.memJ2534.Add("line"); }},
        {{"btJ2534_CopyClick"}, &f.btJ2534_Copy, click(f.btJ2534_Copy)},
        {{"btJ2534_Version_CheckClick"}, &f.btJ2534_Version_Check, click(f.btJ2534_Version_Check)},
        {{"btJ2534_InstallClick"}, &f.btJ2534_Install, click(f.btJ2534_Install)},
        {{"lbRefMouseEnter"}, &f.lbRef, [&] { f.lbRef.UserMouseEnter(); }},
        {{"lbMailMouseEnter"}, &f.lbMail, [&] { f.lbMail.UserMouseEnter(); }},
        {{"lbRefMouseLeave"}, &f.lbRef, [&] { f.lbRef.UserMouseLeave(); }},
        {{"lbMailMouseLeave"}, &f.lbMail, [&] { f.lbMail.UserMouseLeave(); }},
        {{"lbRefClick"}, &f.lbRef, click(f.lbRef)},
        {{"lbMailClick"}, &f.lbMail, click(f.lbMail)},
        {{"btRunTestClick"}, &f.btRunTest, click(f.btRunTest)},
        {{"memLogTestChange"}, &f.memLogTest, [&] { f.memLogTest.Add("line"); }},
        {{"btCopyTestClick"}, &f.btCopyTest, click(f.btCopyTest)},
        {{"tmrSearchTimer"},
         nullptr,
         [&] {
             f.tmrSearch.SetInterval(10);
             Timers.Advance(10);
         }},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Expected.front());
        if (c.Target)
            Reach(*c.Target);
        Form.Calls.clear();
        c.Act();
        EXPECT_EQ(Form.Calls, c.Expected);
    }
    // The descending compare of the recording handler has reordered the rows.
    EXPECT_EQ(f.lvModes.Item(0), second);
}

// ---- Layout ----

struct TRect {
    int Left, Top, Right, Bottom;
};

TRect RectOf(const TControl& c) {
    return {c.Left(), c.Top(), c.Left() + c.Width(), c.Top() + c.Height()};
}

// The part of a container where its children may lie, in the children's
// coordinates: below the tabs of a page control, below a group box's caption.
bool ClientArea(const TControl& c, TRect& area) {
    switch (c.Kind()) {
    case K::Form:
    case K::TabSheet:
        area = {0, 0, c.Width(), c.Height()};
        return true;
    case K::PageControl:
        area = {2, 22, c.Width() - 2, c.Height() - 2};
        return true;
    case K::GroupBox:
        area = {2, 14, c.Width() - 2, c.Height() - 2};
        return true;
    default:
        return false;
    }
}

bool Overlap(const TRect& a, const TRect& b) {
    return a.Left < b.Right && b.Left < a.Right && a.Top < b.Bottom && b.Top < a.Bottom;
}

// Width a caption needs at the window's 8 pt font: ~6 px a character, 7 bold,
// scaled for larger sizes, plus the frame or the box of the control.
int NeededWidth(const TControl& c) {
    const std::string& text = c.Caption();
    int perChar = c.Font().Bold ? 7 : 6;
    int size = c.Font().Size == 0 ? 8 : c.Font().Size;
    int width = static_cast<int>(text.size()) * perChar * size / 8;
    switch (c.Kind()) {
    case K::Button:
        return width + 12;
    case K::CheckBox:
    case K::RadioButton:
        return width + 20;
    case K::GroupBox:
        return width + 16;
    case K::Label:
        return width;
    default:
        return 0;
    }
}

int NeededHeight(const TControl& c) {
    switch (c.Kind()) {
    case K::Button:
        return 23;
    case K::Edit:
    case K::ComboBox:
        return 21;
    case K::CheckBox:
    case K::RadioButton:
        return 17;
    case K::Label:
        return 13 * (c.Font().Size == 0 ? 8 : c.Font().Size) / 8;
    default:
        return 8;
    }
}

void ExpectCaptionsFit(const TfrmMain& form) {
    for (TControl* c : form.AllControls()) {
        EXPECT_GE(c->Width(), NeededWidth(*c)) << c->Name() << " \"" << c->Caption() << "\"";
        EXPECT_GE(c->Height(), NeededHeight(*c)) << c->Name();
    }
}

TEST_F(MainWindow, EveryControlLiesInsideItsParentsClientArea) {
    EXPECT_GE(Form.Width(), 640);
    EXPECT_GE(Form.Height(), 560);
    for (TControl* c : Form.AllControls()) {
        SCOPED_TRACE(c->Name());
        TRect area{};
        ASSERT_TRUE(ClientArea(*c->Parent(), area)) << "parent " << c->Parent()->Name();
        TRect r = RectOf(*c);
        EXPECT_GT(c->Width(), 0);
        EXPECT_GT(c->Height(), 0);
        EXPECT_GE(r.Left, area.Left);
        EXPECT_GE(r.Top, area.Top);
        EXPECT_LE(r.Right, area.Right);
        EXPECT_LE(r.Bottom, area.Bottom);
    }
}

TEST_F(MainWindow, NoTwoSiblingsOverlap) {
    // Hidden controls count too, as they are shown later in place. The one
    // exception is the legend, which is shown on top of the mode list.
    auto exempt = [&](const TControl* a, const TControl* b) {
        return (a == &Form.lvInfo && b == &Form.lvModes) ||
               (a == &Form.lvModes && b == &Form.lvInfo);
    };
    std::vector<TControl*> containers{&Form};
    for (TControl* c : Form.AllControls())
        containers.push_back(c);
    for (TControl* parent : containers) {
        if (parent->Kind() == K::PageControl)
            continue; // the pages share one place and are shown one at a time
        const auto& kids = parent->Children();
        for (size_t i = 0; i < kids.size(); ++i) {
            for (size_t j = i + 1; j < kids.size(); ++j) {
                if (!exempt(kids[i], kids[j])) {
                    EXPECT_FALSE(Overlap(RectOf(*kids[i]), RectOf(*kids[j])))
                        << kids[i]->Name() << " / " << kids[j]->Name();
                }
            }
        }
    }
    // The legend stays within the list it explains.
    TRect list = RectOf(Form.lvModes), legend = RectOf(Form.lvInfo);
    EXPECT_TRUE(legend.Left >= list.Left && legend.Right <= list.Right && legend.Top >= list.Top &&
                legend.Bottom <= list.Bottom);
}

TEST_F(MainWindow, CaptionsFitAtStartAndWithTheTextsSetLater) {
    ExpectCaptionsFit(Form);
    // The longest texts that start-up and the pages put into these controls.
    Form.rbAddMode.SetCaption("Repair Quorvelix");
    Form.GroupBox_Driver.SetCaption(" Quorvelix Driver ");
    Form.btJ2534_Install.SetCaption("Install Driver v2.10.105");
    Form.lbJ2534_Message.SetCaption("  Update Firmware !!!");
    Form.btModeHide.SetCaption("Order");
    Form.btUpdateRun.SetCaption("Stop");
    Form.btJ2534_Load.SetCaption("Unload");
    Form.btJ2534_Open.SetCaption("Close");
    Form.lbName.SetCaption("Quorvelix Configurator");
    Form.lbVersion.SetCaption("Version 2.3.1.8");
    Form.lbCopy.SetCaption("Copyright (C) 2026 Morveklink Ltd.");
    Form.lbRef.SetCaption("http://www.morveklink.example");
    Form.lbMail.SetCaption("orders@morveklink.example");
    ExpectCaptionsFit(Form);
}

TEST_F(MainWindow, TheLegendIsAsWideAsRunAndFitsItsLongestText) {
    // "Show ALL" makes the legend as wide as "Run"; at that width each item
    // needs its picture, a gap, its text and the list's sunken frame.
    size_t longest = 0;
    for (size_t i = 0; i < Form.lvInfo.Count(); ++i)
        longest = std::max(longest, Form.lvInfo.Item(i)->Caption.size());
    const int needed = 2 * 2 + 16 + 6 + static_cast<int>(longest) * 6;
    EXPECT_GE(Form.btModeRun.Width(), needed) << "the legend would cut off \"Available\"";
    // Stretched down to "Run", it still stays within the list.
    EXPECT_LE(Form.lvInfo.Left() + Form.btModeRun.Width(),
              Form.lvModes.Left() + Form.lvModes.Width());
}

TEST_F(MainWindow, TheIdentityFieldsShowTheSimulatedAdaptersTextsWhole) {
    // ~6 px a character, 8 in the fixed-pitch serial font, plus the sunken
    // frame and the edit's margins.
    const TSimConfig adapter;
    const struct {
        const TEdit& Edit;
        std::string Text;
        int PerChar;
    } fields[] = {
        {Form.edSignature, adapter.Signature, 6}, {Form.edSerial, adapter.SerialNumber, 8},
        {Form.edCopyRight, adapter.Copyright, 6}, {Form.edHardware, adapter.HardwareVersion, 6},
        {Form.edBootVer, adapter.BootVersion, 6}, {Form.edVersion, adapter.FirmwareVersion, 6}};
    for (const auto& field : fields) {
        EXPECT_GE(field.Edit.Width(), static_cast<int>(field.Text.size()) * field.PerChar + 8)
            << field.Edit.Name() << " cuts \"" << field.Text << "\"";
    }
}

TEST_F(MainWindow, ModeListShowsItsColumnsWithoutScrolling) {
    int columns = 0;
    for (const TListColumn& column : Form.lvModes.Columns())
        columns += column.Width;
    // Room for the frame and a vertical scroll bar.
    EXPECT_GE(Form.lvModes.Width(), columns + 4 + 17);
}

TEST_F(MainWindow, PageControlAboveTheIdentityFields) {
    int pageBottom = Form.pcOptions.Top() + Form.pcOptions.Height();
    for (TControl* c : Form.Children()) {
        if (c != &Form.pcOptions) {
            EXPECT_GE(c->Top(), pageBottom) << c->Name();
        }
    }
    for (TTabSheet* page : Form.pcOptions.Pages())
        EXPECT_TRUE(page->Bounds().Left == Form.tsSettings.Left() &&
                    page->Bounds().Top == Form.tsSettings.Top() &&
                    page->Width() == Form.tsSettings.Width() &&
                    page->Height() == Form.tsSettings.Height())
            << page->Name();
}

} // namespace
} // namespace qvx
