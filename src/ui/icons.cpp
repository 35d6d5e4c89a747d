#include "ui/icons.h"
#include <gdiplus.h>
#include <algorithm>
#include <iterator>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

static constexpr WCHAR kFontFamily[] = L"Microsoft YaHei UI";

namespace {

// One GDI+ object per guard, deleted on every path out of the drawing call.
struct GraphicsGuard {
    GpGraphics *g = nullptr;
    explicit GraphicsGuard(HDC dc) { if (dc) GdipCreateFromHDC(dc, &g); }
    ~GraphicsGuard() { if (g) GdipDeleteGraphics(g); }
};
struct PathGuard {
    GpPath *p;
    ~PathGuard() { if (p) GdipDeletePath(p); }
};
struct PenGuard {
    GpPen *p;
    ~PenGuard() { if (p) GdipDeletePen(p); }
};
struct BrushGuard {
    GpSolidFill *b = nullptr;
    explicit BrushGuard(uint32_t argb) { GdipCreateSolidFill(argb, &b); }
    ~BrushGuard() { if (b) GdipDeleteBrush(b); }
};
// Font family, font and string format for one line of chrome text.
struct TextTools {
    GpFontFamily *family = nullptr;
    GpFont *font = nullptr;
    GpStringFormat *format = nullptr;
    TextTools(float size, int weight)
    {
        if (GdipCreateFontFamilyFromName(kFontFamily, nullptr, &family) != Ok) return;
        if (GdipCreateFont(family, size, weight > 599 ? FontStyleBold : FontStyleRegular, UnitPixel, &font) != Ok)
            return;
        if (GdipCreateStringFormat(0, LANG_NEUTRAL, &format) != Ok) return;
        GdipSetStringFormatFlags(format, StringFormatFlagsNoWrap | StringFormatFlagsNoClip);
    }
    ~TextTools()
    {
        if (format) GdipDeleteStringFormat(format);
        if (font) GdipDeleteFont(font);
        if (family) GdipDeleteFontFamily(family);
    }
    bool ok() const { return format != nullptr; }
};

enum StrokeKind : uint8_t { kPolyline, kEllipse, kRoundSquare, kDots };

// A drawing step of an icon in its 16-unit box; points are x, y pairs.
struct Stroke {
    uint8_t icon;
    uint8_t kind;
    uint8_t count;  // points of a polyline
    const float *v;
};

constexpr float kOpen[] = {1.8f, 13.4f, 1.8f, 2.6f, 6.2f, 2.6f, 7.6f, 5.0f, 14.2f, 5.0f, 14.2f, 13.4f, 1.8f, 13.4f};
constexpr float kPrintA[] = {4.6f, 1.8f, 11.4f, 1.8f, 11.4f, 5.6f};
constexpr float kPrintB[] = {1.8f, 5.6f, 14.2f, 5.6f, 14.2f, 11.4f, 1.8f, 11.4f, 1.8f, 5.6f};
constexpr float kPrintC[] = {4.6f, 11.4f, 4.6f, 14.2f, 11.4f, 14.2f, 11.4f, 11.4f};
constexpr float kConvA[] = {2.4f, 5.2f, 13.6f, 5.2f};
constexpr float kConvB[] = {10.6f, 2.6f, 13.6f, 5.2f, 10.6f, 7.8f};
constexpr float kConvC[] = {13.6f, 10.8f, 2.4f, 10.8f};
constexpr float kConvD[] = {5.4f, 8.2f, 2.4f, 10.8f, 5.4f, 13.4f};
constexpr float kCompA[] = {8, 1.6f, 8, 5};
constexpr float kCompB[] = {5.2f, 3.4f, 8, 6, 10.8f, 3.4f};
constexpr float kCompC[] = {8, 14.4f, 8, 11};
constexpr float kCompD[] = {5.2f, 12.6f, 8, 10, 10.8f, 12.6f};
constexpr float kCompE[] = {2.8f, 8, 13.2f, 8};
constexpr float kDelA[] = {1.6f, 4, 14.4f, 4};
constexpr float kDelB[] = {5.8f, 4, 5.8f, 2, 10.2f, 2, 10.2f, 4};
constexpr float kDelC[] = {3, 4, 4.2f, 14.4f, 11.8f, 14.4f, 13, 4};
constexpr float kDelD[] = {6.6f, 6.6f, 6.9f, 12};
constexpr float kDelE[] = {9.4f, 6.6f, 9.1f, 12};
constexpr float kCopyA[] = {5.4f, 1.6f, 12.6f, 1.6f, 12.6f, 9};
constexpr float kCopyB[] = {3.4f, 5.6f, 3.4f, 14.4f, 11.6f, 14.4f, 11.6f, 5.6f, 3.4f, 5.6f};
constexpr float kCropA[] = {4.4f, 1.8f, 4.4f, 11.6f, 14.2f, 11.6f};
constexpr float kCropB[] = {1.8f, 4.4f, 11.6f, 4.4f, 11.6f, 14.2f};
constexpr float kBatchA[] = {2.2f, 2.2f, 8, 8, 1.2f};
constexpr float kBatchB[] = {5.8f, 5.8f, 8, 8, 1.2f};
constexpr float kMoreDots[] = {3, 8, 8, 8, 13, 8};
constexpr float kLensCircle[] = {2, 2, 8.6f, 8.6f};
constexpr float kLensHandle[] = {10.2f, 10.2f, 14.2f, 14.2f};
constexpr float kLensMinus[] = {4.2f, 6.3f, 8.4f, 6.3f};
constexpr float kLensPlus[] = {6.3f, 4.2f, 6.3f, 8.4f};
constexpr float kFitA[] = {2.2f, 6, 2.2f, 2.2f, 6, 2.2f};
constexpr float kFitB[] = {10, 2.2f, 13.8f, 2.2f, 13.8f, 6};
constexpr float kFitC[] = {2.2f, 10, 2.2f, 13.8f, 6, 13.8f};
constexpr float kFitD[] = {10, 13.8f, 13.8f, 13.8f, 13.8f, 10};
constexpr float kPrev[] = {10.2f, 3.4f, 5.8f, 8, 10.2f, 12.6f};
constexpr float kNext[] = {5.8f, 3.4f, 10.2f, 8, 5.8f, 12.6f};
constexpr float kMin[] = {3.4f, 8, 12.6f, 8};
constexpr float kMax[] = {3.6f, 3.6f, 8.8f, 8.8f, 1.0f};
constexpr float kRestA[] = {3.0f, 5.4f, 7.6f, 7.6f, 0.9f};
constexpr float kRestB[] = {5.6f, 3.0f, 7.4f, 7.4f, 0.9f};
constexpr float kCloseA[] = {4, 4, 12, 12};
constexpr float kCloseB[] = {12, 4, 4, 12};

#define POLY(icon, pts) {icon, kPolyline, (uint8_t)(std::size(pts) / 2), pts}
constexpr Stroke kStrokes[] = {
    POLY(kIconOpen, kOpen),
    POLY(kIconPrint, kPrintA), POLY(kIconPrint, kPrintB), POLY(kIconPrint, kPrintC),
    POLY(kIconConvert, kConvA), POLY(kIconConvert, kConvB), POLY(kIconConvert, kConvC), POLY(kIconConvert, kConvD),
    POLY(kIconCompress, kCompA), POLY(kIconCompress, kCompB), POLY(kIconCompress, kCompC),
    POLY(kIconCompress, kCompD), POLY(kIconCompress, kCompE),
    POLY(kIconDelete, kDelA), POLY(kIconDelete, kDelB), POLY(kIconDelete, kDelC), POLY(kIconDelete, kDelD),
    POLY(kIconDelete, kDelE),
    POLY(kIconCopy, kCopyA), POLY(kIconCopy, kCopyB),
    POLY(kIconCrop, kCropA), POLY(kIconCrop, kCropB),
    {kIconBatch, kRoundSquare, 0, kBatchA}, {kIconBatch, kRoundSquare, 0, kBatchB},
    {kIconMore, kDots, 3, kMoreDots},
    {kIconZoomOut, kEllipse, 0, kLensCircle}, POLY(kIconZoomOut, kLensHandle), POLY(kIconZoomOut, kLensMinus),
    {kIconZoomIn, kEllipse, 0, kLensCircle}, POLY(kIconZoomIn, kLensHandle), POLY(kIconZoomIn, kLensMinus),
    POLY(kIconZoomIn, kLensPlus),
    POLY(kIconFit, kFitA), POLY(kIconFit, kFitB), POLY(kIconFit, kFitC), POLY(kIconFit, kFitD),
    POLY(kIconPrev, kPrev), POLY(kIconNext, kNext), POLY(kIconMinimise, kMin),
    {kIconMaximise, kRoundSquare, 0, kMax},
    {kIconRestore, kRoundSquare, 0, kRestA}, {kIconRestore, kRoundSquare, 0, kRestB},
    POLY(kIconClose, kCloseA), POLY(kIconClose, kCloseB),
};
#undef POLY

void draw_stroke(GpGraphics *g, GpPen *pen, GpBrush *brush, const Stroke &s)
{
    const float *v = s.v;
    switch (s.kind) {
    case kPolyline:
        GdipDrawLines(g, pen, (const GpPointF *)v, s.count);
        break;
    case kEllipse:
        GdipDrawEllipse(g, pen, v[0], v[1], v[2], v[3]);
        break;
    case kRoundSquare: {
        PathGuard path{rr_path(v[0], v[1], v[2], v[3], v[4])};
        if (path.p) GdipDrawPath(g, pen, path.p);
        break;
    }
    case kDots:
        for (int i = 0; i < s.count; ++i)
            GdipFillEllipse(g, brush, v[2 * i] - 1.15f, v[2 * i + 1] - 1.15f, 2.3f, 2.3f);
        break;
    }
}

}  // namespace

