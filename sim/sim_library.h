#pragma once
// The library image the simulated adapter carries as its pass-thru driver: a
// minimal Windows library for 32-bit x86 (DOS header, PE header, a PE32
// optional header and one read-only data section), loadable but without code
// or exports. The section holds "quorvelix pass-thru", a zero byte, the
// version marker "MkdV" + version and a zero byte.
#include "platform/bytes.h"

#include <cstddef>
#include <string>

namespace qvx {

// At least `size` bytes: a larger size is reached with zero bytes after the
// section (data the loader never maps), so the image still ends where its
// last byte is.
Bytes SimDriverLibrary(const std::string& version = "105", size_t size = 0);

} // namespace qvx
