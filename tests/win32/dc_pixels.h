#pragma once
// Copies a rectangle of a device context into RGB rows for the PNG writer.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qvx::png {

// width x height pixels of `source` from (x, y), through a 24-bit top-down
// DIB; rgb gets height rows of width pixels, 3 bytes each (red, green, blue).
inline void CopyPixels(HDC source, int x, int y, int width, int height, std::vector<uint8_t>& rgb) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC memory = CreateCompatibleDC(source);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, source, x, y, SRCCOPY);
    GdiFlush();
    const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t(3);
    const auto* pixels = static_cast<const uint8_t*>(bits);
    rgb.reserve(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
    for (int row = 0; row < height && pixels; ++row) {
        const uint8_t* line = pixels + stride * static_cast<size_t>(row);
        for (int col = 0; col < width; ++col) {
            rgb.push_back(line[col * 3 + 2]);
            rgb.push_back(line[col * 3 + 1]);
            rgb.push_back(line[col * 3]);
        }
    }
    SelectObject(memory, old);
    DeleteDC(memory);
    DeleteObject(bitmap);
}

} // namespace qvx::png
