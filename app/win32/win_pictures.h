#pragma once
// The pictures that the program draws itself with GDI: the product logo, the
// four state pictures of the mode list and the shapes.
#include "app/controls/controls.h"

#include <windows.h>
#include <commctrl.h>

namespace qvx {

// The logo's own size in pixels.
SIZE LogoSize();
// Draws the logo at its own size, centred in box when center, else at its
// top-left corner.
void DrawLogo(HDC dc, const RECT& box, bool center);

// The state pictures in the order of the mode states: running, active, hidden,
// available.
enum class TStatePicture { Running, Active, Hidden, Available };
void DrawStatePicture(HDC dc, int left, int top, int size, TStatePicture picture);
// An image list of the list's pictures; a picture id of the program's
// resources selects its picture, any other id the picture of its position.
HIMAGELIST CreateStateImageList(const TImageList& list);

// The program's icon, the adapter of the logo; the caller destroys it.
HICON CreateProgramIcon(int size);

void DrawShape(HDC dc, const RECT& box, const TShape& shape);

// The system's colour for a portable one: system colours by their index,
// clDefault as fallback, anything else as it stands.
COLORREF ToColorRef(TColor color, COLORREF fallback);

} // namespace qvx
