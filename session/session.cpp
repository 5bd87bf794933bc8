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

const char* SessionOutcomeName(TSessionOutcome outcome) {
    switch (outcome) {
    case soNone:
        return "none";
    case soDone:
        return "done";
    case soNotFound:
        return "not_found";
    case soNoSuchMode:
        return "no_such_mode";
    case soSelftestWarnings:
        return "selftest_warnings";
    case soSelftestErrors:
        return "selftest_errors";
    case soPortNotOpened:
        return "port_not_opened";
    case soBusy:
        return "busy";
    case soCancelled:
        break;
    }
    return "cancelled";
}

std::string SessionOutcomeText(TSessionOutcome outcome, const std::string& product,
                               const std::string& port) {
    switch (outcome) {
    case soNone:
        return "No request has ended";
    case soDone:
        return "Done";
    case soNotFound:
        return product + " Adapter is not found on Communication Port " + port;
    case soNoSuchMode:
        return "The adapter offers no such mode";
    case soSelftestWarnings:
        return "The self-test reported warnings";
    case soSelftestErrors:
        return "The self-test reported errors";
    case soPortNotOpened:
        return "Cannot open Communication Port " + port;
    case soBusy:
        return "Port " + port + " is busy: another program holds it open";
    case soCancelled:
        break;
    }
    return "interrupted";
}

TSession::TSession(IDeviceLink& link, TSettingsStore& settings, ISessionView& view,
                   IIdentityView& identityView, ISelfTestView& testView)
    : Exchange(link), Identity(settings, identityView), SelfTest(testView), Link(link),
      Settings(settings), View(view) {}

bool TSession::Start(TSessionState request, const TRequestInputs& inputs) {
    // One session at a time, whatever the user manages to click: the request
    // controls are disabled while one runs, and the link is never taken from
    // a session or an upload that holds it. A refused request changes
    // nothing of the one that runs.
    if (!LinkFree())
        return false;
    Inputs = inputs;
    LastOutcome = soNone;
    Exchange.NextStateOnReply = request;
    Exchange.SessionReceiving = true;
    Link.SetPortName(Inputs.Port ? Inputs.Port->Name : std::string());
    if (!Link.Open()) {
        EndWith(soPortNotOpened);
        return false;
    }
    SessionState = ssStart;
    View.ArmTick(TickMs);
    return true;
}

bool TSession::Search(const TRequestInputs& inputs) {
    if (!LinkFree())
        return false;
    IdentityAttempts = -1;
    return Start(ssClearIdentity, inputs);
}

bool TSession::Reset(const TRequestInputs& inputs) {
    if (!LinkFree())
        return false;
    IdentityAttempts = -1;
    return Start(ssSendReset, inputs);
}

void TSession::Cancel() {
    if (SessionState == ssIdle)
        return;
    View.ArmTick(0);
    SessionState = ssIdle;
    EndWith(soCancelled);
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
    Settings.ShowMessageBox(
        "Error...", SessionOutcomeText(soNotFound, Settings.AppProductName, View.PortText()),
        mb::IconStop);
}

void TSession::Finish(bool restoreFocus) {
    View.Unlock(restoreFocus);
    Link.Close();
    Exchange.ClearReceived();
    Exchange.EchoReply = nullptr;
    SelfTest.Reset();
}

void TSession::EndWith(TSessionOutcome outcome, bool restoreFocus) {
    Finish(restoreFocus);
    LastOutcome = outcome;
}

void TSession::FinishReply() {
    View.ShowLog(Identity.Read(ReplyLines(Exchange.LastReply)));
    EndWith(soDone);
}

bool TSession::Step() {
    switch (SessionState) {
    case ssStart:
        View.Lock();
        Exchange.ClearReceived();
        SelfTest.Reset();
        if (!Link.IsOpen()) {
            Settings.ShowMessageBox(
                "Error...",
                SessionOutcomeText(soPortNotOpened, Settings.AppProductName, View.PortText()),
                mb::IconStop);
            EndWith(soPortNotOpened);
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
        if (Inputs.Port)
            Settings.RegWriteStr("", "Port", Inputs.Port->Name);
        return false;

    case ssSendSelectMode:
        SessionState =
            Exchange.SendServiceCommand("!Morvek_SC_M", ssSendModeNumber, ssSendModeNumber);
        return true;

    case ssSendModeNumber:
        SessionState = Exchange.SendServiceCommand(Inputs.Mode, ssModeSelected, ssNotFound);
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
            Exchange.SendServiceCommand(Inputs.Power ? "1" : "0", ssPowerDone, ssNotFound);
        return true;

    case ssPowerDone:
        FinishReply();
        return false;

    case ssSendSelfTest:
        SessionState = Exchange.SendServiceCommand("!Morvek_SC_T", ssSelfTestDone, ssNotFound);
        Exchange.EchoReply = [this] { SelfTest.Echo(Exchange.RxText); };
        return true;

    case ssSelfTestDone:
        switch (SelfTest.Rate(Exchange.LastReply)) {
        case TTestVerdict::Ok:
            EndWith(soDone);
            break;
        case TTestVerdict::Warning:
            EndWith(soSelftestWarnings);
            break;
        default:
            EndWith(soSelftestErrors);
            break;
        }
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
        EndWith(soDone);
        return false;

    case ssNotFound:
        ShowNotFound();
        EndWith(soNotFound, false);
        return false;

    case ssSendReset:
        Link.Write("!Morvek_SC_R");
        EndWith(soDone);
        return false;

    default:
        // A state without a step ends the session rather than leave the
        // window locked.
        Finish();
        return false;
    }
}

} // namespace qvx
