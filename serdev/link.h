#pragma once
// The device link as the portable core sees it: exactly the operations that
// the session, the upload and the driver installation call. The Windows
// program implements it with TSerDev; the native tests with a link to the
// simulated adapter.
#include "platform/bytes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qvx {

// One entry of the port lists: the port name ("COM" + number or "USB:" +
// serial number), its description and the device id ("" for none).
struct TPortEntry {
    std::string Name;
    std::string Description;
    std::string DeviceId;
    bool operator==(const TPortEntry& o) const {
        return Name == o.Name && Description == o.Description && DeviceId == o.DeviceId;
    }
    bool operator!=(const TPortEntry& o) const { return !(*this == o); }
};

// The port lists, COM entries first, and the entry chosen from them.
struct TPortLists {
    std::vector<TPortEntry> Entries;
    // Index of the chosen entry; -1 = none.
    int Selected = -1;

    size_t Count() const { return Entries.size(); }
    void Add(std::string name, std::string description, std::string deviceId) {
        Entries.push_back({std::move(name), std::move(description), std::move(deviceId)});
    }
    // The entry at index; nullptr when the index is out of range.
    const TPortEntry* At(int index) const {
        return index >= 0 && static_cast<size_t>(index) < Entries.size()
                   ? &Entries[static_cast<size_t>(index)]
                   : nullptr;
    }
    const TPortEntry* SelectedPort() const { return At(Selected); }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const TPortEntry& e : Entries)
            names.push_back(e.Name);
        return names;
    }
    bool operator==(const TPortLists& o) const {
        return Entries == o.Entries && Selected == o.Selected;
    }
    bool operator!=(const TPortLists& o) const { return !(*this == o); }
};

class IDeviceLink {
public:
    virtual ~IDeviceLink() = default;

    // "COM" + number, or "USB:" + serial number.
    virtual void SetPortName(const Bytes& name) = 0;
    virtual const Bytes& PortName() const = 0;

    virtual bool Open() = 0;
    virtual bool Close() = 0;
    virtual bool IsOpen() const = 0;
    // The open device has gone for good: it was unplugged, or its reads fail
    // and will not recover. Stays true until the link is closed; false when
    // closed.
    virtual bool Lost() = 0;
    // Hands every byte to the writer; true when all were handed over.
    virtual bool Write(const Bytes& bytes) = 0;
    // Received bytes not yet taken; 0 when closed.
    virtual int32_t InputCount() = 0;
    // Bytes of the chunk in progress not yet written; 0 when closed or idle.
    virtual int32_t OutputCount() = 0;
    // Replaces text with everything received so far; leaves it unchanged when
    // nothing came. Always true.
    virtual bool ReadAvailable(Bytes& text) = 0;
    // Collects until the line has been quiet for idleMs (at most 65536 bytes),
    // or until totalMs have passed since the call (0 = no such limit); false
    // and text unchanged when nothing came.
    virtual bool ReadWait(Bytes& text, uint32_t idleMs, uint32_t totalMs = 0) = 0;
    virtual void ReadLineState() = 0;
    // Sets the data-bit count, applies it, returns the new count.
    virtual uint8_t SetByteSize(uint8_t bits) = 0;

    // Forwarded to the port-list threads.
    virtual void RequestUsbRescan() = 0;
    // Appends the COM entries, then the USB entries.
    virtual void GetPortLists(TPortLists& lists) = 0;
};

} // namespace qvx
