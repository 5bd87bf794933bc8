// The identity reply: a search whose reply body is the fuzz input, arriving in
// chunks, parsed into the log, the identity fields, the mode list and the
// power controls. The session must end, the mode list must hold only mode
// lines of the reply, and the log only lines of the reply.
#include "session/identity.h"
#include "tests/fuzz/fuzz_window.h"

#include <set>

namespace {

std::set<std::string> LinesOf(const qvx::Bytes& body) {
    std::set<std::string> lines;
    size_t from = 0;
    for (;;) {
        const size_t end = body.find("\r\n", from);
        lines.insert(body.substr(from, end == qvx::Bytes::npos ? qvx::Bytes::npos : end - from));
        if (end == qvx::Bytes::npos)
            return lines;
        from = end + 2;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qvx;
    if (size < 2)
        return 0;
    const Bytes body(reinterpret_cast<const char*>(data) + 2, size - 2);
    TFuzzWindow w;
    w.Link.Chunks = TChunker(data[0], data[1] % 64);
    // Bit 7: the list shows every mode; bit 6: a mode "01" is hidden.
    w.Form.cbShow.SetChecked((data[1] & 0x80) != 0);
    if (data[1] & 0x40)
        w.Registry.SetString("SOFTWARE\\Morveklink\\Hide", "01", "Hidden");
    const Bytes reply = FramedBody(body);
    w.Link.Replies["!Morvek_SC_I"] = reply;

    w.Form.btSearch.UserClick();
    w.RunSession();
    FUZZ_CHECK(!w.Link.Written.empty() && w.Link.Written[0] == "!Morvek_SC_I");

    // The reply as taken ends at the first end marker after its start.
    const size_t end = reply.find("\r\n\r\n", 2);
    const std::set<std::string> lines = LinesOf(reply.substr(2, end - 2));
    for (const std::string& line : w.Form.memLog.Lines())
        FUZZ_CHECK(lines.count(line) == 1);
    for (size_t i = 0; i < w.Form.lvModes.Count(); ++i) {
        const TListItem* item = w.Form.lvModes.Item(i);
        FUZZ_CHECK(item->SubItems.size() == 2);
        const std::string& number = item->SubItems[0];
        FUZZ_CHECK(number.size() >= 1 && number.size() <= 3);
        for (char c : number)
            FUZZ_CHECK(IsModeNumberChar(c, 'Z'));
    }
    return 0;
}
