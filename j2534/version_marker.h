#pragma once
// The version text of the maker's pass-thru library file: the zero-terminated
// text that follows the first occurrence of the four bytes "MkdV" in the file
// (up to the first zero byte, or the end of the file); empty when the file has
// no marker.
#include "platform/bytes.h"

#include <cstddef>

namespace qvx {

Bytes FindDllVersion(const char* data, size_t count);

} // namespace qvx
