// The driver image cut: the adapter's answer to "!Morvek_SC_D" is the fuzz
// input. The image must be exactly the bytes between the first "[BEGIN]" and
// the first "[END]" behind it, or empty; the link is closed afterwards.
#include "session/exchange.h"
#include "tests/fuzz/fuzz_link.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qvx;
    const Bytes reply(reinterpret_cast<const char*>(data), size);
    TFuzzLink link;
    link.HasWaitReply = true;
    link.WaitReply = reply;
    TServiceExchange exchange(link);
    Bytes image = "stale";
    const TDriverImageResult result = exchange.FetchDriverImage(image);
    FUZZ_CHECK(result != diPortNotOpened);
    FUZZ_CHECK((result == diReceived) == !image.empty());
    FUZZ_CHECK(!link.IsOpen());
    FUZZ_CHECK(link.Written.size() == 1 && link.Written[0] == "!Morvek_SC_D");

    const size_t begin = reply.find("[BEGIN]");
    if (image.empty())
        return 0;
    // A non-empty image sits right behind the first "[BEGIN]", is followed by
    // "[END]" and holds no "[END]" of its own.
    FUZZ_CHECK(begin != Bytes::npos);
    FUZZ_CHECK(reply.compare(begin + 7, image.size(), image) == 0);
    FUZZ_CHECK(reply.compare(begin + 7 + image.size(), 5, "[END]") == 0);
    FUZZ_CHECK(image.find("[END]") == Bytes::npos);
    FUZZ_CHECK(reply.find("[END]") >= begin + 7);
    return 0;
}
