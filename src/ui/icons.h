// Vector icons and the drawing primitives of the window chrome. Every call wraps
// the device context in its own GDI+ graphics object and keeps nothing.
#pragma once
#include <windows.h>
#include <cstdint>

namespace Gdiplus { class GpImage; class GpPath; class GpPen; }
using Gdiplus::GpImage;
using Gdiplus::GpPath;
using Gdiplus::GpPen;

enum : int {
    kIconOpen = 1, kIconPrint = 2, kIconConvert = 5, kIconCompress = 6, kIconDelete = 7, kIconCopy = 8,
    kIconCrop = 10, kIconBatch = 11, kIconMore = 12, kIconZoomOut = 14, kIconZoomIn = 15, kIconFit = 16,
    kIconPrev = 18, kIconNext = 19, kIconMinimise = 20, kIconMaximise = 21, kIconRestore = 22, kIconClose = 23,
};

constexpr uint32_t kIconMutedArgb = 0xFF5A5A64;

uint32_t gfx_argb(COLORREF colour, int alpha);
void icon_paint(HDC dc, int icon, int x, int y, int size, uint32_t argb, int use_colour);
void icon_text(HDC dc, const WCHAR *text, const RECT *rc, float size, int weight, uint32_t argb, int halign,
               int valign);
int icon_text_width(HDC dc, const WCHAR *text, float size, int weight);
void gfx_rrect(HDC dc, const RECT *rc, float radius, int fill, int stroke, uint32_t fill_argb,
               uint32_t stroke_argb);
void gfx_draw_bitmap(HDC dc, GpImage *image, const RECT *rc);
GpPath *rr_path(float x, float y, float w, float h, float r);
GpPen *pen_new(uint32_t argb, float width);
