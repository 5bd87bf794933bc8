#pragma once
// A device link wired to a simulated adapter, for the native tests of the
// session, the upload and the driver installation. It keeps the real link's
// observable rules: a linear 16384-byte receive buffer that refills only once
// it has been read empty, 65536 bytes at most per ReadWait, nothing read or
// written while closed. Time is the adapter's simulated clock: tests call
// Advance, and ReadWait advances it itself while it waits.
//
// Written bytes count as "in flight" (OutputCount) until the next Advance.
// With the adapter's fault.write.delay a write reaches the adapter and leaves
// the flight that long after it was written (writes follow one another); with
// fault.write.stall it never does. Close lets the writes leave that complete
// within the real link's hand-over bound of 1000 ms (the simulated clock
// passes while it waits) and drops the rest.
// Only the adapter's port (SetAdapterPort; empty = every name) reaches the
// adapter; any other name opens onto a port where nothing answers. A
// disconnected adapter makes Open of its port fail and stops its input. Like
// the real link, Open purges: what the adapter sent while the port was closed
// is lost. One thread at a time uses a link (the adapter itself is
// thread-safe).
#include "serdev/link.h"
#include "sim/sim_adapter.h"

#include <deque>
#include <vector>

namespace qvx {

class TSimLink : public IDeviceLink {
public:
    explicit TSimLink(TSimAdapter& adapter) : Adapter(adapter) {}

    void SetPortName(const Bytes& name) override { Port = name; }
    const Bytes& PortName() const override { return Port; }

    bool Open() override;
    bool Close() override;
    bool IsOpen() const override { return Opened; }
    // The adapter behind the open port was disconnected.
    bool Lost() override { return Opened && OnAdapter && !Adapter.Connected(); }
    bool Write(const Bytes& bytes) override;
    int32_t InputCount() override;
    int32_t OutputCount() override;
    bool ReadAvailable(Bytes& text) override;
    bool ReadWait(Bytes& text, uint32_t idleMs, uint32_t totalMs = 0) override;
    void ReadLineState() override { ++LineStateReads; }
    uint8_t SetByteSize(uint8_t bits) override;

    void RequestUsbRescan() override { ++Rescans; }
    void GetPortLists(TPortLists& lists) override;

    // Passes simulated time: the bytes in flight have been written, and the
    // adapter's output of that time arrives.
    void Advance(uint64_t microseconds);

    // Test controls and records.
    void SetAdapterPort(const Bytes& name) { AdapterPort = name; }
    void SetPortLists(const TPortLists& lists) { Lists = lists; }
    void SetOpenFails(bool fails) { OpenFails = fails; }
    const std::vector<Bytes>& Writes() const { return Written; }
    void ClearWrites() { Written.clear(); }
    int OpenCount() const { return Opens; }
    int CloseCount() const { return Closes; }
    int RescanCount() const { return Rescans; }
    int LineStateReadCount() const { return LineStateReads; }
    uint8_t ByteSize() const { return Bits; }
    const std::vector<uint8_t>& ByteSizesSet() const { return BitsSet; }

    static constexpr size_t kBufferSize = 16384;
    static constexpr size_t kReadWaitLimit = 65536;
    static constexpr uint64_t kCloseDrainUs = 1000000;

private:
    bool Attached() const { return AdapterPort.empty() || Port == AdapterPort; }
    void Release();
    void Pull();
    // Moves the adapter's clock on to `target`, handing each held write to
    // the adapter at its moment.
    void AdvanceTo(uint64_t target);

    // A write that has not yet reached the adapter.
    struct THeldWrite {
        uint64_t ReadyAt = 0; // on the adapter's clock; UINT64_MAX = never
        Bytes Data;
    };

    TSimAdapter& Adapter;
    Bytes Port;
    Bytes AdapterPort;
    bool Opened = false;
    bool OnAdapter = false;
    bool OpenFails = false;
    Bytes Rx; // the linear receive buffer: filled to Rx.size(), taken to RxPos
    size_t RxPos = 0;
    int32_t InFlight = 0;
    std::deque<THeldWrite> Held;
    std::vector<Bytes> Written;
    TPortLists Lists;
    int Opens = 0;
    int Closes = 0;
    int Rescans = 0;
    int LineStateReads = 0;
    uint8_t Bits = 8;
    std::vector<uint8_t> BitsSet;
};

} // namespace qvx
