#pragma once
// A link whose answers the test scripts, and the framing of a reply.
#include "tests/fakes/fake_link.h"

#include <algorithm>
#include <deque>
#include <map>
#include <vector>

namespace qvx {

// Answers each written command with the reply scripted for it; replies go out
// ChunkSize bytes per read, so that one reply spans several session ticks.
class TReplyLink : public TFakeLinkBase {
public:
    TPortLists Lists;
    int Rescans = 0;
    size_t ChunkSize = 0;                       // 0 = everything at once
    std::map<Bytes, std::deque<Bytes>> Replies; // per command, answered in turn
    std::vector<Bytes> Writes;
    std::vector<Bytes> WritesWhileClosed;
    Bytes Pending;

    void Answer(const Bytes& command, const Bytes& reply) { Replies[command].push_back(reply); }

    void Closed() override { Pending.clear(); }
    bool Write(const Bytes& bytes) override {
        if (!Opened) {
            WritesWhileClosed.push_back(bytes);
            return bytes.empty();
        }
        Writes.push_back(bytes);
        auto it = Replies.find(bytes);
        if (it != Replies.end() && !it->second.empty()) {
            Pending += it->second.front();
            if (it->second.size() > 1)
                it->second.pop_front();
        }
        return true;
    }
    int32_t InputCount() override {
        if (!Opened)
            return 0;
        size_t n = ChunkSize ? std::min(ChunkSize, Pending.size()) : Pending.size();
        return static_cast<int32_t>(n);
    }
    bool ReadAvailable(Bytes& text) override {
        size_t n = static_cast<size_t>(InputCount());
        if (n > 0) {
            text = Pending.substr(0, n);
            Pending.erase(0, n);
        }
        return true;
    }
    void RequestUsbRescan() override { ++Rescans; }
    void GetPortLists(TPortLists& lists) override {
        lists.Entries.insert(lists.Entries.end(), Lists.Entries.begin(), Lists.Entries.end());
    }
    void AddPort(const Bytes& name, const Bytes& description, const Bytes& id = "") {
        Lists.Add(name, description, id);
    }
};

// A framed reply: start marker, lines, end marker. A reply always begins with
// its "CR:" line; one is put first when the lines have none.
inline Bytes Framed(const std::vector<std::string>& lines) {
    Bytes body = "\r\n";
    if (lines.empty() || lines[0].compare(0, 3, "CR:") != 0)
        body += "CR:(c)\r\n";
    for (const std::string& line : lines)
        body += line + "\r\n";
    return body + "\r\n";
}

} // namespace qvx
