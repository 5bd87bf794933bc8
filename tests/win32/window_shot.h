#pragma once
// Screenshots of a window's client area into PNG files.
#include "tests/win32/png_writer.h"
#include "tests/win32/win_probe.h"

#include <windows.h>

#include <algorithm>

#include <string>
#include <vector>

namespace qvx::probe {

// The screenshot folder (created when missing). A Unix path from the build is
// reached through the emulator's drive of the Unix root.
inline std::string ShotDir() {
    std::string dir = QVX_SHOT_DIR;
    if (!dir.empty() && dir[0] == '/')
        dir = "Z:" + dir;
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

struct TShot {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Rgb; // rows top-down, 3 bytes a pixel
};

// Paints the window and its children and copies the client area from the
// window's DC into a 24-bit DIB.
inline TShot Capture(HWND window) {
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_FRAME);
    Pump();
    GdiFlush();
    TShot shot;
    RECT client;
    GetClientRect(window, &client);
    shot.Width = client.right;
    shot.Height = client.bottom;
    if (shot.Width <= 0 || shot.Height <= 0)
        return shot;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = shot.Width;
    info.bmiHeader.biHeight = -shot.Height; // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC source = GetDC(window);
    HBITMAP bitmap = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC memory = CreateCompatibleDC(source);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, shot.Width, shot.Height, source, 0, 0, SRCCOPY);
    GdiFlush();
    const size_t stride = (static_cast<size_t>(shot.Width) * 3 + 3) & ~size_t(3);
    const auto* pixels = static_cast<const uint8_t*>(bits);
    shot.Rgb.reserve(static_cast<size_t>(shot.Width) * static_cast<size_t>(shot.Height) * 3);
    for (int y = 0; y < shot.Height; ++y) {
        const uint8_t* row = pixels + stride * static_cast<size_t>(y);
        for (int x = 0; x < shot.Width; ++x) {
            shot.Rgb.push_back(row[x * 3 + 2]);
            shot.Rgb.push_back(row[x * 3 + 1]);
            shot.Rgb.push_back(row[x * 3]);
        }
    }
    SelectObject(memory, old);
    DeleteDC(memory);
    DeleteObject(bitmap);
    ReleaseDC(window, source);
    return shot;
}

// How many different colours the shot holds (a blank capture has one).
inline size_t ColourCount(const TShot& shot) {
    std::vector<uint32_t> colours;
    for (size_t i = 0; i + 2 < shot.Rgb.size(); i += 3)
        colours.push_back(
            static_cast<uint32_t>(shot.Rgb[i] << 16 | shot.Rgb[i + 1] << 8 | shot.Rgb[i + 2]));
    std::sort(colours.begin(), colours.end());
    return static_cast<size_t>(std::unique(colours.begin(), colours.end()) - colours.begin());
}

} // namespace qvx::probe
