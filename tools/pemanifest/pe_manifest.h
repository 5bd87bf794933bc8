#pragma once
// Reads the manifest that a Windows program carries as a resource (type
// RT_MANIFEST, id 1, its first language) out of the program file's bytes.
// Portable and bounds-checked: a truncated or malformed file gives false, never
// a read outside the bytes.
#include <cstdint>
#include <string>
#include <vector>

namespace qvx {

// True with the manifest's text; false with why, when the bytes are no PE file
// or hold no such resource.
bool ReadPeManifest(const std::vector<uint8_t>& image, std::string& manifest, std::string& why);

} // namespace qvx
