#pragma once
// The main window frmMain: every control with its caption, hint, initial state
// and place, and the binding of each event to its handler. The window owns
// the engines (session, upload, mode list, pass-thru) and shows them through
// the views they declare. The handlers are defined one file per page
// (app/settings_page.cpp, update_page.cpp, passthru_page.cpp, test_page.cpp,
// about.cpp), start-up in app/startup.cpp and the session's views in
// app/session_view.cpp; they are virtual so that a window can be observed or
// specialised without touching the bindings.
//
// Members are constructed in declaration order: a parent is always declared
// before its children. Places are set in one function, TfrmMain::ApplyLayout.
#include "app/controls/controls.h"

#include <functional>
#include <string>
#include <vector>

#include "fwupdate/Unitfwupdate.h"
#include "j2534/installer.h"
#include "j2534/passthru.h"
#include "modes/modes.h"
#include "j2534/probe.h"
#include "platform/callconv.h"
#include "platform/platform.h"
#include "platform/settings.h"
#include "serdev/link.h"
#include "serdev/no_link.h"
#include "session/session.h"

namespace qvx {

class TfrmMain : public TForm,
                 public ISessionView,
                 public IIdentityView,
                 public ISelfTestView,
                 public IUploadView,
                 private IProbeView,
                 private IDriverView {
public:
    // The window talks to the adapter through link; without one it has no
    // device (its link never opens). Settings live below settingsKey.
    explicit TfrmMain(TPlatform& platform, IDeviceLink* link = nullptr,
                      const std::string& settingsKey = SettingsKey);
    ~TfrmMain() override = default;

    TPlatform& Platform;
    TSettingsStore Settings;

private:
    TNoDeviceLink NoLink;

public:
    IDeviceLink& Link;
    TFwUpdater Updater;

    // ---- Session ----
    TSession Session;
    // The adapter as its last reply described it.
    const TAdapterInfo& AdapterInfo() const { return Session.Identity.Info; }
    // Gets the focus when the session ends; lvModes also tells the running
    // mode's selection that the session came from the mode list.
    TControl* FocusAfterSession = nullptr;
    // The mode list's selected item.
    TListItem* SelectedModeItem = nullptr;
    // From Lock to Unlock a request holds the window: nothing enables the
    // controls that raise requests in between.
    bool Locked = false;
    // The port list as last shown, parallel to the items of cbCOM.
    TPortLists Ports;

    void RebuildPortList(bool force);
    // The selected port's device id; "" when nothing is selected.
    std::string SelectedDeviceId() const;

    // Whether btUpdateRun may start an upload now.
    void RefreshRunButton();

    // ---- The upload's view ----
    void ShowStatus(const std::string& text) override;
    void ClearStatus() override;
    void SetProgressRange(int max) override;
    void SetProgress(int position) override;
    int ProgressMax() const override;

    // ---- Start-up, mode list, About page ----
    // The program's arguments after its own name.
    std::vector<std::string> CommandLine;
    // Sort order, hidden modes and linked programs of the mode list.
    TModeList Modes;
    // Start-up found "WinTop" and "WinLeft": the window is not centred.
    bool HasSavedPosition = false;
    // Today's date, for the mail subjects.
    std::function<TLocalDate()> Today = LocalDateNow;

    // The selection handler's work; fromList tells an event of the list from
    // a call made by the window itself.
    void ModeItemSelected(TListItem* item, bool selected, bool fromList);
    std::string OrderMailText() const;
    void SendOrderMail();
    std::string AboutMailText() const;

    // ---- Pass-thru page: the library probe and the driver installer, with
    // the window as their view ----
    TPassThruProbe Probe{Settings, Platform.Libraries, *this};
    TDriverInstaller Installer{Settings, Platform.Files, *this};

    // ---- Page control and its pages ----
    TPageControl pcOptions{"pcOptions", this};
    TTabSheet tsSettings{"tsSettings", &pcOptions};
    TTabSheet Update{"Update", &pcOptions};
    TTabSheet J2534{"J2534", &pcOptions};
    TTabSheet About{"About", &pcOptions};
    TTabSheet tsTest{"tsTest", &pcOptions};

    // ---- Settings page ----
    TComboBox cbCOM{"cbCOM", &tsSettings};
    TButton btPortProp{"btPortProp", &tsSettings};
    TButton btRefresh{"btRefresh", &tsSettings};
    TButton btSearch{"btSearch", &tsSettings};
    TCheckBox cbShow{"cbShow", &tsSettings};
    TListView lvModes{"lvModes", &tsSettings};
    TListView lvInfo{"lvInfo", &tsSettings};
    TButton btModeSelect{"btModeSelect", &tsSettings};
    TButton btModeHide{"btModeHide", &tsSettings};
    TEdit edModeRun{"edModeRun", &tsSettings};
    TButton btModeFile{"btModeFile", &tsSettings};
    TButton btModeRun{"btModeRun", &tsSettings};
    TButton btModeFileDel{"btModeFileDel", &tsSettings};
    TMemo memLog{"memLog", &tsSettings};
    TButton btCopy{"btCopy", &tsSettings};

    // ---- Update page ----
    TGroupBox gbUpdate{"gbUpdate", &Update};
    TRadioButton rbUploadFW{"rbUploadFW", &gbUpdate};
    TRadioButton rbAddMode{"rbAddMode", &gbUpdate};
    TCheckBox ckbNotSearch{"ckbNotSearch", &gbUpdate};
    TCheckBox ckbWait{"ckbWait", &gbUpdate};
    TButton btReset{"btReset", &gbUpdate};
    TLabel Label5{"Label5", &gbUpdate};
    TEdit edFW_File{"edFW_File", &gbUpdate};
    TButton btFW_File{"btFW_File", &gbUpdate};
    TButton btUpdateRun{"btUpdateRun", &gbUpdate};
    TEdit edUpdateSatus{"edUpdateSatus", &gbUpdate};
    TProgressBar pbUpdateProgress{"pbUpdateProgress", &gbUpdate};
    TMemo memUpdate{"memUpdate", &gbUpdate};

    // ---- Passthru SAE J2534 page ----
    TGroupBox GroupBox_Devices{"GroupBox_Devices", &J2534};
    TLabel lbJ2534_Device{"lbJ2534_Device", &GroupBox_Devices};
    TComboBox cbJ2534_Devices{"cbJ2534_Devices", &GroupBox_Devices};
    TButton btJ2534_Refresh{"btJ2534_Refresh", &GroupBox_Devices};
    TLabel lbJ2534_Config{"lbJ2534_Config", &GroupBox_Devices};
    TEdit edJ2534_Config{"edJ2534_Config", &GroupBox_Devices};
    TButton btJ2534_Config{"btJ2534_Config", &GroupBox_Devices};
    TLabel lbJ2534_DLL{"lbJ2534_DLL", &GroupBox_Devices};
    TEdit edJ2534_DLL{"edJ2534_DLL", &GroupBox_Devices};
    TButton btJ2534_Load{"btJ2534_Load", &J2534};
    TButton btJ2534_Open{"btJ2534_Open", &J2534};
    TButton btJ2534_Version{"btJ2534_Version", &J2534};
    TButton btJ2534_Info{"btJ2534_Info", &J2534};
    TButton btJ2534_Copy{"btJ2534_Copy", &J2534};
    TMemo memJ2534{"memJ2534", &J2534};
    TGroupBox GroupBox_Driver{"GroupBox_Driver", &J2534};
    TButton btJ2534_Version_Check{"btJ2534_Version_Check", &GroupBox_Driver};
    TEdit edJ2534_Version_DLL{"edJ2534_Version_DLL", &GroupBox_Driver};
    TShape shJ2534_Version_DLL{"shJ2534_Version_DLL", &GroupBox_Driver};
    TLabel lbJ2534_Message{"lbJ2534_Message", &GroupBox_Driver};
    TButton btJ2534_Install{"btJ2534_Install", &GroupBox_Driver};
    TShape shJ2534_Install{"shJ2534_Install", &GroupBox_Driver};
    TProgressBar pbJ2534_Install{"pbJ2534_Install", &GroupBox_Driver};

    // ---- About page ----
    TGroupBox GroupBox_About{"GroupBox_About", &About};
    TImage imgLogo_QVX{"imgLogo_QVX", &GroupBox_About};
    TLabel lbName{"lbName", &GroupBox_About};
    TLabel lbVersion{"lbVersion", &GroupBox_About};
    TLabel lbCopy{"lbCopy", &GroupBox_About};
    TLabel lbVisit{"lbVisit", &GroupBox_About};
    TLabel lbRef{"lbRef", &GroupBox_About};
    TLabel lbPurchase{"lbPurchase", &GroupBox_About};
    TLabel lbMail{"lbMail", &GroupBox_About};
    TLabel lbRef_Over{"lbRef_Over", &GroupBox_About};
    TLabel lbRef_Off{"lbRef_Off", &GroupBox_About};

    // ---- Test page ----
    TButton btRunTest{"btRunTest", &tsTest};
    TShape shpTest_Result{"shpTest_Result", &tsTest};
    TEdit edTest_Result{"edTest_Result", &tsTest};
    TButton btCopyTest{"btCopyTest", &tsTest};
    TMemo memLogTest{"memLogTest", &tsTest};

    // ---- Adapter identity and power, below the page control ----
    TLabel lbSignature{"lbSignature", this};
    TEdit edSignature{"edSignature", this};
    TLabel lbSerial{"lbSerial", this};
    TEdit edSerial{"edSerial", this};
    TLabel lbCopyRight{"lbCopyRight", this};
    TEdit edCopyRight{"edCopyRight", this};
    TLabel lbHardware{"lbHardware", this};
    TEdit edHardware{"edHardware", this};
    TLabel lbBootVer{"lbBootVer", this};
    TEdit edBootVer{"edBootVer", this};
    TLabel lbVersionFw{"lbVersionFw", this};
    TEdit edVersion{"edVersion", this};
    TCheckBox cbPower{"cbPower", this};
    TEdit edPower{"edPower", this};
    TLabel lbPower{"lbPower", this};
    TButton btPower{"btPower", this};

    // ---- Not visible ----
    TTimer tmrSearch;
    TTimer tmrRefresh;
    // State pictures of the mode list, in state index order.
    TImageList ilIcons;

    // ---- Event handlers ----
    virtual void FormCreate();
    virtual void FormShow();
    // Whether the window may close now; a running upload asks the user first.
    virtual bool FormCloseQuery();
    virtual void FormClose();
    virtual void pcOptionsChange();

    virtual void cbPowerClick();
    virtual void cbCOMClick();
    virtual void btPortPropClick();
    virtual void btRefreshClick();
    virtual void btSearchClick();
    virtual void lvModesColumnClick(int column);
    virtual void lvModesCompare(TListItem* item1, TListItem* item2, int data, int& compare);
    virtual void lvModesDblClick();
    virtual void lvModesKeyPress(char& key);
    virtual void lvModesMouseUp(int button, int x, int y);
    virtual void lvModesSelectItem(TListItem* item, bool selected);
    virtual void btModeSelectClick();
    virtual void btModeHideClick();
    virtual void btModeFileClick();
    virtual void btModeRunClick();
    virtual void btModeFileDelClick();
    virtual void btCopyClick();

    virtual void edFW_FileChange();
    virtual void btFW_FileClick();
    virtual void rbUploadFWClick();
    virtual void rbAddModeClick();
    virtual void ckbNotSearchClick();
    virtual void btUpdateRunClick();
    virtual void btResetClick();

    virtual void cbJ2534_DevicesChange();
    virtual void btJ2534_RefreshClick();
    virtual void btJ2534_ConfigClick();
    virtual void btJ2534_LoadClick();
    virtual void btJ2534_OpenClick();
    virtual void btJ2534_VersionClick();
    virtual void btJ2534_InfoClick();
    virtual void memJ2534Change();
    virtual void btJ2534_CopyClick();
    virtual void btJ2534_Version_CheckClick();
    virtual void btJ2534_InstallClick();
    // One string value of a catalogue entry, read without changing the
    // catalogue; "" when the value or the entry is missing.
    std::string ReadCatalogueValue(const std::string& device, const std::string& value);

    virtual void lbRefMouseEnter();
    virtual void lbMailMouseEnter();
    virtual void lbRefMouseLeave();
    virtual void lbMailMouseLeave();
    virtual void lbRefClick();
    virtual void lbMailClick();

    virtual void btRunTestClick();
    virtual void memLogTestChange();
    virtual void btCopyTestClick();

    virtual void tmrSearchTimer();
    virtual void tmrRefreshTimer();

    // ---- The session's views (app/session_view.cpp, app/test_page.cpp) ----
    // The chosen port; nullptr when none is.
    const TPortEntry* SelectedPort();
    // What a request started now needs: the chosen port, mode and power.
    TRequestInputs RequestInputs();
    std::string PortText() override;
    void ArmTick(unsigned ms) override;
    void Lock() override;
    void Unlock(bool restoreFocus) override;
    void ClearIdentity() override;
    void ClearModes() override;
    void ShowLog(const std::vector<std::string>& lines) override;
    // The mode number of the chosen mode; "" when none.
    std::string ModeToSelect();
    // The external power the user asks for.
    bool PowerWanted();
    void EnablePages() override;
    bool StartUpload() override;
    bool Uploading() override;

    void ShowField(TIdentityField field, const std::string& text) override;
    void ShowPower(int visible, int enable, int switchState, int millivolts) override;
    bool ShowAllModes() override;
    size_t ModeCount() override;
    void AddMode(const TModeRow& row) override;
    void SortModes() override;
    const std::string& ModeNumberAt(size_t index) override;
    int ModeStateAt(size_t index) override;
    void SetModeStateAt(size_t index, int state) override;
    void SelectRunningMode(size_t index) override;
    void ModesChanged() override;

    size_t TestLineCount() override;
    void InsertTestText(const std::string& text) override;
    void ReplaceTestLine(size_t index, const std::string& text) override;
    std::string TestLogText() override;
    void AddTestLine(const std::string& line) override;
    void ShowTestResult(const std::string& counts, TTestVerdict verdict) override;

private:
    using TTimePeriodFn = unsigned(QVX_STDCALL*)(unsigned);
    LibraryHandle WinMm = nullptr;
    TTimePeriodFn TimeEndPeriod = nullptr;

    // The memo's whole text, selected so that the user sees what was taken,
    // goes to the clipboard.
    void CopyToClipboard(TMemo& memo);
    void InitControls();
    void ApplyLayout();
    void BindEvents();

    // The pass-thru page as its engines see it (app/passthru_page.cpp).
    void ClearProbeLog() override;
    void AddProbeLine(const std::string& line) override;
    void ShowLibraryLoaded() override;
    void ShowLibraryUnloaded() override;
    void ShowDeviceOpen() override;
    void ShowDeviceClosed() override;
    bool DriverOffered() override;
    void ShowInstalledVersion(const std::string& text) override;
    void HideVersionMarks() override;
    void ShowVersionMarks(bool current) override;
    void ShowDriverHint(const std::string& text) override;
    void HideDriverHint() override;
    int InstallProgress() override;
    int InstallProgressMax() override;
    void SetInstallProgress(int position) override;
    void MakerEntryWritten() override;
};

} // namespace qvx
