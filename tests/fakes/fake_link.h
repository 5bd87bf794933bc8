#pragma once
// What every scripted device link of the tests shares: a port name, opens
// and closes counted, and nothing else that a link does.
#include "serdev/link.h"

namespace qvx {

class TFakeLinkBase : public IDeviceLink {
public:
    bool OpenSucceeds = true;
    bool Opened = false;
    int Opens = 0;
    int Closes = 0;
    Bytes Name;

    void SetPortName(const Bytes& name) override { Name = name; }
    const Bytes& PortName() const override { return Name; }
    bool Open() override {
        ++Opens;
        Opened = OpenSucceeds;
        return Opened;
    }
    bool Close() override {
        ++Closes;
        Opened = false;
        Closed();
        return true;
    }
    bool IsOpen() const override { return Opened; }
    // Set by a test: the device has gone while open.
    bool Gone = false;
    bool Lost() override { return Opened && Gone; }
    int32_t OutputCount() override { return 0; }
    bool ReadWait(Bytes&, uint32_t, uint32_t = 0) override { return false; }
    void ReadLineState() override {}
    uint8_t SetByteSize(uint8_t bits) override { return bits; }
    void RequestUsbRescan() override {}
    void GetPortLists(TPortLists&) override {}

protected:
    // After every Close.
    virtual void Closed() {}
};

} // namespace qvx
