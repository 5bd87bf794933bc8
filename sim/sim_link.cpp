#include "sim/sim_link.h"

#include <algorithm>
#include <cstdint>

namespace qvx {

namespace {
constexpr uint64_t kReadWaitStepUs = 1000;
}

bool TSimLink::Open() {
    if (Opened) {
        Close();
    }
    if (OpenFails || (Attached() && !Adapter.Connected())) {
        return false;
    }
    Opened = true;
    OnAdapter = Attached();
    if (OnAdapter) {
        Adapter.HostRead(SIZE_MAX); // opening purges what came while closed
    }
    Rx.clear();
    RxPos = 0;
    InFlight = 0;
    Held.clear();
    ++Opens;
    return true;
}

bool TSimLink::Close() {
    if (Opened) {
        ++Closes;
        // As the real link does: what leaves within the hand-over bound still
        // reaches the adapter; the clock passes while Close waits.
        if (!Held.empty()) {
            // Held writes leave in order: the last one tells how long it takes.
            const uint64_t now = Adapter.Now();
            const uint64_t lastAt = Held.back().ReadyAt; // UINT64_MAX: never
            AdvanceTo(lastAt - now <= kCloseDrainUs ? lastAt : now + kCloseDrainUs);
        }
    }
    Held.clear();
    // Whatever was received and not taken is lost with the port.
    Opened = false;
    OnAdapter = false;
    Rx.clear();
    RxPos = 0;
    InFlight = 0;
    return true;
}

bool TSimLink::Write(const Bytes& bytes) {
    if (!Opened) {
        return bytes.empty();
    }
    if (bytes.empty()) {
        return true;
    }
    Written.push_back(bytes);
    InFlight += static_cast<int32_t>(std::min<size_t>(bytes.size(), kBufferSize));
    if (!OnAdapter) {
        return true;
    }
    const TSimAdapter::TWriteFaults faults = Adapter.WriteFaults();
    if (!faults.Stall && faults.DelayUs == 0 && Held.empty()) {
        Adapter.HostWrite(bytes);
        return true;
    }
    THeldWrite w;
    w.Data = bytes;
    if (faults.Stall || (!Held.empty() && Held.back().ReadyAt == UINT64_MAX)) {
        w.ReadyAt = UINT64_MAX;
    } else {
        const uint64_t from = Held.empty() ? Adapter.Now() : Held.back().ReadyAt;
        w.ReadyAt = from + faults.DelayUs;
    }
    Held.push_back(std::move(w));
    return true;
}

// The consumer has taken the whole buffer: it starts again from empty.
void TSimLink::Release() {
    if (RxPos == kBufferSize) {
        Rx.clear();
        RxPos = 0;
    }
}

// The reader's part: move what the adapter has sent into the free room.
void TSimLink::Pull() {
    if (!Opened || !OnAdapter || Rx.size() >= kBufferSize) {
        return;
    }
    Rx += Adapter.HostRead(kBufferSize - Rx.size());
}

int32_t TSimLink::InputCount() {
    if (!Opened) {
        return 0;
    }
    Pull();
    int32_t count = static_cast<int32_t>(Rx.size() - RxPos);
    Release();
    return count;
}

int32_t TSimLink::OutputCount() {
    if (!Opened) {
        return 0;
    }
    Release();
    if (!Held.empty()) {
        return static_cast<int32_t>(std::min(Held.front().Data.size(), kBufferSize));
    }
    return InFlight;
}

bool TSimLink::ReadAvailable(Bytes& text) {
    if (!Opened) {
        return true;
    }
    Release();
    Pull();
    if (Rx.size() <= RxPos) {
        return true;
    }
    text = Rx.substr(RxPos);
    RxPos = Rx.size();
    return true;
}

bool TSimLink::ReadWait(Bytes& text, uint32_t idleMs, uint32_t totalMs) {
    Bytes collected;
    const uint64_t idleUs = static_cast<uint64_t>(idleMs) * 1000;
    const uint64_t totalUs = static_cast<uint64_t>(totalMs) * 1000;
    uint64_t quietUs = 0;
    uint64_t spentUs = 0;
    while (Opened && collected.size() < kReadWaitLimit && (totalUs == 0 || spentUs < totalUs)) {
        Release();
        Pull();
        size_t n = std::min(Rx.size() - RxPos, kReadWaitLimit - collected.size());
        if (n > 0) {
            collected.append(Rx, RxPos, n);
            RxPos += n;
            quietUs = 0;
            continue;
        }
        if (quietUs >= idleUs) {
            break;
        }
        uint64_t step = std::min(kReadWaitStepUs, idleUs - quietUs);
        if (totalUs > 0)
            step = std::min(step, totalUs - spentUs);
        Advance(step);
        quietUs += step;
        spentUs += step;
    }
    if (collected.empty()) {
        return false;
    }
    text = collected;
    return true;
}

uint8_t TSimLink::SetByteSize(uint8_t bits) {
    Bits = bits;
    BitsSet.push_back(bits);
    return Bits;
}

void TSimLink::GetPortLists(TPortLists& lists) {
    lists.Entries.insert(lists.Entries.end(), Lists.Entries.begin(), Lists.Entries.end());
}

void TSimLink::Advance(uint64_t microseconds) {
    InFlight = 0;
    const uint64_t now = Adapter.Now();
    AdvanceTo(now + std::min(microseconds, UINT64_MAX - 1 - now));
    Pull();
}

void TSimLink::AdvanceTo(uint64_t target) {
    while (!Held.empty() && Held.front().ReadyAt <= target) {
        const uint64_t now = Adapter.Now();
        if (Held.front().ReadyAt > now) {
            Adapter.Advance(Held.front().ReadyAt - now);
        }
        Adapter.HostWrite(Held.front().Data);
        Held.pop_front();
    }
    const uint64_t now = Adapter.Now();
    if (target > now) {
        Adapter.Advance(target - now);
    }
}

} // namespace qvx
