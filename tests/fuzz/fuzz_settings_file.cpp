// The settings file's parser over arbitrary text: it never fails on what it
// is given, and what it keeps is written back so that a second reading gives
// exactly the same keys and values.
#include "platform/posix/file_registry.h"
#include "tests/fuzz/fuzz_link.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qvx;
    const std::string text(reinterpret_cast<const char*>(data), size);
    TFileRegistry::TKeys keys;
    TFileRegistry::Parse(text, 1, keys);
    FUZZ_CHECK(keys.count("") == 1);

    const std::string written = TFileRegistry::Format(keys);
    TFileRegistry::TKeys again;
    FUZZ_CHECK(TFileRegistry::Parse(written, 1, again));
    FUZZ_CHECK(TFileRegistry::Format(again) == written);
    FUZZ_CHECK(again.size() == keys.size());
    for (const auto& entry : keys) {
        const auto found = again.find(entry.first);
        FUZZ_CHECK(found != again.end());
        FUZZ_CHECK(found->second.Name == entry.second.Name);
        FUZZ_CHECK(found->second.Values.size() == entry.second.Values.size());
        for (size_t i = 0; i < entry.second.Values.size(); ++i) {
            const auto& a = entry.second.Values[i];
            const auto& b = found->second.Values[i];
            FUZZ_CHECK(a.first == b.first && a.second.Type == b.second.Type &&
                       a.second.Text == b.second.Text && a.second.Number == b.second.Number);
        }
    }
    return 0;
}
