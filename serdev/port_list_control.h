#pragma once
// What the device link asks of its two port-list threads.
#include "serdev/link.h"

namespace qvx {

class IPortListControl {
public:
    virtual ~IPortListControl() = default;
    // Returns once neither thread is inside a cycle; neither starts a new one
    // until ResumeLists.
    virtual void PauseLists() = 0;
    virtual void ResumeLists() = 0;
    virtual void RequestUsbRescan() = 0;
    // Appends the COM entries, then the USB entries.
    virtual void GetPortLists(TPortLists& lists) = 0;
};

} // namespace qvx
