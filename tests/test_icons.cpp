// Icons, text and rounded boxes painted into a 32-bit DIB and read back.
#include <gtest/gtest.h>
#include "ui/icons.h"
#include <gdiplus.h>
#include <cstdint>

namespace {

class Canvas32 : public ::testing::Test {
protected:
    ULONG_PTR token = 0;
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ old = nullptr;
    uint32_t *px = nullptr;
    int w = 200, h = 200;

    void SetUp() override
    {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&token, &input, nullptr), Gdiplus::Ok);
        BITMAPINFO bi = {};
        bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB};
        dc = CreateCompatibleDC(nullptr);
        bitmap = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, (void **)&px, nullptr, 0);
        ASSERT_NE(bitmap, nullptr);
        old = SelectObject(dc, bitmap);
        clear();
    }
    void TearDown() override
    {
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
        Gdiplus::GdiplusShutdown(token);
    }
    void clear()
    {
        GdiFlush();
        for (int i = 0; i < w * h; ++i) px[i] = 0;
    }
    uint32_t at(int x, int y)
    {
        GdiFlush();
        return px[y * w + x] & 0xFFFFFF;
    }
    int painted() { int n = 0; for (int i = 0; i < w * h; ++i) n += (at(i % w, i / w) != 0); return n; }
    // Rows with any painted pixel in column x.
    int rows_in_column(int x)
    {
        int n = 0;
        for (int y = 0; y < h; ++y) n += at(x, y) != 0;
        return n;
    }
};

TEST(Gfx, ArgbSwapsTheGdiByteOrder)
{
    EXPECT_EQ(gfx_argb(0x00FF9A4C, 255), 0xFF4C9AFFu);
    EXPECT_EQ(gfx_argb(RGB(1, 2, 3), 0x80), 0x80010203u);
}

TEST_F(Canvas32, EveryIconDrawsAndUnknownIdsDrawNothing)
{
    static constexpr int kDrawn[] = {1, 2, 5, 6, 7, 8, 10, 11, 12, 14, 15, 16, 18, 19, 20, 21, 22, 23};
    for (int id : kDrawn) {
        clear();
        icon_paint(dc, id, 10, 10, 64, 0xFFFFFFFF, 1);
        EXPECT_GT(painted(), 40) << "icon " << id;
        EXPECT_EQ(at(5, 5), 0u) << "icon " << id << " spills out of its square";
        EXPECT_EQ(at(80, 80), 0u) << "icon " << id << " spills out of its square";
    }
    static constexpr int kNone[] = {0, 3, 4, 9, 13, 17, 24, 99};
    for (int id : kNone) {
        clear();
        icon_paint(dc, id, 10, 10, 64, 0xFFFFFFFF, 1);
        EXPECT_EQ(painted(), 0) << "icon " << id;
    }
    icon_paint(dc, kIconClose, 10, 10, 0, 0xFFFFFFFF, 1);
    EXPECT_EQ(painted(), 0);
}

TEST_F(Canvas32, StrokesThickenWithTheIconAndDisabledIconsAreGrey)
{
    // Minimise is one horizontal line: its thickness is 1.6 units of size / 16.
    icon_paint(dc, kIconMinimise, 0, 0, 16, 0xFFFFFFFF, 1);
    EXPECT_LE(rows_in_column(8), 3);
    clear();
    icon_paint(dc, kIconMinimise, 0, 0, 160, 0xFFFFFFFF, 1);
    EXPECT_GE(rows_in_column(80), 15);
    EXPECT_LE(rows_in_column(80), 17);
    EXPECT_EQ(at(80, 80), 0xFFFFFFu);
    clear();
    icon_paint(dc, kIconMinimise, 0, 0, 160, 0xFFFFFFFF, 0);
    EXPECT_EQ(at(80, 80), 0x5A5A64u);
}

TEST_F(Canvas32, RoundedBoxClampsItsRadiusAndOutlinesTheEdgePixels)
{
    RECT rc = {20, 20, 60, 40};  // 40 x 20: radius 100 becomes 10
    gfx_rrect(dc, &rc, 100, 1, 1, 0xFF102030, 0xFFA0B0C0);
    // The outline sits on the edge pixels (Wine's half-pixel offset moves it by one).
    auto outline_near = [&](int x, int y, int dx, int dy) {
        return at(x - dx, y - dy) == 0xA0B0C0u || at(x, y) == 0xA0B0C0u || at(x + dx, y + dy) == 0xA0B0C0u;
    };
    EXPECT_TRUE(outline_near(40, 20, 0, 1));
    EXPECT_TRUE(outline_near(40, 39, 0, 1));
    EXPECT_TRUE(outline_near(59, 30, 1, 0));
    EXPECT_EQ(at(40, 30), 0x102030u);
    EXPECT_EQ(at(24, 30), 0x102030u);  // the half-height radius still reaches the side
    EXPECT_EQ(at(20, 20), 0u);          // the corner is cut
    EXPECT_EQ(at(61, 30), 0u);
    clear();
    RECT empty = {50, 50, 50, 80};
    gfx_rrect(dc, &empty, 4, 1, 1, 0xFFFFFFFF, 0xFFFFFFFF);
    EXPECT_EQ(painted(), 0);
}

TEST_F(Canvas32, TextIsMeasuredAndCentredEvenInALowBox)
{
    EXPECT_EQ(icon_text_width(dc, L"", 14, 400), 0);
    EXPECT_EQ(icon_text_width(dc, nullptr, 14, 400), 0);
    EXPECT_EQ(icon_text_width(dc, L"打开", 0, 400), 0);
    // A missing UI font family makes every width 0 and every label blank.
    int open = icon_text_width(dc, L"打开", 14, 400);
    ASSERT_GE(open, 20) << "\"Microsoft YaHei UI\" does not resolve in this prefix";
    EXPECT_LE(open, 36);
    EXPECT_GT(icon_text_width(dc, L"打开打开", 14, 400), open + 20);

    RECT low = {0, 100, 200, 102};
    icon_text(dc, L"国国国", &low, 20, 400, 0xFFFFFFFF, 1, 1);
    int top = h, bottom = -1, left = w, right = -1;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (at(x, y)) top = std::min(top, y), bottom = std::max(bottom, y), left = std::min(left, x),
                          right = std::max(right, x);
    ASSERT_GE(bottom, 0);
    EXPECT_LT(top, 100);
    EXPECT_GT(bottom, 102);
    EXPECT_NEAR((top + bottom) / 2.0, 101, 4);
    EXPECT_NEAR((left + right) / 2.0, 100, 3);
}

}  // namespace