uint32_t gfx_argb(COLORREF colour, int alpha)
{
    return ((uint32_t)(alpha & 0xFF) << 24) | ((uint32_t)GetRValue(colour) << 16) |
           ((uint32_t)GetGValue(colour) << 8) | GetBValue(colour);
}

GpPen *pen_new(uint32_t argb, float width)
{
    GpPen *pen = nullptr;
    if (GdipCreatePen1(argb, width, UnitPixel, &pen) != Ok) return nullptr;
    GdipSetPenLineJoin(pen, LineJoinRound);
    GdipSetPenStartCap(pen, LineCapRound);
    GdipSetPenEndCap(pen, LineCapRound);
    return pen;
}

GpPath *rr_path(float x, float y, float w, float h, float r)
{
    GpPath *path = nullptr;
    if (GdipCreatePath(FillModeWinding, &path) != Ok) return nullptr;
    float d = 2 * r;
    GdipAddPathArc(path, x, y, d, d, 180, 90);
    GdipAddPathLine(path, x + r, y, x + w - r, y);
    GdipAddPathArc(path, x + w - d, y, d, d, 270, 90);
    GdipAddPathLine(path, x + w, y + r, x + w, y + h - r);
    GdipAddPathArc(path, x + w - d, y + h - d, d, d, 0, 90);
    GdipAddPathLine(path, x + w - r, y + h, x + r, y + h);
    GdipAddPathArc(path, x, y + h - d, d, d, 90, 90);
    GdipClosePathFigure(path);
    return path;
}

