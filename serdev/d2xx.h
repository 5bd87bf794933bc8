#pragma once
// What the device link and the USB port list know of the D2XX library: its
// file names, the listing entry points and the layout of a device record.
#include "platform/callconv.h"
#include "platform/library.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace qvx {

// Tried in this order; the first that loads is kept.
constexpr const char* D2xxLibraryNames[] = {"mvd2xx.dll", "ftd2xx.dll"};

// nullptr when neither file loads.
LibraryHandle LoadD2xxLibrary(ILibraryLoader& loader);

using FtStatus = uint32_t; // 0 = success
using FtCreateDeviceInfoListFn = FtStatus(QVX_STDCALL*)(uint32_t* deviceCount);
using FtGetDeviceInfoListFn = FtStatus(QVX_STDCALL*)(void* records, uint32_t* deviceCount);

// The library's device-information record as the 32-bit library publishes it.
namespace d2xxrecord {
constexpr size_t Size = 100;
constexpr size_t SerialOffset = 16;
constexpr size_t SerialLength = 16;
constexpr size_t DescriptionOffset = 32;
constexpr size_t DescriptionLength = 64;
} // namespace d2xxrecord

// A zero-terminated text field of at most length bytes; a field that fills
// all of them without a terminator is taken whole, never read beyond.
std::string D2xxField(const uint8_t* record, size_t offset, size_t length);

} // namespace qvx
