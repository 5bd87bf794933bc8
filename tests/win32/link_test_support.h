#pragma once
// Shared pieces of the device-link tests.
#include "serdev/port_list_control.h"

#include <windows.h>

#include <chrono>
#include <functional>

namespace qvx {

class TCountingLists : public IPortListControl {
public:
    int Pauses = 0, Resumes = 0, Rescans = 0;
    void PauseLists() override { ++Pauses; }
    void ResumeLists() override { ++Resumes; }
    void RequestUsbRescan() override { ++Rescans; }
    void GetPortLists(TPortLists& lists) override { lists.Add("COM1", "d", ""); }
};

// Waits for a condition that the link's threads bring about; the deadline
// only keeps a broken build from hanging the suite.
inline bool Eventually(const std::function<bool()>& condition) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition())
            return true;
        Sleep(2);
    }
    return condition();
}

// Takes input from a link until want bytes came (or the deadline passed).
template <typename Link> Bytes ReadAllFrom(Link& link, size_t want) {
    Bytes all;
    Eventually([&] {
        if (link.InputCount() > 0) {
            Bytes part;
            link.ReadAvailable(part);
            all += part;
        }
        return all.size() >= want;
    });
    return all;
}

} // namespace qvx
