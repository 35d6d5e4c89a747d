// Icons, text and rounded boxes painted into a 32-bit DIB and read back.
#include <gtest/gtest.h>
#include "support/test_support.h"
#include "ui/icons.h"
#include <gdiplus.h>

namespace {

class Icons : public ::testing::Test {
protected:
    ULONG_PTR token = 0;
    Dib d;
    void SetUp() override
    {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&token, &input, nullptr), Gdiplus::Ok);
        ASSERT_TRUE(dib_create(&d, 200, 200));
    }
    void TearDown() override
    {
        dib_free(&d);
        Gdiplus::GdiplusShutdown(token);
    }
    int painted(int column = -1)
    {
        int n = 0;
        for (int y = 0; y < d.h; ++y)
            for (int x = 0; x < d.w; ++x) n += (column < 0 || x == column) && d.at(x, y) != 0;
        return n;
    }
};

TEST_F(Icons, ArgbSwapsTheGdiByteOrder)
{
    EXPECT_EQ(gfx_argb(0x00FF9A4C, 255), 0xFF4C9AFFu);
    EXPECT_EQ(gfx_argb(RGB(1, 2, 3), 0x80), 0x80010203u);
}

TEST_F(Icons, EveryIconDrawsInsideItsSquareAndUnknownIdsDrawNothing)
{
    for (int id : {1, 2, 5, 6, 7, 8, 10, 11, 12, 14, 15, 16, 18, 19, 20, 21, 22, 23}) {
        dib_clear(&d);
        icon_paint(d.dc, id, 10, 10, 64, 0xFFFFFFFF, 1);
        EXPECT_GT(painted(), 40) << "icon " << id;
        EXPECT_EQ(d.at(5, 5) | d.at(80, 80), 0u) << "icon " << id << " spills out of its square";
    }
    dib_clear(&d);
    for (int id : {0, 3, 4, 9, 13, 17, 24, 99}) icon_paint(d.dc, id, 10, 10, 64, 0xFFFFFFFF, 1);
    icon_paint(d.dc, kIconClose, 10, 10, 0, 0xFFFFFFFF, 1);
    EXPECT_EQ(painted(), 0);
}

TEST_F(Icons, StrokesThickenWithTheIconAndDisabledIconsAreGrey)
{
    // Minimise is one horizontal line 1.6 units of size / 16 thick.
    icon_paint(d.dc, kIconMinimise, 0, 0, 16, 0xFFFFFFFF, 1);
    EXPECT_LE(painted(8), 3);
    dib_clear(&d);
    icon_paint(d.dc, kIconMinimise, 0, 0, 160, 0xFFFFFFFF, 1);
    EXPECT_GE(painted(80), 15);
    EXPECT_LE(painted(80), 17);
    icon_paint(d.dc, kIconMinimise, 0, 0, 160, 0xFFFFFFFF, 0);
    EXPECT_EQ(d.at(80, 80), 0x5A5A64u);
}

TEST_F(Icons, RoundedBoxClampsItsRadiusAndOutlinesTheEdgePixels)
{
    RECT rc = {20, 20, 60, 40};  // 40 x 20: radius 100 becomes 10
    gfx_rrect(d.dc, &rc, 100, 1, 1, 0xFF102030, 0xFFA0B0C0);
    // The outline sits on the edge pixels (Wine's half-pixel offset moves it by one).
    auto outline_near = [&](int x, int y, int dx, int dy) {
        return d.at(x - dx, y - dy) == 0xA0B0C0u || d.at(x, y) == 0xA0B0C0u || d.at(x + dx, y + dy) == 0xA0B0C0u;
    };
    EXPECT_TRUE(outline_near(40, 20, 0, 1));
    EXPECT_TRUE(outline_near(40, 39, 0, 1));
    EXPECT_TRUE(outline_near(59, 30, 1, 0));
    EXPECT_EQ(d.at(40, 30), 0x102030u);
    EXPECT_EQ(d.at(24, 30), 0x102030u);  // the half-height radius still reaches the side
    EXPECT_EQ(d.at(20, 20), 0u);          // the corner is cut
    dib_clear(&d);
    RECT empty = {50, 50, 50, 80};
    gfx_rrect(d.dc, &empty, 4, 1, 1, 0xFFFFFFFF, 0xFFFFFFFF);
    EXPECT_EQ(painted(), 0);
}

TEST_F(Icons, TextIsMeasuredAndCentredEvenInALowBox)
{
    EXPECT_EQ(icon_text_width(d.dc, L"", 14, 400), 0);
    EXPECT_EQ(icon_text_width(d.dc, nullptr, 14, 400), 0);
    EXPECT_EQ(icon_text_width(d.dc, L"打开", 0, 400), 0);
    // A missing UI font family makes every width 0 and every label blank.
    int open = icon_text_width(d.dc, L"打开", 14, 400);
    ASSERT_GE(open, 20) << "\"Microsoft YaHei UI\" does not resolve in this prefix";
    EXPECT_LE(open, 36);
    EXPECT_GT(icon_text_width(d.dc, L"打开打开", 14, 400), open + 20);

    RECT low = {0, 100, 200, 102};
    icon_text(d.dc, L"国国国", &low, 20, 400, 0xFFFFFFFF, 1, 1);
    int top = d.h, bottom = -1, left = d.w, right = -1;
    for (int y = 0; y < d.h; ++y)
        for (int x = 0; x < d.w; ++x)
            if (d.at(x, y))
                top = std::min(top, y), bottom = std::max(bottom, y), left = std::min(left, x), right = std::max(right, x);
    ASSERT_GE(bottom, 0);
    EXPECT_LT(top, 100);
    EXPECT_GT(bottom, 102);
    EXPECT_NEAR((top + bottom) / 2.0, 101, 4);
    EXPECT_NEAR((left + right) / 2.0, 100, 3);
}

}  // namespace
