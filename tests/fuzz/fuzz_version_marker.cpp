// The version-marker search over arbitrary file contents: the text returned
// must be what follows the first "MkdV", up to the first zero byte or the end.
// The bytes are copied into a buffer of exactly their size, so that a read
// beyond the end is caught.
#include "j2534/passthru.h"
#include "tests/fuzz/fuzz_link.h"

#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qvx;
    std::unique_ptr<char[]> file(new char[size ? size : 1]);
    if (size)
        std::memcpy(file.get(), data, size);
    const Bytes version = FindDllVersion(file.get(), size);

    const Bytes all(file.get(), size);
    const size_t marker = all.find("MkdV");
    if (marker == Bytes::npos) {
        FUZZ_CHECK(version.empty());
        return 0;
    }
    const size_t from = marker + 4;
    const size_t zero = all.find('\0', from);
    FUZZ_CHECK(version == all.substr(from, zero == Bytes::npos ? Bytes::npos : zero - from));
    return 0;
}
