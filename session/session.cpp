// The session driver: every exchange with the adapter's service interface is
// one session on the port chosen in cbCOM, stepped by the 10 ms timer
// tmrSearch; and the port combo kept in step with the link's port lists.
#include "app/Unitmain.h"
#include "platform/callconv.h"

namespace qvx {

namespace {

constexpr unsigned SessionTickMs = 10;
constexpr unsigned RefreshMs = 500;
constexpr int IdentifyAttemptsMax = 4;

} // namespace

void AddReplyLines(TMemo& memo, const Bytes& body);

std::string TfrmMain::SelectedDeviceId() const {
    const TPortEntry* port = Ports.At(cbCOM.ItemIndex());
    return port ? port->DeviceId : std::string();
}

bool TfrmMain::StartSession() {
    // One session at a time, whatever the user manages to click: the request
    // controls are disabled while one runs, and the link is never taken from
    // a session or an upload that holds it.
    if (SessionState != ssIdle || Updater.IsUploading())
        return false;
    Exchange.SessionReceiving = true;
    if (const TPortEntry* port = Ports.At(cbCOM.ItemIndex()))
        Link.SetPortName(port->Name);
    else
        Link.SetPortName("");
    if (!Link.Open()) {
        UnlockUi();
        return false;
    }
    SessionState = ssStart;
    tmrSearch.SetInterval(SessionTickMs);
    return true;
}

void TfrmMain::tmrSearchTimer() {
    tmrSearch.SetInterval(0);
    Exchange.ReceiveTick();
    if (SessionStep())
        tmrSearch.SetInterval(SessionTickMs);
    else
        SessionState = ssIdle;
}

void TfrmMain::LockUi() {
    pcOptions.SetEnabled(false);
    ShowPower(-1, 0, -1, -1);
    lvModes.SetEnabled(false);
    memLog.Clear();
    for (TControl* c : std::initializer_list<TControl*>{
             &btModeSelect, &btCopy, &btSearch, &btModeHide, &cbShow, &btModeFile, &btModeFileDel,
             &btModeRun, &cbCOM, &btRefresh, &btPortProp, &btUpdateRun})
        c->SetEnabled(false);
}

void TfrmMain::UnlockUi() {
    pcOptions.SetEnabled(true);
    ShowPower(-1, 1, -1, -1);
    lvModes.SetEnabled(true);
    btSearch.SetEnabled(true);
    cbShow.SetEnabled(true);
    cbCOM.SetEnabled(true);
    btPortProp.SetEnabled(!SelectedDeviceId().empty());
    btRefresh.SetEnabled(true);
    btCopy.SetEnabled(!memLog.IsEmpty());
    RefreshRunButton();
    Link.Close();
    Exchange.ClearReceived();
    btUpdateRun.SetCaption("Run");
    if (FocusAfterSession) {
        SetActiveControl(FocusAfterSession);
        if (FocusAfterSession == &lvModes && lvModes.Count() > 0) {
            lvModes.AlphaSort();
            if (SelectedModeItem)
                lvModes.MakeVisible(SelectedModeItem);
        }
    }
    FocusAfterSession = nullptr;
    EchoMemo = nullptr;
    Exchange.EchoReply = nullptr;
    EchoPos = 3;
    EchoLineIndex = 0;
    EchoedAny = false;
}

// The body's CR LF separated lines become lines of the memo, in one change:
// a long reply must not make the memo show its text once per line.
void AddReplyLines(TMemo& memo, const Bytes& body) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < body.size()) {
        size_t brk = body.find("\r\n", start);
        if (brk == Bytes::npos) {
            lines.push_back(body.substr(start));
            break;
        }
        lines.push_back(body.substr(start, brk - start));
        start = brk + 2;
    }
    memo.AddLines(lines);
}

void TfrmMain::FinishReply() {
    AddReplyLines(memLog, Exchange.LastReply);
    ParseReplyIntoLog();
    UnlockUi();
}

