#pragma once
// What every fuzz target shares: a device link that answers commands with
// bytes taken from the fuzz input, handed out in chunks whose sizes the input
// also decides, and a check that ends the run as a finding.
#include "serdev/link.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace qvx {

// A broken invariant is a finding like a crash: libFuzzer saves the input.
[[noreturn]] inline void FuzzFail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
    std::abort();
}
#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond))                                                                               \
            ::qvx::FuzzFail(#cond, __FILE__, __LINE__);                                            \
    } while (0)

// Chunk sizes from 0 (a tick on which nothing arrives) to Max, drawn from a
// small generator seeded by one input byte: the same input always cuts its
// bytes the same way, and every seed cuts them differently.
class TChunker {
public:
    explicit TChunker(uint8_t seed = 0, size_t max = 0) : State(seed * 2654435761u + 1), Max(max) {}
    // 0 < result <= Max, or 0 now and then; Max 0 hands everything at once.
    size_t Next() {
        if (Max == 0)
            return SIZE_MAX;
        State = State * 1103515245u + 12345u;
        const uint32_t r = State >> 16;
        if (r % 8 == 0)
            return 0;
        return 1 + r % Max;
    }

private:
    uint32_t State;
    size_t Max;
};

// Answers each written command once with the bytes given for it.
class TFuzzLink : public IDeviceLink {
public:
    std::map<Bytes, Bytes> Replies;
    TChunker Chunks;
    Bytes Pending;
    // What ReadWait hands out, once.
    bool HasWaitReply = false;
    Bytes WaitReply;
    bool Opened = false;
    size_t Writes = 0;
    size_t WritesWhileClosed = 0;
    std::vector<Bytes> Written;
    TPortLists Lists;
    Bytes Name;

    void SetPortName(const Bytes& name) override { Name = name; }
    const Bytes& PortName() const override { return Name; }
    bool Open() override { return Opened = true; }
    bool Close() override {
        Opened = false;
        Pending.clear();
        Chunk = Undrawn;
        return true;
    }
    bool IsOpen() const override { return Opened; }
    bool Lost() override { return false; }
    bool Write(const Bytes& bytes) override {
        if (!Opened) {
            ++WritesWhileClosed;
            return bytes.empty();
        }
        ++Writes;
        Written.push_back(bytes);
        auto it = Replies.find(bytes);
        if (it != Replies.end()) {
            Pending += it->second;
            Replies.erase(it);
        }
        return true;
    }
    int32_t InputCount() override {
        if (!Opened)
            return 0;
        if (Chunk == Undrawn)
            Chunk = Chunks.Next();
        const size_t n = std::min(Chunk, Pending.size());
        if (n == 0)
            Chunk = Undrawn; // a silent tick: the next one draws again
        return static_cast<int32_t>(n);
    }
    int32_t OutputCount() override { return 0; }
    bool ReadAvailable(Bytes& text) override {
        const size_t n = static_cast<size_t>(InputCount());
        Chunk = Undrawn;
        if (n > 0) {
            text = Pending.substr(0, n);
            Pending.erase(0, n);
        }
        return true;
    }
    bool ReadWait(Bytes& text, uint32_t, uint32_t = 0) override {
        if (!Opened || !HasWaitReply || WaitReply.empty())
            return false;
        text = WaitReply;
        HasWaitReply = false;
        return true;
    }
    void ReadLineState() override {}
    uint8_t SetByteSize(uint8_t bits) override { return bits; }
    void RequestUsbRescan() override {}
    void GetPortLists(TPortLists& lists) override {
        lists.Entries.insert(lists.Entries.end(), Lists.Entries.begin(), Lists.Entries.end());
    }

private:
    static constexpr size_t Undrawn = SIZE_MAX - 1;
    size_t Chunk = Undrawn;
};

} // namespace qvx