void icon_paint(HDC dc, int icon, int x, int y, int size, uint32_t argb, int use_colour)
{
    if (icon == 0 || size < 1) return;
    bool known = false;
    for (const Stroke &s : kStrokes) known = known || s.icon == icon;
    if (!known) return;
    GraphicsGuard gfx(dc);
    if (!gfx.g) return;
    if (!use_colour) argb = kIconMutedArgb;
    GdipSetSmoothingMode(gfx.g, SmoothingModeAntiAlias);
    GdipSetPixelOffsetMode(gfx.g, PixelOffsetModeHalf);
    GdipSetCompositingMode(gfx.g, CompositingModeSourceOver);
    GdipSetCompositingQuality(gfx.g, CompositingQualityHighQuality);
    float scale = size / 16.0f;
    GdipScaleWorldTransform(gfx.g, scale, scale, MatrixOrderAppend);
    GdipTranslateWorldTransform(gfx.g, (float)x, (float)y, MatrixOrderAppend);
    // The pen is in world units, so strokes thicken with the icon.
    PenGuard pen{nullptr};
    GdipCreatePen1(argb, 1.6f, UnitWorld, &pen.p);
    if (!pen.p) return;
    GdipSetPenLineJoin(pen.p, LineJoinRound);
    GdipSetPenStartCap(pen.p, LineCapRound);
    GdipSetPenEndCap(pen.p, LineCapRound);
    BrushGuard brush(argb);
    for (const Stroke &s : kStrokes)
        if (s.icon == icon) draw_stroke(gfx.g, pen.p, brush.b, s);
}

