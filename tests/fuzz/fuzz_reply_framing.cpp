// The reply framing: arbitrary bytes, cut into arbitrary chunks, go through
// the exchange's receive text. Whatever the cut, the replies taken must be
// exactly those a single pass over all the bytes finds, and the receive text
// must stay bounded while no reply is open.
#include "session/exchange.h"
#include "tests/fuzz/fuzz_link.h"

#include <vector>

namespace {

const qvx::Bytes StartMark("\r\nCR:");
const qvx::Bytes EndMark("\r\n\r\n");

// Replies in one pass: body from the "C" of a start marker up to the first
// end marker after it; the search for the next start goes on behind the end.
std::vector<qvx::Bytes> RepliesIn(const qvx::Bytes& all) {
    std::vector<qvx::Bytes> replies;
    size_t from = 0;
    for (;;) {
        const size_t start = all.find(StartMark, from);
        if (start == qvx::Bytes::npos)
            break;
        const size_t end = all.find(EndMark, start + 2);
        if (end == qvx::Bytes::npos)
            break;
        replies.push_back(all.substr(start + 2, end - start - 2));
        from = end + EndMark.size();
    }
    return replies;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qvx;
    if (size < 2)
        return 0;
    const Bytes bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
    TFuzzLink link;
    link.Chunks = TChunker(data[0], data[1] % 32);
    link.Open();
    link.Pending = bytes;

    TServiceExchange exchange(link);
    exchange.SessionReceiving = true;
    std::vector<Bytes> taken;
    for (size_t ticks = 0; !link.Pending.empty() || ticks == 0; ++ticks) {
        exchange.ReceiveTick();
        while (exchange.TakeReply())
            taken.push_back(exchange.LastReply);
        if (!exchange.InReply)
            FUZZ_CHECK(exchange.RxText.size() < StartMark.size());
        FUZZ_CHECK(ticks < 2 * bytes.size() + 64); // every few ticks bring a byte
    }
    FUZZ_CHECK(taken == RepliesIn(bytes));
    for (const Bytes& reply : taken)
        FUZZ_CHECK(reply.find(EndMark) == Bytes::npos);
    return 0;
}
