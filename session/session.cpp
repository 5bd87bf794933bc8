#include "session/session.h"

namespace qvx {

std::vector<std::string> ReplyLines(const Bytes& body) {
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
    return lines;
}

TSession::TSession(IDeviceLink& link, TSettingsStore& settings, ISessionView& view,
                   IIdentityView& identityView, ISelfTestView& testView)
    : Exchange(link), Identity(settings, identityView), SelfTest(testView), Link(link),
      Settings(settings), View(view) {}

bool TSession::Start(TSessionState request) {
    // One session at a time, whatever the user manages to click: the request
    // controls are disabled while one runs, and the link is never taken from
    // a session or an upload that holds it. A refused request changes
    // nothing of the one that runs.
    if (!LinkFree())
        return false;
    Exchange.NextStateOnReply = request;
    Exchange.SessionReceiving = true;
    const TPortEntry* port = View.SelectedPort();
    Link.SetPortName(port ? port->Name : std::string());
    if (!Link.Open()) {
        Finish();
        return false;
    }
    SessionState = ssStart;
    View.ArmTick(TickMs);
    return true;
}

bool TSession::Search() {
    if (!LinkFree())
        return false;
    IdentityAttempts = -1;
    return Start(ssClearIdentity);
}

bool TSession::Reset() {
    if (!LinkFree())
        return false;
    IdentityAttempts = -1;
    return Start(ssSendReset);
}

void TSession::Tick() {
    View.ArmTick(0);
    try {
        Exchange.ReceiveTick();
        if (Step())
            View.ArmTick(TickMs);
        else
            SessionState = ssIdle;
    } catch (...) {
        // A step that throws ends its session as any end does: the link
        // closed, the window unlocked. The error itself goes on to whoever
        // shows errors that escape a handler.
        SessionState = ssIdle;
        Finish();
        throw;
    }
}

void TSession::ShowNotFound() {
    Settings.ShowMessageBox("Error...",
                            Settings.AppProductName +
                                " Adapter is not found on Communication Port " + View.PortText(),
                            mb::IconStop);
}

void TSession::Finish(bool restoreFocus) {
    View.Unlock(restoreFocus);
    Link.Close();
    Exchange.ClearReceived();
    Exchange.EchoReply = nullptr;
    SelfTest.Reset();
}

void TSession::FinishReply() {
    View.ShowLog(Identity.Read(ReplyLines(Exchange.LastReply)));
    Finish();
}

bool TSession::Step() {
    switch (SessionState) {
    case ssStart:
        View.Lock();
        Exchange.ClearReceived();
        SelfTest.Reset();
        if (!Link.IsOpen()) {
            Settings.ShowMessageBox("Error...", "Cannot open Communication Port " + View.PortText(),
                                    mb::IconStop);
            Finish();
            return false;
        }
        SessionState = Exchange.NextStateOnReply;
        return true;

    case ssClearIdentity:
        View.ClearIdentity();
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

    case ssIdentityDone:
        FinishReply();
        if (const TPortEntry* port = View.SelectedPort())
            Settings.RegWriteStr("", "Port", port->Name);
        return false;

    case ssSendSelectMode:
        SessionState =
            Exchange.SendServiceCommand("!Morvek_SC_M", ssSendModeNumber, ssSendModeNumber);
        return true;

    case ssSendModeNumber:
        SessionState = Exchange.SendServiceCommand(View.ModeToSelect(), ssModeSelected, ssNotFound);
        return true;

    case ssModeSelected:
        View.ClearModes();
        FinishReply();
        Link.RequestUsbRescan();
        return false;

    case ssSendPower:
        SessionState = Exchange.SendServiceCommand("!Morvek_SC_P", ssSendPowerArg, ssSendPowerArg);
        return true;

    case ssSendPowerArg:
        SessionState =
            Exchange.SendServiceCommand(View.PowerWanted() ? "1" : "0", ssPowerDone, ssNotFound);
        return true;

    case ssPowerDone:
        FinishReply();
        return false;

    case ssSendSelfTest:
        SessionState = Exchange.SendServiceCommand("!Morvek_SC_T", ssSelfTestDone, ssNotFound);
        Exchange.EchoReply = [this] { SelfTest.Echo(Exchange.RxText); };
        return true;

    case ssSelfTestDone:
        SelfTest.Rate(Exchange.LastReply);
        Finish();
        return false;

    case ssSendUpdate:
        View.EnablePages();
        SessionState = Exchange.SendServiceCommand("!Morvek_SC_U", ssStartUpload, ssNotFound);
        return true;

    case ssStartUpload:
    case ssStartUploadDirect:
        View.EnablePages();
        View.ShowLog(ReplyLines(Exchange.LastReply));
        Exchange.SessionReceiving = false;
        View.StartUpload();
        SessionState = ssUploading;
        [[fallthrough]];

    case ssUploading:
        if (View.Uploading())
            return true;
        Finish();
        return false;

    case ssNotFound:
        ShowNotFound();
        Finish(false);
        return false;

    case ssSendReset:
        Link.Write("!Morvek_SC_R");
        Finish();
        return false;

    default:
        // A state without a step ends the session rather than leave the
        // window locked.
        Finish();
        return false;
    }
}

} // namespace qvx
