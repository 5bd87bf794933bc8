#pragma once
// The service command exchange with the adapter's running firmware: bare
// 12-byte commands ("!Morvek_SC_" + one letter) and replies framed by the
// start marker "\r\nCR:" and the end marker "\r\n\r\n". The session driver
// owns one TServiceExchange and steps it from its 10 ms tick; nothing here
// blocks except FetchDriverImage.
//
// Receive text. Every received byte is appended to RxText. The framing step
// drops what comes before a start marker, moves a complete body into
// LastReply and keeps what follows the end marker for the next exchange of
// the same session. While no start marker has been seen only the last four
// bytes are kept (a start marker may be split across reads), so an adapter
// that babbles without ever framing a reply cannot make RxText grow without
// bound.
//
// Silence timeout. Every received chunk re-arms it, so it measures silence,
// not the length of the exchange: a reply that keeps streaming is waited for
// as long as it streams. Bytes that never bring a start marker do not hold a
// wait open for ever, though: a wait that has seen no start marker for
// UnframedTicksMax ticks ends as if the line had been silent (a device that
// streams noise, or a wrong device on the port, would otherwise keep the
// window locked with no way out).
//
// GUI thread only; no locks.
#include "platform/bytes.h"
#include "serdev/link.h"
#include "session/session_state.h"

#include <cstdint>
#include <functional>

namespace qvx {

class TServiceExchange {
public:
    // Units passed to ArmSilenceTimeout by every wait: 20 ticks.
    static constexpr int SilenceUnits = 10;
    // Ticks that one wait spends at most without a start marker: 3 s.
    static constexpr int UnframedTicksMax = 300;
    // Idle time that ends the driver reply.
    static constexpr uint32_t DriverIdleMs = 100;

    explicit TServiceExchange(IDeviceLink& link);

    // Bytes received in this session and not yet consumed.
    Bytes RxText;
    // A start marker has been seen and RxText begins with it.
    bool InReply = false;
    // Body of the last complete reply, from the "C" of "CR:" up to the end
    // marker.
    Bytes LastReply;
    // Ticks left before the wait for a reply gives up.
    int SilenceTicks = 0;
    // Ticks of the current wait without a start marker.
    int UnframedTicks = 0;
    // The session tick reads the link; false once the upload has the link.
    bool SessionReceiving = false;
    // Where the session goes when the awaited reply is complete, or when the
    // silence timeout expires. Before a session starts NextStateOnReply holds
    // the request code.
    TSessionState NextStateOnReply = ssIdle;
    TSessionState NextStateOnTimeout = ssIdle;
    // Called on every waiting tick while a reply is arriving (InReply), before
    // the framing step; the self-test echoes the reply into its memo with it.
    std::function<void()> EchoReply;

    // Empties RxText and clears InReply: at session start and end.
    void ClearReceived();

    // Writes text in one Write (its result is not examined: a command that
    // cannot be written ends in the timeout), records where to go on reply
    // and on timeout, and returns ssWaitSent, the state the session enters.
    [[nodiscard]] TSessionState SendServiceCommand(const Bytes& text, TSessionState onReply,
                                                   TSessionState onTimeout);
    // When count > 0: appends everything buffered on the link to RxText and
    // re-arms the silence timeout; true. Otherwise nothing; false.
    bool PumpInput(int32_t count);
    // The input side of a session tick: pumps the link while the session
    // receives and the link is open.
    void ReceiveTick();
    // SilenceTicks = 2 * units.
    void ArmSilenceTimeout(int units);
    // Counts one silent tick; true once the timeout has run out. An expired
    // (or never armed) timeout stays expired instead of counting on below
    // zero, so a wait can never outlive it.
    bool SilenceExpired();
    // The framing step; true when a complete reply has been moved into
    // LastReply.
    bool TakeReply();
    // One tick of the wait for a reply, in state ssWaitSent or ssWaitReply;
    // returns the state after it: the same wait state, ssWaitReply once the
    // command has left the writer, NextStateOnReply or NextStateOnTimeout
    // (after the silence timeout, or after UnframedTicksMax ticks without a
    // start marker).
    // Any other state is returned unchanged. The session continues after a
    // wait tick in every case.
    TSessionState StepWait(TSessionState state);

    // The one-shot "!Morvek_SC_D" exchange outside a session: opens the link
    // on its current port, writes the command, collects until the line is
    // quiet for 100 ms, closes the link. payload = every byte between the
    // first "[BEGIN]" and the first "[END]"; empty when either is missing or
    // "[END]" comes first. False (payload empty, nothing written) when the
    // link does not open.
    bool FetchDriverImage(Bytes& payload);

private:
    IDeviceLink& Link;
    // Where the search for the end marker goes on in RxText.
    size_t EndScanFrom = 0;
};

} // namespace qvx
