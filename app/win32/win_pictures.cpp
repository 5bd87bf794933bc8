#include "app/win32/win_pictures.h"

#include "app/win32/resource.h"

#include <algorithm>

namespace qvx {

namespace {

constexpr int LogoWidth = 272;
constexpr int LogoHeight = 76;
constexpr COLORREF Transparent = RGB(255, 0, 255);

// Selects a pen and a brush for the lifetime of the object.
class TPaintTools {
public:
    TPaintTools(HDC dc, COLORREF pen, COLORREF brush, int penWidth = 1)
        : Dc(dc), Pen(CreatePen(PS_SOLID, penWidth, pen)), Brush(CreateSolidBrush(brush)) {
        OldPen = SelectObject(Dc, Pen);
        OldBrush = SelectObject(Dc, Brush);
    }
    // A pen only; the inside is left alone.
    TPaintTools(HDC dc, COLORREF pen, int penWidth)
        : Dc(dc), Pen(CreatePen(PS_SOLID, penWidth, pen)), Brush(nullptr) {
        OldPen = SelectObject(Dc, Pen);
        OldBrush = SelectObject(Dc, GetStockObject(NULL_BRUSH));
    }
    ~TPaintTools() {
        SelectObject(Dc, OldPen);
        SelectObject(Dc, OldBrush);
        DeleteObject(Pen);
        if (Brush)
            DeleteObject(Brush);
    }
    TPaintTools(const TPaintTools&) = delete;
    TPaintTools& operator=(const TPaintTools&) = delete;

private:
    HDC Dc;
    HPEN Pen;
    HBRUSH Brush;
    HGDIOBJ OldPen;
    HGDIOBJ OldBrush;
};

void DrawText(HDC dc, const char* text, int height, int weight, bool italic, COLORREF color,
              RECT box, UINT format) {
    HFONT font = CreateFontA(-height, 0, 0, 0, weight, italic, FALSE, FALSE, ANSI_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                             VARIABLE_PITCH | FF_SWISS, "Tahoma");
    HGDIOBJ old = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, color);
    ::DrawTextA(dc, text, -1, &box, format | DT_NOPREFIX | DT_SINGLELINE);
    SelectObject(dc, old);
    DeleteObject(font);
}

TStatePicture PictureOf(int pictureId, size_t position) {
    switch (pictureId) {
    case IDB_STATE_RUNNING:
        return TStatePicture::Running;
    case IDB_STATE_ACTIVE:
        return TStatePicture::Active;
    case IDB_STATE_HIDDEN:
        return TStatePicture::Hidden;
    case IDB_STATE_AVAILABLE:
        return TStatePicture::Available;
    default:
        return static_cast<TStatePicture>(std::min<size_t>(position, 3));
    }
}

} // namespace

SIZE LogoSize() {
    return SIZE{LogoWidth, LogoHeight};
}

void DrawLogo(HDC dc, const RECT& box, bool center) {
    int x = box.left;
    int y = box.top;
    if (center) {
        x += (box.right - box.left - LogoWidth) / 2;
        y += (box.bottom - box.top - LogoHeight) / 2;
    }
    const COLORREF navy = RGB(22, 48, 102);
    const COLORREF steel = RGB(150, 164, 184);
    const COLORREF amber = RGB(242, 166, 30);

    // The adapter: a rounded body with a status light.
    {
        TPaintTools tools(dc, navy, RGB(38, 78, 150), 2);
        RoundRect(dc, x + 4, y + 14, x + 66, y + 62, 14, 14);
    }
    {
        TPaintTools tools(dc, RGB(20, 110, 30), RGB(80, 220, 90));
        Ellipse(dc, x + 48, y + 22, x + 58, y + 32);
    }
    // Its vehicle plug: a trapezoid with two rows of pins.
    {
        TPaintTools tools(dc, navy, steel, 2);
        POINT plug[] = {{x + 14, y + 36}, {x + 40, y + 36}, {x + 37, y + 56}, {x + 17, y + 56}};
        Polygon(dc, plug, 4);
    }
    {
        TPaintTools tools(dc, navy, amber);
        for (int i = 0; i < 4; ++i) {
            Rectangle(dc, x + 18 + i * 5, y + 40, x + 21 + i * 5, y + 45);
            Rectangle(dc, x + 20 + i * 4, y + 48, x + 23 + i * 4, y + 53);
        }
    }
    // The cable to the PC, as a wave into the name.
    {
        TPaintTools tools(dc, amber, 3);
        POINT cable[] = {{x + 66, y + 38}, {x + 74, y + 26}, {x + 80, y + 50}, {x + 88, y + 38}};
        PolyBezier(dc, cable, 4);
    }
    RECT name{x + 90, y + 8, x + LogoWidth, y + 50};
    DrawText(dc, "Quorvelix", 28, FW_BOLD, false, navy, name, DT_LEFT | DT_VCENTER);
    RECT line{x + 92, y + 48, x + LogoWidth, y + 70};
    DrawText(dc, "vehicle diagnostics adapter", 11, FW_NORMAL, true, RGB(90, 90, 90), line,
             DT_LEFT | DT_TOP);
}

