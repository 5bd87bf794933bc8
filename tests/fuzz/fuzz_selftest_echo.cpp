// The self-test echo: a self-test whose reply is the fuzz input, arriving in
// arbitrary chunks, echoed into the Test page's memo while it streams. The
// session must end, no reply byte may be echoed twice, and a reply that
// ended gets its verdict as the memo's last line.
#include "tests/fuzz/fuzz_window.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qvx;
    if (size < 2)
        return 0;
    const Bytes reply(reinterpret_cast<const char*>(data) + 2, size - 2);
    TFuzzWindow w;
    // The search that shows the Test page, all at once.
    w.Link.Replies["!Morvek_SC_I"] = FramedBody("(c)\r\nSN:1\r\nBW:1.0");
    w.Form.btSearch.UserClick();
    w.RunSession();
    w.Form.pcOptions.UserSelectPage(w.Form.tsTest.PageIndex());

    w.Link.Chunks = TChunker(data[0], data[1] % 64);
    w.Link.Replies["!Morvek_SC_T"] = reply;
    w.Link.Written.clear();
    w.Form.btRunTest.UserClick();
    w.RunSession();
    FUZZ_CHECK(w.Link.Written.size() == 1 && w.Link.Written[0] == "!Morvek_SC_T");

    const std::vector<std::string>& lines = w.Form.memLogTest.Lines();
    const size_t start = reply.find("\r\nCR:");
    const bool complete = start != Bytes::npos && reply.find("\r\n\r\n", start + 2) != Bytes::npos;
    size_t echoed = 0;
    for (size_t i = 0; i + (complete ? 1 : 0) < lines.size(); ++i)
        echoed += lines[i].size();
    FUZZ_CHECK(echoed <= reply.size());
    if (complete)
        FUZZ_CHECK(!lines.empty() && lines.back().compare(0, 9, "RESULT : ") == 0);
    return 0;
}
