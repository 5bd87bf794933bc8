#pragma once
// Byte strings: length-counted 8-bit text in the Windows ANSI code page. Any
// byte value, 0x00 included, may occur anywhere.
#include <string>

namespace qvx {

using Bytes = std::string;

} // namespace qvx
