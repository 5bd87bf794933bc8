// The identity reply: a reply body, the fuzz input, read into the adapter
// record, the mode list and the log. The log keeps only lines of the reply,
// in their order; the mode list holds only mode lines' numbers; a running
// mode is one of the listed rows.
#include "platform/memory/memory_platform.h"
#include "tests/fakes/session_views.h"
#include "tests/fuzz/fuzz_link.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qvx;
    if (size < 1)
        return 0;
    TMemoryPlatform memory;
    TSettingsStore settings(memory.Platform);
    TFakeSessionViews view;
    // Bit 7: the list shows every mode; bit 6: a mode "01" is hidden.
    view.ShowAll = (data[0] & 0x80) != 0;
    if (data[0] & 0x40)
        memory.Registry.SetString("SOFTWARE\\Morveklink\\Hide", "01", "Hidden");
    const std::vector<std::string> lines =
        ReplyLines(Bytes(reinterpret_cast<const char*>(data) + 1, size - 1));

    TIdentityReader reader(settings, view);
    const std::vector<std::string> kept = reader.Read(lines);

    size_t at = 0;
    for (const std::string& line : kept) {
        while (at < lines.size() && lines[at] != line)
            ++at;
        FUZZ_CHECK(at < lines.size());
        ++at;
    }
    FUZZ_CHECK(reader.ModeNumberWidth >= 0 && reader.ModeNumberWidth <= 3);
    for (const TModeRow& row : view.Rows) {
        FUZZ_CHECK(row.Number.size() >= 1 && row.Number.size() <= 3);
        for (char c : row.Number)
            FUZZ_CHECK(IsModeNumberChar(c, 'Z'));
        FUZZ_CHECK(row.StateIndex >= -1 && row.StateIndex <= 3);
    }
    for (size_t row : view.RunningRows)
        FUZZ_CHECK(row < view.Rows.size());
    return 0;
}
