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

const char* DriverImageResultText(TDriverImageResult result) {
    switch (result) {
    case diReceived:
        return "image received";
    case diNoImage:
        return "no complete image";
    case diPortNotOpened:
        break;
    }
    return "port not opened";
}

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
    SentTicks = 0;
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
            return ++SentTicks >= SentTicksMax ? NextStateOnTimeout : ssWaitSent;
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
    if (InReply && RxText.size() > ReplyMaxBytes) {
        // Nothing of a runaway reply is of use; what follows it is babble
        // until the next start marker.
        ClearReceived();
        return NextStateOnTimeout;
    }
    if (SilenceExpired())
        return NextStateOnTimeout;
    if (!InReply && ++UnframedTicks >= UnframedTicksMax)
        return NextStateOnTimeout;
    return ssWaitReply;
}

TDriverImageResult TServiceExchange::FetchDriverImage(Bytes& payload) {
    payload.clear();
    if (!Link.Open())
        return diPortNotOpened;
    Link.Write(DriverCommand);
    Bytes reply;
    const bool received = Link.ReadWait(reply, DriverIdleMs, DriverTotalMs);
    Link.Close();
    if (!received)
        return diNoImage;
    // A read that the deadline or the size limit cut short holds no "[END]"
    // after its "[BEGIN]".
    reply.resize(std::min(reply.size(), DriverMaxBytes));
    const size_t begin = reply.find(DriverBegin);
    if (begin == Bytes::npos)
        return diNoImage;
    const size_t from = begin + DriverBegin.size();
    const size_t end = reply.find(DriverEnd);
    if (end == Bytes::npos || end <= from)
        return diNoImage;
    payload = reply.substr(from, end - from);
    return diReceived;
}

} // namespace qvx