void icon_text(HDC dc, const WCHAR *text, const RECT *rc, float size, int weight, uint32_t argb, int halign,
               int valign)
{
    if (!text || !text[0] || !rc || size <= 0) return;
    GraphicsGuard gfx(dc);
    if (!gfx.g) return;
    TextTools tools(size, weight);
    if (!tools.ok()) return;
    GdipSetTextRenderingHint(gfx.g, TextRenderingHintClearTypeGridFit);
    GdipSetPixelOffsetMode(gfx.g, PixelOffsetModeHalf);
    GdipSetCompositingMode(gfx.g, CompositingModeSourceOver);
    GdipSetStringFormatTrimming(tools.format, StringTrimmingEllipsisCharacter);
    StringAlignment align = halign == 1 ? StringAlignmentCenter : halign == 2 ? StringAlignmentFar
                                                                              : StringAlignmentNear;
    GdipSetStringFormatAlign(tools.format, align);

    float L = (float)rc->left, T = (float)rc->top, W = (float)(rc->right - rc->left),
          H = (float)(rc->bottom - rc->top);
    RectF wide = {L - 1000, T - 1000, W + 2000, H + 2000}, box = {};
    float th = 0;
    if (GdipMeasureString(gfx.g, text, -1, tools.font, &wide, tools.format, &box, nullptr, nullptr) == Ok)
        th = box.Height;
    if (th <= 0) th = 1.4f * size;

    RectF out;
    if (halign == 1) {
        out.X = L - 1000, out.Width = W + 2000;
    } else if (halign == 2) {
        out.X = L - 1000, out.Width = W + 1000;
    } else {
        out.X = L, out.Width = W + 8;
    }
    if (valign == 1) {
        out.Y = T + (H - th) / 2, out.Height = th + 4;
    } else if (valign == 2) {
        out.Y = (float)rc->bottom - th - 1, out.Height = th + 4;
    } else {
        out.Y = T, out.Height = H;
    }
    BrushGuard brush(argb);
    if (brush.b) GdipDrawString(gfx.g, text, -1, tools.font, &out, tools.format, brush.b);
}

int icon_text_width(HDC dc, const WCHAR *text, float size, int weight)
{
    if (!text || !text[0] || size <= 0) return 0;
    GraphicsGuard gfx(dc);
    if (!gfx.g) return 0;
    TextTools tools(size, weight);
    if (!tools.ok()) return 0;
    RectF layout = {-1000, -1000, 8000, 8000}, box = {};
    if (GdipMeasureString(gfx.g, text, -1, tools.font, &layout, tools.format, &box, nullptr, nullptr) != Ok) return 0;
    return (int)(box.Width + 0.5f);
}

void gfx_rrect(HDC dc, const RECT *rc, float radius, int fill, int stroke, uint32_t fill_argb,
               uint32_t stroke_argb)
{
    if (!rc) return;
    int w = rc->right - rc->left, h = rc->bottom - rc->top;
    if (w <= 0 || h <= 0) return;
    GraphicsGuard gfx(dc);
    if (!gfx.g) return;
    GdipSetSmoothingMode(gfx.g, SmoothingModeAntiAlias);
    GdipSetPixelOffsetMode(gfx.g, PixelOffsetModeHalf);
    GdipTranslateWorldTransform(gfx.g, (float)rc->left, (float)rc->top, MatrixOrderAppend);
    float r = std::min({radius, w / 2.0f, h / 2.0f});
    if (fill) {
        PathGuard path{rr_path(0, 0, (float)w, (float)h, r)};
        BrushGuard brush(fill_argb);
        if (path.p && brush.b) GdipFillPath(gfx.g, brush.b, path.p);
    }
    if (stroke) {
        PathGuard path{rr_path(0.5f, 0.5f, (float)w - 1, (float)h - 1, r)};
        PenGuard pen{pen_new(stroke_argb, 1.0f)};
        if (path.p && pen.p) GdipDrawPath(gfx.g, pen.p, path.p);
    }
}

void gfx_draw_bitmap(HDC dc, GpImage *image, const RECT *rc)
{
    if (!dc || !image || !rc || rc->right <= rc->left || rc->bottom <= rc->top) return;
    GraphicsGuard gfx(dc);
    if (!gfx.g) return;
    GdipSetInterpolationMode(gfx.g, InterpolationModeHighQualityBicubic);
    GdipSetPixelOffsetMode(gfx.g, PixelOffsetModeHalf);
    GdipSetCompositingMode(gfx.g, CompositingModeSourceOver);
    GdipDrawImageRectI(gfx.g, image, rc->left, rc->top, rc->right - rc->left, rc->bottom - rc->top);
}
