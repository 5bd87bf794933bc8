#pragma once
// The main window frmMain: every control with its caption, hint, initial state
// and place, and the binding of each event to its handler. The handlers are
// defined beside the work they belong to (session/, modes/, j2534/,
// app/update_page.cpp, app/startup.cpp, app/about.cpp); they are virtual so
// that a window can be observed or specialised without touching the bindings.
//
// Members are constructed in declaration order: a parent is always declared
// before its children. Places are set in one function, TfrmMain::ApplyLayout.
#include "app/controls/controls.h"

#include <functional>
#include <string>
#include <vector>

#include "platform/settings.h"
#include "fwupdate/Unitfwupdate.h"
#include "j2534/passthru.h"
#include "platform/callconv.h"
#include "platform/platform.h"
#include "serdev/link.h"
#include "serdev/no_link.h"
#include "session/exchange.h"
#include "session/identity.h"

namespace qvx {

struct TLocalDate {
    unsigned Year = 0;
    unsigned Month = 0;
    unsigned Day = 0;
};
// Today's local date.
TLocalDate LocalDateNow();

// The window is the upload's view (app/update_page.cpp): edUpdateSatus,
// memUpdate and pbUpdateProgress.
class TfrmMain : public TForm, public IUploadView {
public:
    // The window talks to the adapter through link; without one it has no
    // device (its link never opens).
    // Settings live below settingsKey.
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
    TServiceExchange Exchange;

    // ---- The adapter as its last reply described it ----
    TAdapterInfo AdapterInfo;
    // Length of the mode number of the last mode line parsed.
    int ModeNumberWidth = 0;
    // StoredModeLine while a reply is parsed.
    bool ParsingReply = false;
    bool ReplyModeRead = false;
    std::string ReplyMode;
    // Full path of the installed pass-thru library.
    std::string DriverDllPath;

    // ---- Session ----
    TSessionState SessionState = ssIdle;
    // Sends of "!Morvek_SC_I" so far; -1 before the first.
    int IdentityAttempts = -1;
    // Gets the focus when the session ends; lvModes also tells the running
    // mode's selection that the session came from the mode list.
    TControl* FocusAfterSession = nullptr;
    // The mode list's selected item.
    TListItem* SelectedModeItem = nullptr;
    // The port list as last shown, parallel to the items of cbCOM.
    TPortLists Ports;
    // Self-test echo: the memo the reply goes into, the 1-based position in
    // RxText of the next byte to echo, the memo line the next piece replaces
    // (0 = none).
    TMemo* EchoMemo = nullptr;
    int EchoPos = 3;
    int EchoLineIndex = 0;
    // Something of the current reply has been echoed.
    bool EchoedAny = false;

    bool StartSession();
    bool SessionStep();
    void FinishReply();
    void LockUi();
    void UnlockUi();
    void RebuildPortList(bool force);
    // The selected port's device id; "" when nothing is selected.
    std::string SelectedDeviceId() const;

    bool ParseReplyIntoLog();
    bool ParseIdentityLine(const std::string& line);
    // The setting "Mode" that a mode line is compared with. While
    // ParseReplyIntoLog reads a reply's lines it is read once, at the first
    // mode line: only the running-mode pass after the lines writes it.
    const std::string& StoredModeLine();
    void ApplySelectedMode(const std::string& line);
    void ShowPower(int visible, int enable, int switchState, int millivolts);

    void EchoReply(TMemo& memo);
    void RateSelfTest();

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
    // Sort column (0 "#", 1 "ID", 2 "Description") and direction (1 = down).
    int32_t SortCol = 0;
    int32_t SortDir = 0;
    // Start-up found "WinTop" and "WinLeft": the window is not centred.
    bool HasSavedPosition = false;
    // The pass-thru library the probe loaded, and its entry points.
    LibraryHandle PassThruLib = nullptr;
    TPassThruApi PassThru;
    // Device id from PassThruOpen; 0 = no device open.
    uint32_t PassThruDeviceId = 0;
    // Firmware, library and API version texts of PassThruReadVersion.
    char PassThruVersionText[3][PassThruVersionSize] = {};
    // Today's date, for the mail subjects.
    std::function<TLocalDate()> Today = LocalDateNow;

    // The selection handler's work; fromList tells an event of the list from
    // a call made by the window itself.
    void ModeItemSelected(TListItem* item, bool selected, bool fromList);
    std::string OrderMailText() const;
    void SendOrderMail();
    std::string AboutMailText() const;

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
    // Each is implemented beside the part it drives: app/startup.cpp,
    // app/about.cpp, session/, modes/, app/update_page.cpp, j2534/.
    virtual void FormCreate();
    virtual void FormShow();
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

private:
    using TTimePeriodFn = unsigned(QVX_STDCALL*)(unsigned);
    LibraryHandle WinMm = nullptr;
    TTimePeriodFn TimeEndPeriod = nullptr;

    void InitControls();
    void ApplyLayout();
    void BindEvents();
};

// Occurrences of word in text, case-sensitive and non-overlapping; -1 when
// text is empty.
int CountOccurrences(const std::string& text, const std::string& word);

} // namespace qvx
