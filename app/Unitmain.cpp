#include "app/Unitmain.h"

#include "app/resource_ids.h"

namespace qvx {

namespace {

TFont BoldFont(TColor color = clDefault) {
    TFont font;
    font.Bold = true;
    font.Color = color;
    return font;
}

TFont LinkFont(bool underline) {
    TFont font = BoldFont(clPurple);
    font.Italic = true;
    font.Underline = underline;
    return font;
}

void SetupButton(TButton& button, const std::string& caption, bool enabled = true) {
    button.SetCaption(caption);
    button.SetEnabled(enabled);
}

} // namespace

TfrmMain::TfrmMain(TPlatform& platform, IDeviceLink* link, const std::string& settingsKey)
    : TForm("frmMain"), Platform(platform), Settings(platform, settingsKey),
      Link(link ? *link : NoLink), Updater(platform.UserIo, platform.Files, platform.Timers, *this),
      Session(Link, Settings, *this, *this, *this), Modes(Settings),
      tmrSearch("tmrSearch", platform.Timers), tmrRefresh("tmrRefresh", platform.Timers) {
    // States first, events last: setting a check box or radio button fires its
    // click event, which must not reach a handler while the window is built.
    InitControls();
    ApplyLayout();
    BindEvents();
}

void TfrmMain::CopyToClipboard(TMemo& memo) {
    memo.SelectAll();
    Platform.UserIo.SetClipboardText(memo.Text());
}

void TfrmMain::InitControls() {
    SetCaption("Name...");
    Sizeable = false;
    MaximizeBox = false;
    Centered = true;

    ilIcons.Name = "ilIcons";
    ilIcons.Width = 16;
    ilIcons.Height = 16;
    ilIcons.PictureIds = {IDB_STATE_RUNNING, IDB_STATE_ACTIVE, IDB_STATE_HIDDEN,
                          IDB_STATE_AVAILABLE};

    // ---- Pages ----
    tsSettings.SetCaption("Settings");
    Update.SetCaption("Update");
    J2534.SetCaption("Passthru SAE J2534");
    About.SetCaption("About");
    tsTest.SetCaption("Test");
    tsTest.SetTabVisible(false);
    pcOptions.SetActivePage(&tsSettings);

    // ---- Settings page ----
    cbCOM.SetHint("Ports List");
    SetupButton(btPortProp, "?", false);
    btPortProp.SetHint("Property");
    SetupButton(btRefresh, "Refresh");
    btRefresh.SetHint("Refresh USB-Ports");
    SetupButton(btSearch, "Search");
    cbShow.SetCaption("Show ALL");

    lvModes.ViewStyle = TViewStyle::Report;
    lvModes.ShowColumnHeaders = true;
    lvModes.GridLines = true;
    lvModes.RowSelect = true;
    lvModes.ReadOnly = true;
    lvModes.ImageListName = ilIcons.Name;
    lvModes.AddColumn("#", 40);
    lvModes.AddColumn("ID", 40);
    lvModes.AddColumn("Description", 475);

    // The legend of the mode list's state pictures, shown with "Show ALL".
    lvInfo.ViewStyle = TViewStyle::SmallIcon;
    lvInfo.ShowColumnHeaders = false;
    lvInfo.ReadOnly = true;
    lvInfo.ImageListName = ilIcons.Name;
    const char* const legend[] = {"Selected", "Active", "Hidden", "Available"};
    for (int state = 0; state < 4; ++state) {
        TListItem* item = lvInfo.AddItem();
        item->Caption = legend[state];
        item->StateIndex = state;
    }
    lvInfo.ItemsChanged();
    lvInfo.SetEnabled(false);
    lvInfo.SetVisible(false);

    SetupButton(btModeSelect, "Select", false);
    SetupButton(btModeHide, "Hide", false);
    edModeRun.ReadOnly = true;
    edModeRun.SetEnabled(false);
    SetupButton(btModeFile, "...", false);
    SetupButton(btModeRun, "Run", false);
    SetupButton(btModeFileDel, "X", false);
    memLog.ReadOnly = true;
    SetupButton(btCopy, "Copy to Buffer", false);

    // ---- Update page ----
    rbUploadFW.SetCaption("Upload New Firmware");
    rbUploadFW.SetChecked(true);
    rbAddMode.SetCaption("Repair");
    ckbNotSearch.SetCaption("Do not Search");
    ckbNotSearch.SetEnabled(false);
    ckbWait.SetCaption("Wait");
    ckbWait.SetChecked(true);
    ckbWait.SetEnabled(false);
    SetupButton(btReset, "Reset");
    Label5.SetCaption("File:");
    edFW_File.ReadOnly = true;
    SetupButton(btFW_File, "...");
    SetupButton(btUpdateRun, "Run", false);
    edUpdateSatus.ReadOnly = true;
    pbUpdateProgress.SetRange(0, 100);
    pbUpdateProgress.SetPosition(0);
    memUpdate.ReadOnly = true;

    // ---- Passthru SAE J2534 page ----
    GroupBox_Devices.SetCaption(" Devices ");
    lbJ2534_Device.SetCaption("Device:");
    SetupButton(btJ2534_Refresh, "Refresh");
    lbJ2534_Config.SetCaption("Config:");
    edJ2534_Config.ReadOnly = true;
    SetupButton(btJ2534_Config, "Config", false);
    lbJ2534_DLL.SetCaption("DLL:");
    edJ2534_DLL.ReadOnly = true;
    SetupButton(btJ2534_Load, "Load", false);
    SetupButton(btJ2534_Open, "Open", false);
    SetupButton(btJ2534_Version, "Version", false);
    SetupButton(btJ2534_Info, "Read Info", false);
    SetupButton(btJ2534_Copy, "Copy to Buffer", false);
    memJ2534.ReadOnly = true;
    // Libraries of some makers answer in code page 1251.
    TFont cyrillic;
    cyrillic.Charset = TCharset::Cyrillic;
    memJ2534.SetFont(cyrillic);

    GroupBox_Driver.SetCaption(" Driver ");
    SetupButton(btJ2534_Version_Check, "Check Version");
    edJ2534_Version_DLL.ReadOnly = true;
    shJ2534_Version_DLL.SetShape(TShapeType::Rectangle);
    shJ2534_Version_DLL.SetPenColor(clYellow);
    shJ2534_Version_DLL.SetVisible(false);
    lbJ2534_Message.SetCaption("- Update is required ->");
    lbJ2534_Message.SetFont(BoldFont(clRed));
    lbJ2534_Message.SetVisible(false);
    SetupButton(btJ2534_Install, "Install Driver", false);
    shJ2534_Install.SetShape(TShapeType::RoundRect);
    shJ2534_Install.SetPenColor(clYellow);
    shJ2534_Install.SetVisible(false);
    pbJ2534_Install.SetRange(0, 100);
    pbJ2534_Install.SetPosition(0);
    pbJ2534_Install.SetVisible(false);

    // ---- About page ----
    imgLogo_QVX.PictureId = IDB_LOGO;
    imgLogo_QVX.Center = true;
    imgLogo_QVX.AutoSize = true;
    lbName.SetCaption("Name");
    TFont nameFont = BoldFont(clMaroon);
    nameFont.Size = 14;
    lbName.SetFont(nameFont);
    lbVersion.SetCaption("Version ");
    lbVersion.SetFont(BoldFont());
    lbCopy.SetCaption("Copyright");
    lbCopy.SetFont(BoldFont());
    lbVisit.SetCaption("To visit our web-site click here :");
    lbPurchase.SetCaption("To purchase click here :");
    for (TLabel* link : {&lbRef, &lbMail}) {
        link->SetFont(LinkFont(false));
        link->HandCursor = true;
    }
    lbRef.SetCaption("www");
    lbMail.SetCaption("e-mail");
    // Font templates of the link labels: pointer over the link, and not.
    lbRef_Over.SetCaption("lbRef_Over");
    lbRef_Over.SetFont(LinkFont(true));
    lbRef_Over.SetVisible(false);
    lbRef_Off.SetCaption("lbRef_Off");
    lbRef_Off.SetFont(LinkFont(false));
    lbRef_Off.SetVisible(false);

    // ---- Test page ----
    SetupButton(btRunTest, "Run");
    // Neutral verdict: scroll-bar grey fill, button-shadow outline.
    shpTest_Result.SetShape(TShapeType::Circle);
    shpTest_Result.SetBrushColor(clScrollBar);
    shpTest_Result.SetPenColor(clBtnShadow);
    edTest_Result.ReadOnly = true;
    SetupButton(btCopyTest, "Copy to Buffer", false);
    memLogTest.ReadOnly = true;

    // ---- Identity and power ----
    lbSignature.SetCaption("Signature:");
    lbSerial.SetCaption("Serial Number:");
    lbCopyRight.SetCaption("Copyright:");
    lbHardware.SetCaption("Hardware:");
    lbBootVer.SetCaption("Bootware:");
    lbVersionFw.SetCaption("Firmware:");
    for (TEdit* edit : {&edSignature, &edSerial, &edCopyRight, &edHardware, &edBootVer, &edVersion})
        edit->ReadOnly = true;
    TFont serialFont;
    serialFont.FixedPitch = true;
    edSerial.SetFont(serialFont);

    cbPower.SetCaption("Ext. Power:");
    cbPower.SetEnabled(false);
    cbPower.SetVisible(false);
    edPower.ReadOnly = true;
    edPower.SetVisible(false);
    lbPower.SetCaption("V");
    lbPower.SetVisible(false);
    SetupButton(btPower, "Read");
    btPower.SetVisible(false);

    // ---- Timers ----
    tmrSearch.SetInterval(0);
    tmrRefresh.SetInterval(500);
}

// Every place of the window, in pixels. The form's Width and Height are its
// client area; a page's children are relative to the page's client area, a
// group box's children to the group box (its caption takes the top 14 pixels).
void TfrmMain::ApplyLayout() {
    SetBounds(0, 0, 660, 600);

    // The page control fills the upper part; all pages share one client area
    // below the tabs.
    pcOptions.SetBounds(8, 8, 644, 480);
    for (TTabSheet* page : pcOptions.Pages())
        page->SetBounds(4, 26, 636, 450);

    // ---- Settings page ----
    cbCOM.SetBounds(8, 8, 300, 21);
    btPortProp.SetBounds(312, 6, 25, 25);
    btRefresh.SetBounds(342, 6, 75, 25);
    btSearch.SetBounds(422, 6, 75, 25);
    cbShow.SetBounds(508, 10, 90, 17);
    lvModes.SetBounds(8, 38, 620, 190);
    lvInfo.SetBounds(500, 130, 124, 94); // over the list's lower right corner
    btModeSelect.SetBounds(8, 234, 75, 25);
    btModeHide.SetBounds(88, 234, 75, 25);
    // "Show ALL" makes the legend as wide as "Run": wide enough for "Available".
    edModeRun.SetBounds(170, 236, 288, 21);
    btModeFile.SetBounds(462, 234, 30, 25);
    btModeRun.SetBounds(496, 234, 85, 25);
    btModeFileDel.SetBounds(585, 234, 25, 25);
    memLog.SetBounds(8, 266, 620, 146);
    btCopy.SetBounds(528, 418, 100, 25);

    // ---- Update page ----
    gbUpdate.SetBounds(8, 8, 620, 434);
    rbUploadFW.SetBounds(12, 20, 170, 17);
    rbAddMode.SetBounds(12, 42, 200, 17);
    ckbNotSearch.SetBounds(230, 20, 130, 17);
    ckbWait.SetBounds(230, 42, 80, 17);
    btReset.SetBounds(533, 18, 75, 25);
    Label5.SetBounds(12, 78, 30, 13);
    edFW_File.SetBounds(46, 74, 446, 21);
    btFW_File.SetBounds(497, 72, 30, 25);
    btUpdateRun.SetBounds(533, 72, 75, 25);
    edUpdateSatus.SetBounds(12, 104, 596, 21);
    pbUpdateProgress.SetBounds(12, 132, 596, 17);
    memUpdate.SetBounds(12, 156, 596, 266);

    // ---- Passthru SAE J2534 page ----
    GroupBox_Devices.SetBounds(8, 4, 620, 106);
    lbJ2534_Device.SetBounds(10, 24, 48, 13);
    cbJ2534_Devices.SetBounds(62, 20, 380, 21);
    btJ2534_Refresh.SetBounds(450, 18, 75, 25);
    lbJ2534_Config.SetBounds(10, 52, 48, 13);
    edJ2534_Config.SetBounds(62, 48, 380, 21);
    btJ2534_Config.SetBounds(450, 46, 75, 25);
    lbJ2534_DLL.SetBounds(10, 80, 48, 13);
    edJ2534_DLL.SetBounds(62, 76, 463, 21);
    btJ2534_Load.SetBounds(8, 116, 75, 25);
    btJ2534_Open.SetBounds(88, 116, 75, 25);
    btJ2534_Version.SetBounds(168, 116, 75, 25);
    btJ2534_Info.SetBounds(248, 116, 75, 25);
    btJ2534_Copy.SetBounds(528, 116, 100, 25);
    memJ2534.SetBounds(8, 146, 620, 200);
    GroupBox_Driver.SetBounds(8, 352, 620, 88);
    btJ2534_Version_Check.SetBounds(10, 20, 100, 25);
    edJ2534_Version_DLL.SetBounds(116, 22, 96, 21);
    shJ2534_Version_DLL.SetBounds(218, 22, 21, 21);
    lbJ2534_Message.SetBounds(246, 26, 170, 13);
    btJ2534_Install.SetBounds(422, 20, 160, 25);
    shJ2534_Install.SetBounds(588, 22, 26, 21);
    pbJ2534_Install.SetBounds(10, 58, 600, 17);

    // ---- About page ----
    GroupBox_About.SetBounds(8, 8, 620, 434);
    imgLogo_QVX.SetBounds(170, 24, 280, 96);
    lbName.SetBounds(12, 134, 596, 24);
    lbVersion.SetBounds(12, 168, 596, 16);
    lbCopy.SetBounds(12, 192, 596, 16);
    lbVisit.SetBounds(12, 236, 220, 16);
    lbRef.SetBounds(236, 236, 372, 16);
    lbPurchase.SetBounds(12, 262, 220, 16);
    lbMail.SetBounds(236, 262, 372, 16);
    lbRef_Over.SetBounds(12, 300, 100, 16);
    lbRef_Off.SetBounds(120, 300, 100, 16);

    // ---- Test page ----
    btRunTest.SetBounds(8, 8, 75, 25);
    shpTest_Result.SetBounds(92, 8, 25, 25);
    edTest_Result.SetBounds(126, 10, 100, 21);
    btCopyTest.SetBounds(528, 8, 100, 25);
    memLogTest.SetBounds(8, 40, 620, 402);

    // ---- Identity fields: two rows of three label/edit pairs ----
    // The columns are as wide as their labels need; what is left goes to the
    // third, whose copyright line is the longest text of the adapter.
    struct TIdentityField {
        TLabel& Label;
        TEdit& Edit;
    };
    const TIdentityField fields[] = {{lbSignature, edSignature}, {lbSerial, edSerial},
                                     {lbCopyRight, edCopyRight}, {lbHardware, edHardware},
                                     {lbBootVer, edBootVer},     {lbVersionFw, edVersion}};
    struct TIdentityColumn {
        int Left, LabelWidth, EditWidth;
    };
    const TIdentityColumn columns[] = {{8, 62, 92}, {172, 88, 92}, {362, 60, 228}};
    for (int i = 0; i < 6; ++i) {
        const TIdentityColumn& column = columns[i % 3];
        const int top = 496 + (i / 3) * 28;
        fields[i].Label.SetBounds(column.Left, top + 4, column.LabelWidth, 13);
        fields[i].Edit.SetBounds(column.Left + column.LabelWidth + 2, top, column.EditWidth, 21);
    }

    // ---- Power, on the third row ----
    cbPower.SetBounds(8, 556, 100, 17);
    edPower.SetBounds(112, 554, 60, 21);
    lbPower.SetBounds(176, 558, 12, 13);
    btPower.SetBounds(194, 552, 75, 25);
}

void TfrmMain::BindEvents() {
    OnCreate = [this] { FormCreate(); };
    OnShow = [this] { FormShow(); };
    OnCloseQuery = [this] { return FormCloseQuery(); };
    OnClose = [this] { FormClose(); };
    pcOptions.OnChange = [this] { pcOptionsChange(); };

    // Power: the check box and the "Read" button share one handler.
    cbPower.OnClick = [this] { cbPowerClick(); };
    btPower.OnClick = [this] { cbPowerClick(); };

    // Settings page; "Show ALL" runs a search as the "Search" button does.
    cbCOM.OnClick = [this] { cbCOMClick(); };
    btPortProp.OnClick = [this] { btPortPropClick(); };
    btRefresh.OnClick = [this] { btRefreshClick(); };
    btSearch.OnClick = [this] { btSearchClick(); };
    cbShow.OnClick = [this] { btSearchClick(); };
    lvModes.OnColumnClick = [this](int column) { lvModesColumnClick(column); };
    lvModes.OnCompare = [this](TListItem* a, TListItem* b, int data, int& compare) {
        lvModesCompare(a, b, data, compare);
    };
    lvModes.OnDblClick = [this] { lvModesDblClick(); };
    lvModes.OnKeyPress = [this](char& key) { lvModesKeyPress(key); };
    lvModes.OnMouseUp = [this](int button, int x, int y) { lvModesMouseUp(button, x, y); };
    lvModes.OnSelectItem = [this](TListItem* item, bool selected) {
        lvModesSelectItem(item, selected);
    };
    btModeSelect.OnClick = [this] { btModeSelectClick(); };
    btModeHide.OnClick = [this] { btModeHideClick(); };
    btModeFile.OnClick = [this] { btModeFileClick(); };
    btModeRun.OnClick = [this] { btModeRunClick(); };
    btModeFileDel.OnClick = [this] { btModeFileDelClick(); };
    btCopy.OnClick = [this] { btCopyClick(); };

    // Update page; both check boxes only refresh the Run button.
    edFW_File.OnChange = [this] { edFW_FileChange(); };
    btFW_File.OnClick = [this] { btFW_FileClick(); };
    rbUploadFW.OnClick = [this] { rbUploadFWClick(); };
    rbAddMode.OnClick = [this] { rbAddModeClick(); };
    ckbNotSearch.OnClick = [this] { ckbNotSearchClick(); };
    ckbWait.OnClick = [this] { ckbNotSearchClick(); };
    btUpdateRun.OnClick = [this] { btUpdateRunClick(); };
    btReset.OnClick = [this] { btResetClick(); };

    // Passthru SAE J2534 page.
    cbJ2534_Devices.OnChange = [this] { cbJ2534_DevicesChange(); };
    btJ2534_Refresh.OnClick = [this] { btJ2534_RefreshClick(); };
    btJ2534_Config.OnClick = [this] { btJ2534_ConfigClick(); };
    btJ2534_Load.OnClick = [this] { btJ2534_LoadClick(); };
    btJ2534_Open.OnClick = [this] { btJ2534_OpenClick(); };
    btJ2534_Version.OnClick = [this] { btJ2534_VersionClick(); };
    btJ2534_Info.OnClick = [this] { btJ2534_InfoClick(); };
    memJ2534.OnChange = [this] { memJ2534Change(); };
    btJ2534_Copy.OnClick = [this] { btJ2534_CopyClick(); };
    btJ2534_Version_Check.OnClick = [this] { btJ2534_Version_CheckClick(); };
    btJ2534_Install.OnClick = [this] { btJ2534_InstallClick(); };

    // About page.
    lbRef.OnMouseEnter = [this] { lbRefMouseEnter(); };
    lbMail.OnMouseEnter = [this] { lbMailMouseEnter(); };
    lbRef.OnMouseLeave = [this] { lbRefMouseLeave(); };
    lbMail.OnMouseLeave = [this] { lbMailMouseLeave(); };
    lbRef.OnClick = [this] { lbRefClick(); };
    lbMail.OnClick = [this] { lbMailClick(); };

    // Test page.
    btRunTest.OnClick = [this] { btRunTestClick(); };
    memLogTest.OnChange = [this] { memLogTestChange(); };
    btCopyTest.OnClick = [this] { btCopyTestClick(); };

    tmrSearch.OnTimer = [this] { tmrSearchTimer(); };
    tmrRefresh.OnTimer = [this] { tmrRefreshTimer(); };
}

} // namespace qvx