void DrawStatePicture(HDC dc, int left, int top, int size, TStatePicture picture) {
    const int m = size / 8; // margin
    const int l = left + m, t = top + m, r = left + size - m, b = top + size - m;
    switch (picture) {
    case TStatePicture::Running: {
        TPaintTools tools(dc, RGB(0, 100, 0), RGB(40, 190, 40));
        POINT play[] = {{l + 1, t}, {r, (t + b) / 2}, {l + 1, b - 1}};
        Polygon(dc, play, 3);
        break;
    }
    case TStatePicture::Active: {
        TPaintTools tools(dc, RGB(0, 40, 140), RGB(40, 110, 230));
        Ellipse(dc, l, t, r, b);
        break;
    }
    case TStatePicture::Hidden: {
        {
            TPaintTools tools(dc, RGB(96, 96, 96), RGB(170, 170, 170));
            Ellipse(dc, l, t, r, b);
        }
        TPaintTools cross(dc, RGB(60, 60, 60), 2);
        MoveToEx(dc, l + 2, t + 2, nullptr);
        LineTo(dc, r - 2, b - 2);
        MoveToEx(dc, r - 3, t + 2, nullptr);
        LineTo(dc, l + 1, b - 2);
        break;
    }
    case TStatePicture::Available: {
        TPaintTools tools(dc, RGB(0, 90, 160), 2);
        Ellipse(dc, l + 1, t + 1, r, b);
        break;
    }
    }
}

namespace {

// Adds one picture drawn on a transparent background to an image list.
template <typename Draw> void AddPicture(HIMAGELIST images, int width, int height, Draw draw) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT all{0, 0, width, height};
    HBRUSH background = CreateSolidBrush(Transparent);
    FillRect(dc, &all, background);
    DeleteObject(background);
    draw(dc);
    SelectObject(dc, old);
    ImageList_AddMasked(images, bitmap, Transparent);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
}

} // namespace

HIMAGELIST CreateStateImageList(const TImageList& list) {
    const int width = std::max(list.Width, 1);
    const int height = std::max(list.Height, 1);
    HIMAGELIST images = ImageList_Create(width, height, ILC_COLOR24 | ILC_MASK,
                                         static_cast<int>(list.PictureIds.size()), 0);
    if (!images)
        return nullptr;
    for (size_t i = 0; i < list.PictureIds.size(); ++i) {
        TStatePicture picture = PictureOf(list.PictureIds[i], i);
        AddPicture(images, width, height,
                   [&](HDC dc) { DrawStatePicture(dc, 0, 0, std::min(width, height), picture); });
    }
    return images;
}

HICON CreateProgramIcon(int size) {
    HIMAGELIST images = ImageList_Create(size, size, ILC_COLOR24 | ILC_MASK, 1, 0);
    if (!images)
        return nullptr;
    AddPicture(images, size, size, [size](HDC dc) {
        // The adapter of the logo: its body, status light and plug.
        {
            TPaintTools tools(dc, RGB(22, 48, 102), RGB(38, 78, 150));
            RoundRect(dc, 0, size / 8, size, size, size / 3, size / 3);
        }
        {
            TPaintTools tools(dc, RGB(20, 110, 30), RGB(80, 220, 90));
            Ellipse(dc, size * 5 / 8, size / 4, size * 7 / 8, size / 2);
        }
        TPaintTools tools(dc, RGB(22, 48, 102), RGB(242, 166, 30));
        POINT plug[] = {{size / 8, size * 9 / 16},
                        {size * 5 / 8, size * 9 / 16},
                        {size * 9 / 16, size * 7 / 8},
                        {size * 3 / 16, size * 7 / 8}};
        Polygon(dc, plug, 4);
    });
    HICON icon = ImageList_GetIcon(images, 0, ILD_NORMAL);
    ImageList_Destroy(images);
    return icon;
}

void DrawShape(HDC dc, const RECT& box, const TShape& shape) {
    TPaintTools tools(dc, ToColorRef(shape.PenColor(), GetSysColor(COLOR_WINDOWTEXT)),
                      ToColorRef(shape.BrushColor(), GetSysColor(COLOR_WINDOW)));
    const int w = box.right - box.left;
    const int h = box.bottom - box.top;
    switch (shape.Shape()) {
    case TShapeType::Rectangle:
        Rectangle(dc, box.left, box.top, box.right, box.bottom);
        break;
    case TShapeType::RoundRect: {
        int corner = std::min(w, h) / 4;
        RoundRect(dc, box.left, box.top, box.right, box.bottom, corner, corner);
        break;
    }
    case TShapeType::Circle: {
        int d = std::min(w, h);
        int x = box.left + (w - d) / 2;
        int y = box.top + (h - d) / 2;
        Ellipse(dc, x, y, x + d, y + d);
        break;
    }
    }
}

COLORREF ToColorRef(TColor color, COLORREF fallback) {
    if (color == clDefault)
        return fallback;
    if (color & clSystemColor)
        return GetSysColor(static_cast<int>(color & 0xFF));
    return static_cast<COLORREF>(color);
}

} // namespace qvx
