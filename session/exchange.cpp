#include "session/exchange.h"

#include <algorithm>

namespace qvx {

namespace {

const Bytes StartMark("\r\nCR:");
const Bytes EndMark("\r\n\r\n");
const Bytes DriverCommand("!Morvek_SC_D");
const Bytes DriverBegin("[BEGIN]");
const Bytes DriverEnd("[END]");

} // namespace

TServiceExchange::TServiceExchange(IDeviceLink& link) : Link(link) {}

void TServiceExchange::ClearReceived() {
    RxText.clear();
    InReply = false;
    EndScanFrom = 0;
}

TSessionState TServiceExchange::SendServiceCommand(const Bytes& text, TSessionState onReply,
                                                   TSessionState onTimeout) {
    Link.Write(text);
    NextStateOnReply = onReply;
    NextStateOnTimeout = onTimeout;
    return ssWaitSent;
}

bool TServiceExchange::PumpInput(int32_t count) {
    if (count <= 0)
        return false;
    Bytes chunk;
    Link.ReadAvailable(chunk);
    RxText += chunk;
    ArmSilenceTimeout(SilenceUnits);
    return true;
}

void TServiceExchange::ReceiveTick() {
    if (SessionReceiving && Link.IsOpen())
        PumpInput(Link.InputCount());
}

void TServiceExchange::ArmSilenceTimeout(int units) {
    SilenceTicks = 2 * units;
}

bool TServiceExchange::SilenceExpired() {
    if (SilenceTicks > 0)
        --SilenceTicks;
    return SilenceTicks <= 0;
}

bool TServiceExchange::TakeReply() {
    if (!InReply) {
        size_t start = RxText.find(StartMark);
        if (start == Bytes::npos) {
            // Nothing before a start marker is ever used; keep only what may
            // be the first bytes of one.
            if (RxText.size() >= StartMark.size())
                RxText.erase(0, RxText.size() - (StartMark.size() - 1));
            return false;
        }
        RxText.erase(0, start);
        InReply = true;
        EndScanFrom = 0;
    }
    // The body starts at the "C" of the start marker; the marker's own CR LF
    // cannot begin the end marker. Text searched on an earlier tick holds no
    // end marker, so the search goes on where one could still begin: a reply
    // that streams over many ticks is read once, not once a tick.
    const size_t bodyStart = 2;
    const size_t from = std::max(bodyStart, std::min(EndScanFrom, RxText.size()));
    size_t end = RxText.find(EndMark, from);
    if (end == Bytes::npos) {
        EndScanFrom = RxText.size() >= EndMark.size() ? RxText.size() - (EndMark.size() - 1) : 0;
        return false;
    }
    LastReply = RxText.substr(bodyStart, end - bodyStart);
    RxText.erase(0, end + EndMark.size());
    InReply = false;
    EndScanFrom = 0;
    return true;
}

TSessionState TServiceExchange::StepWait(TSessionState state) {
    if (state == ssWaitSent) {
        if (Link.OutputCount() > 0)
            return ssWaitSent;
        ArmSilenceTimeout(SilenceUnits);
        UnframedTicks = 0;
        state = ssWaitReply;
    }
    if (state != ssWaitReply)
        return state;
    if (EchoReply && InReply)
        EchoReply();
    if (TakeReply())
        return NextStateOnReply;
    if (SilenceExpired())
        return NextStateOnTimeout;
    if (!InReply && ++UnframedTicks >= UnframedTicksMax)
        return NextStateOnTimeout;
    return ssWaitReply;
}

bool TServiceExchange::FetchDriverImage(Bytes& payload) {
    payload.clear();
    if (!Link.Open())
        return false;
    Link.Write(DriverCommand);
    Bytes reply;
    bool received = Link.ReadWait(reply, DriverIdleMs);
    Link.Close();
    if (!received)
        return true;
    size_t begin = reply.find(DriverBegin);
    size_t end = reply.find(DriverEnd);
    if (begin == Bytes::npos || end == Bytes::npos || end < begin + DriverBegin.size())
        return true;
    size_t from = begin + DriverBegin.size();
    payload = reply.substr(from, end - from);
    return true;
}

} // namespace qvx
