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
// Receive bound. A reply that passes ReplyMaxBytes without its end marker
// is no reply at all (the largest identity fits in 64 KiB): the wait ends as
// if the line had been silent, and what was received of it is dropped.
//
// Sent bound. A command that has not left the link within SentTicksMax ticks
// (a line that holds its output back) ends the wait as the silence timeout
// does: the request goes on to its timeout state.
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

// How the driver image read ended.
enum TDriverImageResult {
    diReceived,      // a complete, non-empty image between its markers
    diNoImage,       // nothing, or no complete "[BEGIN]"..."[END]" image
    diPortNotOpened, // the link did not open; nothing was written
};

// "image received", "no complete image", "port not opened".
const char* DriverImageResultText(TDriverImageResult result);

class TServiceExchange {
public:
    // Units passed to ArmSilenceTimeout by every wait: 20 ticks.
    static constexpr int SilenceUnits = 10;
    // Ticks that one wait spends at most without a start marker: 3 s.
    static constexpr int UnframedTicksMax = 300;
    // Ticks that a command may take to leave the link: the silence timeout.
    static constexpr int SentTicksMax = 2 * SilenceUnits;
    // Size at which a reply without its end marker ends the wait.
    static constexpr size_t ReplyMaxBytes = size_t{1} << 20;
    // Idle time that ends the driver reply.
    static constexpr uint32_t DriverIdleMs = 100;
    // Overall limit of the driver reply. A full image (65,536 bytes) takes
    // 5.7 s at the line's 11,520 bytes/s; 10 s leaves room for a device that
    // is slow to start or pauses between its USB packets, and a read that
    // trickles cannot hold the window for longer.
    static constexpr uint32_t DriverTotalMs = 10000;
    // Size at which the driver reply ends.
    static constexpr size_t DriverMaxBytes = 65536;

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
    // Ticks spent waiting for the command to leave the link.
    int SentTicks = 0;
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
    // (after SentTicksMax ticks with the command still in the writer, after
    // the silence timeout, after UnframedTicksMax ticks without a start
    // marker, or once a reply passes ReplyMaxBytes without its end).
    // Any other state is returned unchanged. The session continues after a
    // wait tick in every case.
    TSessionState StepWait(TSessionState state);

    // The one-shot "!Morvek_SC_D" exchange outside a session: opens the link
    // on its current port, writes the command, collects until the line is
    // quiet for DriverIdleMs, DriverMaxBytes have come or DriverTotalMs have
    // passed, closes the link. payload = every byte between the first
    // "[BEGIN]" and the first "[END]" when both came in that order with
    // something between them (diReceived); empty otherwise.
    [[nodiscard]] TDriverImageResult FetchDriverImage(Bytes& payload);

private:
    IDeviceLink& Link;
    // Where the search for the end marker goes on in RxText.
    size_t EndScanFrom = 0;
};

} // namespace qvx
