#pragma once
// Screenshots of a window's client area into PNG files.
#include "tests/win32/dc_pixels.h"
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
    HDC source = GetDC(window);
    png::CopyPixels(source, 0, 0, shot.Width, shot.Height, shot.Rgb);
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