bool TfrmMain::SessionStep() {
    switch (SessionState) {
    case ssStart:
        LockUi();
        Exchange.ClearReceived();
        EchoPos = 3;
        EchoedAny = false;
        if (!Link.IsOpen()) {
            Settings.ShowMessageBox("Error...", "Cannot open Communication Port " + cbCOM.Text(),
                                    mb::IconStop);
            UnlockUi();
            return false;
        }
        SessionState = Exchange.NextStateOnReply;
        return true;

    case ssClearIdentity:
        lvModes.Clear();
        SelectedModeItem = nullptr;
        for (TEdit* e : {&edModeRun, &edSerial, &edTest_Result, &edCopyRight, &edSignature,
                         &edVersion, &edBootVer, &edHardware})
            e->SetText("");
        memLogTest.Clear();
        shpTest_Result.SetBrushColor(clScrollBar);
        tsTest.SetTabVisible(false);
        lbJ2534_Message.SetVisible(false);
        pbJ2534_Install.SetVisible(false);
        shJ2534_Install.SetVisible(false);
        btJ2534_Install.SetEnabled(false);
        ShowPower(0, 0, 0, 0);
        SessionState = ssSendIdentify;
        return true;

    case ssSendIdentify:
        ++IdentityAttempts;
        if (IdentityAttempts < IdentifyAttemptsMax) {
            SessionState =
                Exchange.SendServiceCommand("!Morvek_SC_I", ssIdentityDone, ssSendIdentify);
        } else {
            IdentityAttempts = 0;
            SessionState = ssNotFound;
        }
        return true;

    case ssWaitSent:
    case ssWaitReply:
        SessionState = Exchange.StepWait(SessionState);
        return true;

    case ssIdentityDone: {
        FinishReply();
        if (const TPortEntry* port = Ports.At(cbCOM.ItemIndex()))
            Settings.RegWriteStr("", "Port", port->Name);
        return false;
    }

    case ssSendSelectMode:
        SessionState =
            Exchange.SendServiceCommand("!Morvek_SC_M", ssSendModeNumber, ssSendModeNumber);
        return true;

    case ssSendModeNumber: {
        std::string number;
        if (SelectedModeItem && lvModes.IndexOf(SelectedModeItem) >= 0 &&
            !SelectedModeItem->SubItems.empty())
            number = SelectedModeItem->SubItems[0];
        SessionState = Exchange.SendServiceCommand(number, ssModeSelected, ssNotFound);
        return true;
    }

    case ssModeSelected:
        lvModes.Clear();
        SelectedModeItem = nullptr;
        memLog.Clear();
        FinishReply();
        Link.RequestUsbRescan();
        return false;

    case ssSendPower:
        SessionState = Exchange.SendServiceCommand("!Morvek_SC_P", ssSendPowerArg, ssSendPowerArg);
        return true;

    case ssSendPowerArg:
        SessionState =
            Exchange.SendServiceCommand(cbPower.Checked() ? "1" : "0", ssPowerDone, ssNotFound);
        return true;

    case ssPowerDone:
        FinishReply();
        return false;

    case ssSendSelfTest:
        SessionState = Exchange.SendServiceCommand("!Morvek_SC_T", ssSelfTestDone, ssNotFound);
        EchoMemo = &memLogTest;
        Exchange.EchoReply = [this] {
            if (EchoMemo)
                EchoReply(*EchoMemo);
        };
        return true;

    case ssSelfTestDone:
        RateSelfTest();
        UnlockUi();
        return false;

    case ssSendUpdate:
        pcOptions.SetEnabled(true);
        SessionState = Exchange.SendServiceCommand("!Morvek_SC_U", ssStartUpload, ssNotFound);
        return true;

    case ssStartUpload:
    case ssStartUploadDirect:
        pcOptions.SetEnabled(true);
        memLog.Clear();
        AddReplyLines(memLog, Exchange.LastReply);
        Exchange.SessionReceiving = false;
        if (Updater.StartUpload(Link, edFW_File.Text(), ckbWait.Checked()))
            btUpdateRun.SetEnabled(true);
        SessionState = ssUploading;
        [[fallthrough]];

    case ssUploading:
        if (Updater.IsUploading())
            return true;
        UnlockUi();
        return false;

    case ssNotFound:
        Settings.ShowMessageBox("Error...",
                                Settings.AppProductName +
                                    " Adapter is not found on Communication Port " + cbCOM.Text(),
                                mb::IconStop);
        FocusAfterSession = nullptr;
        UnlockUi();
        return false;

    case ssSendReset:
        Link.Write("!Morvek_SC_R");
        UnlockUi();
        return false;

    default:
        // A state without a step ends the session rather than leave the
        // window locked.
        UnlockUi();
        return false;
    }
}

