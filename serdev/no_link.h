#pragma once
// A link to no device: it never opens and has no ports. The window uses it
// when it is built without a device link (tests of the window alone).
#include "serdev/link.h"

namespace qvx {

class TNoDeviceLink : public IDeviceLink {
public:
    void SetPortName(const Bytes& name) override { Name = name; }
    const Bytes& PortName() const override { return Name; }
    bool Open() override { return false; }
    bool Close() override { return true; }
    bool IsOpen() const override { return false; }
    bool Lost() override { return false; }
    bool Write(const Bytes& bytes) override { return bytes.empty(); }
    int32_t InputCount() override { return 0; }
    int32_t OutputCount() override { return 0; }
    bool ReadAvailable(Bytes&) override { return true; }
    bool ReadWait(Bytes&, uint32_t, uint32_t = 0) override { return false; }
    void ReadLineState() override {}
    uint8_t SetByteSize(uint8_t bits) override { return bits; }
    void RequestUsbRescan() override {}
    void GetPortLists(TPortLists&) override {}

private:
    Bytes Name;
};

} // namespace qvx
