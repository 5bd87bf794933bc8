// The self-test echo: a self-test session whose reply is the fuzz input,
// arriving in arbitrary chunks, echoed into the test log while it streams.
// The session must end, no reply byte may be echoed twice, and a reply that
// ended before its wait did gets its verdict as the log's last line.
#include "platform/memory/memory_platform.h"
#include "tests/fakes/session_views.h"
#include "tests/fuzz/fuzz_link.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qvx;
    if (size < 2)
        return 0;
    const Bytes reply(reinterpret_cast<const char*>(data) + 2, size - 2);
    TMemoryPlatform memory;
    TSettingsStore settings(memory.Platform);
    TFakeSessionViews view;
    TFuzzLink link;
    link.Chunks = TChunker(data[0], data[1] % 64);
    link.Replies["!Morvek_SC_T"] = reply;
    TSession session(link, settings, view, view, view);

    FUZZ_CHECK(session.Start(ssSendSelfTest, view.Inputs()));
    // A session always ends: after its reply, or after the silence timeout.
    for (int i = 0; i < 20000 && !session.Idle(); ++i)
        session.Tick();
    FUZZ_CHECK(session.Idle());
    FUZZ_CHECK(!link.IsOpen());
    FUZZ_CHECK(link.Written.size() == 1 && link.Written[0] == "!Morvek_SC_T");

    const std::vector<std::string>& lines = view.TestLog.Lines();
    const size_t start = reply.find("\r\nCR:");
    const bool complete = start != Bytes::npos && reply.find("\r\n\r\n", start + 2) != Bytes::npos;
    size_t echoed = 0;
    for (size_t i = 0; i + (complete ? 1 : 0) < lines.size(); ++i)
        echoed += lines[i].size();
    FUZZ_CHECK(echoed <= reply.size());
    // A reply is rated once, unless its wait ended first: noise before its
    // start that takes too many ticks to arrive ends the wait, and the box
    // says the adapter is not found.
    const bool endedByWait = !memory.UserIo.Boxes().empty();
    FUZZ_CHECK(view.Results == (endedByWait ? 0 : 1));
    if (!endedByWait)
        FUZZ_CHECK(complete && !lines.empty() && lines.back().compare(0, 9, "RESULT : ") == 0);
    // Arriving all at once, a complete reply is never too late.
    if (complete && data[1] % 64 == 0)
        FUZZ_CHECK(!endedByWait);
    return 0;
}