void TfrmMain::RebuildPortList(bool force) {
    TPortLists fresh;
    Link.GetPortLists(fresh);
    if (!force && fresh == Ports)
        return;
    Ports = TPortLists();
    cbCOM.ClearItems();
    if (fresh.Count() > 0) {
        const std::string stored = Settings.RegReadStr("", "Port", fresh.Entries[0].Name);
        std::vector<std::string> items;
        int selected = -1;
        for (size_t i = 0; i < fresh.Count(); ++i) {
            const TPortEntry& e = fresh.Entries[i];
            items.push_back(e.Name + " (" + e.Description + ")");
            if (e.Name == stored && selected < 0)
                selected = static_cast<int>(i);
        }
        Ports = fresh;
        cbCOM.SetItems(items);
        if (selected < 0)
            selected = 0;
        cbCOM.SetItemIndex(selected);
        btPortProp.SetEnabled(!SelectedDeviceId().empty());
    }
    btSearch.SetEnabled(cbCOM.Items().size() > 0);
}

void TfrmMain::tmrRefreshTimer() {
    tmrRefresh.SetInterval(0);
    RebuildPortList(false);
    tmrRefresh.SetInterval(RefreshMs);
}

void TfrmMain::btRefreshClick() {
    Link.RequestUsbRescan();
    tmrRefresh.SetInterval(1);
}

void TfrmMain::cbCOMClick() {
    const int i = cbCOM.ItemIndex();
    if (i < 0) {
        btSearch.SetEnabled(false);
        return;
    }
    if (const TPortEntry* port = Ports.At(i))
        Settings.RegWriteStr("", "Port", port->Name);
    btPortProp.SetEnabled(!SelectedDeviceId().empty());
}

void TfrmMain::btSearchClick() {
    lvInfo.SetVisible(cbShow.Checked());
    if (cbShow.Checked())
        lvInfo.SetBounds(lvInfo.Left(), lvInfo.Top(), btModeRun.Width(),
                         btModeRun.Top() - lvInfo.Top());
    FocusAfterSession = &lvModes;
    SelectedModeItem = nullptr;
    IdentityAttempts = -1;
    Exchange.NextStateOnReply = ssClearIdentity;
    StartSession();
}

void TfrmMain::btPortPropClick() {
    using TDevicePropertiesExA = int(QVX_STDCALL*)(void*, const char*, const char*, uint32_t, int);
    LibraryHandle lib = Platform.Libraries.Load("devmgr.dll");
    if (!lib)
        return;
    if (auto show =
            ResolveAs<TDevicePropertiesExA>(Platform.Libraries, lib, "DevicePropertiesExA")) {
        const std::string id = SelectedDeviceId();
        show(NativeHandle, nullptr, id.c_str(), 0, 0);
    }
    Platform.Libraries.Free(lib);
}

void TfrmMain::btCopyClick() {
    memLog.SelectAll();
    Platform.UserIo.SetClipboardText(memLog.Text());
}

} // namespace qvx
