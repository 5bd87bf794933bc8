#pragma once
// Whether a file image is a Windows library for 32-bit x86, the only kind of
// file the maker's pass-thru library may be replaced with. Only the headers
// are read; every field is checked to lie inside the bytes before it is read.
//
// An image is accepted (liLibrary) exactly when all of these hold, checked in
// this order (the first that fails names the result):
//  1. it has at least one byte (else liEmpty);
//  2. it holds the 64-byte DOS header and starts with "MZ" (liNoDosHeader);
//  3. the 32-bit little-endian offset at 0x3C (e_lfanew) points at "PE\0\0"
//     followed by the whole 20-byte file header, inside the image
//     (liNoPeHeader);
//  4. the file header's machine is i386, 0x14C (liNotX86);
//  5. its characteristics carry both IMAGE_FILE_EXECUTABLE_IMAGE (0x0002) and
//     IMAGE_FILE_DLL (0x2000) (liNotLibrary);
//  6. the optional header that follows is at least the 96 bytes of a PE32
//     optional header, lies inside the image and starts with the PE32 magic
//     0x10B (liNotPe32);
//  7. there is at least one section, the section table (40 bytes a section,
//     right after the optional header) lies inside the image, and so does the
//     raw data of every section that has any (pointer + size <= image size)
//     (liBadSections).
#include <cstddef>

namespace qvx {

enum TLibraryImageCheck {
    liLibrary,     // a Windows library for 32-bit x86
    liEmpty,       // no bytes at all
    liNoDosHeader, // too short for the DOS header, or no "MZ"
    liNoPeHeader,  // no "PE\0\0" and file header where e_lfanew points
    liNotX86,      // built for another machine than i386
    liNotLibrary,  // a program or object, not a loadable library
    liNotPe32,     // no PE32 optional header (PE32+ is 64-bit)
    liBadSections, // no section, or the table or a section's data outside
};

// "library", "empty", "no DOS header", "no PE header", "not for x86",
// "not a library", "not PE32", "sections outside the image".
const char* LibraryImageCheckText(TLibraryImageCheck result);

TLibraryImageCheck CheckLibraryImage(const char* bytes, size_t count);

} // namespace qvx
