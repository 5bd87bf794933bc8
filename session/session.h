#pragma once
// The session driver: every exchange with the adapter's service interface is
// one session on the chosen port, stepped by a 10 ms tick. A request (search,
// mode switch, power, self-test, upload, reset) names the state to enter once
// the port is open; the session then runs to its end on its own and shows
// what it gets through the window's views.
#include "platform/settings.h"
#include "serdev/link.h"
#include "session/exchange.h"
#include "session/identity.h"
#include "session/selftest.h"
#include "session/session_state.h"

#include <optional>
#include <string>
#include <vector>

namespace qvx {

// How a request ended.
enum TSessionOutcome {
    soNone,             // no request has ended yet
    soDone,             // the request ran to its end (an update: the upload was handed the link)
    soNotFound,         // the adapter did not answer
    soNoSuchMode,       // the adapter offers no such mode to select
    soSelftestWarnings, // the self-test reported warnings only
    soSelftestErrors,   // the self-test reported errors
    soPortNotOpened,    // the port cannot be opened
    soBusy,             // another program holds the port
    soCancelled,        // stopped by the user
};

// "done", "not_found", ... : the outcome's name in scripts and results.
const char* SessionOutcomeName(TSessionOutcome outcome);
// The outcome's text, as its box shows it where it has one; product and port
// as the user knows them.
std::string SessionOutcomeText(TSessionOutcome outcome, const std::string& product,
                               const std::string& port);

// What a request needs, given when it starts.
struct TRequestInputs {
    // The port the session opens; none when no port is chosen.
    std::optional<TPortEntry> Port;
    // The mode number a mode switch sends.
    std::string Mode;
    // The external power a power request asks for.
    bool Power = false;
};

class ISessionView {
public:
    virtual ~ISessionView() = default;
    // The port choice as the user sees it, for the boxes.
    virtual std::string PortText() = 0;
    // Arms the session tick (ms > 0) or stops it (0).
    virtual void ArmTick(unsigned ms) = 0;
    // The request controls while a session runs, and after it.
    virtual void Lock() = 0;
    // restoreFocus: the control the request came from gets the focus back.
    virtual void Unlock(bool restoreFocus) = 0;
    // A search starts: the identity, mode list, test log and power display
    // are emptied.
    virtual void ClearIdentity() = 0;
    // The mode list is emptied (a mode switch starts over).
    virtual void ClearModes() = 0;
    // The session log shows these lines.
    virtual void ShowLog(const std::vector<std::string>& lines) = 0;
    // The pages stay usable while the upload is prepared and runs.
    virtual void EnablePages() = 0;
    // Starts the upload on the open link; true when it runs.
    virtual bool StartUpload() = 0;
    virtual bool Uploading() = 0;
};

class TSession {
public:
    static constexpr unsigned TickMs = 10;
    static constexpr int IdentifyAttemptsMax = 4;

    TSession(IDeviceLink& link, TSettingsStore& settings, ISessionView& view,
             IIdentityView& identityView, ISelfTestView& testView);

    TServiceExchange Exchange;
    TIdentityReader Identity;
    TSelfTestEcho SelfTest;

    TSessionState State() const { return SessionState; }
    bool Idle() const { return SessionState == ssIdle; }
    // Neither a session nor an upload holds the link.
    bool LinkFree() { return SessionState == ssIdle && !View.Uploading(); }

    // Starts a session with request code request (ssClearIdentity,
    // ssSendSelectMode, ...). One session at a time, and never while an
    // upload holds the link: false then, as when the port does not open.
    bool Start(TSessionState request, const TRequestInputs& inputs);
    // The search for the adapter, which starts the identify attempts over.
    bool Search(const TRequestInputs& inputs);
    // The reset command; it starts the identify attempts over as well.
    bool Reset(const TRequestInputs& inputs);
    // Stops the running session at once (link closed, window unlocked):
    // soCancelled. Nothing when none runs.
    void Cancel();
    // How the last request ended; soNone while it runs and before the first.
    TSessionOutcome Outcome() const { return LastOutcome; }
    // One tick of the running session. A step that throws ends the session
    // (link closed, window unlocked, state idle); the exception is rethrown.
    void Tick();
    // "<product> Adapter is not found on Communication Port <port>".
    void ShowNotFound();

private:
    bool Step();
    void Finish(bool restoreFocus = true);
    // Finish, and the request ends with outcome.
    void EndWith(TSessionOutcome outcome, bool restoreFocus = true);
    void FinishReply();

    IDeviceLink& Link;
    TSettingsStore& Settings;
    ISessionView& View;
    TSessionState SessionState = ssIdle;
    TRequestInputs Inputs;
    TSessionOutcome LastOutcome = soNone;
    // Sends of "!Morvek_SC_I" so far; -1 before the first.
    int IdentityAttempts = -1;
};

// The CR LF separated lines of a reply body.
std::vector<std::string> ReplyLines(const Bytes& body);

} // namespace qvx
