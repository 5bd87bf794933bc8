// The pictures drawn by the Windows layer: the mode state images in their order.
#include "app/win32/win_pictures.h"
#include "app/resource_ids.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace qvx {
namespace {

// Draws one image of the list on white and reads the pixel at (x, y).
COLORREF PixelOf(HIMAGELIST images, int index, int x, int y) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 16, 16);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT all{0, 0, 16, 16};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    ImageList_Draw(images, index, dc, 0, 0, ILD_NORMAL);
    COLORREF pixel = GetPixel(dc, x, y);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return pixel;
}

TEST(StatePictures, FollowTheirResourceIdsWithTransparentCorners) {
    TImageList list;
    // Out of order on purpose: the id, not the position, picks the picture.
    list.PictureIds = {IDB_STATE_AVAILABLE, IDB_STATE_RUNNING, IDB_STATE_ACTIVE, IDB_STATE_HIDDEN};
    HIMAGELIST images = CreateStateImageList(list);
    ASSERT_NE(images, nullptr);
    EXPECT_EQ(ImageList_GetImageCount(images), 4);
    // Corners show what is below.
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(PixelOf(images, i, 0, 0), RGB(255, 255, 255)) << i;
    // The centre: hollow dot, green triangle, blue dot, grey crossed dot.
    EXPECT_EQ(PixelOf(images, 0, 8, 8), RGB(255, 255, 255));
    COLORREF running = PixelOf(images, 1, 7, 8);
    EXPECT_GT(GetGValue(running), GetRValue(running) + 60);
    COLORREF active = PixelOf(images, 2, 8, 5);
    EXPECT_GT(GetBValue(active), GetRValue(active) + 60);
    COLORREF hidden = PixelOf(images, 3, 5, 10);
    EXPECT_LT(std::abs(GetRValue(hidden) - GetBValue(hidden)), 20);
    EXPECT_LT(GetRValue(hidden), 200);
    ImageList_Destroy(images);
}

TEST(StatePictures, UnknownIdsTakeThePictureOfTheirPosition) {
    TImageList byId, byPosition;
    byId.PictureIds = {IDB_STATE_RUNNING, IDB_STATE_ACTIVE};
    byPosition.PictureIds = {1, 2};
    HIMAGELIST a = CreateStateImageList(byId);
    HIMAGELIST b = CreateStateImageList(byPosition);
    for (int i = 0; i < 2; ++i)
        for (int y = 2; y < 14; y += 3)
            EXPECT_EQ(PixelOf(a, i, 8, y), PixelOf(b, i, 8, y)) << i << "," << y;
    ImageList_Destroy(a);
    ImageList_Destroy(b);
}

TEST(ProgramIcon, HasBothSizes) {
    for (int size : {16, 32}) {
        HICON icon = CreateProgramIcon(size);
        ASSERT_NE(icon, nullptr);
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP bitmap{};
        GetObjectA(info.hbmColor, sizeof(bitmap), &bitmap);
        EXPECT_EQ(bitmap.bmWidth, size);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
}

} // namespace
} // namespace qvx
