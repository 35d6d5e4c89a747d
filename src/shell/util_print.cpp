// Printing the current picture, fitted to the printable area, one page per copy.
#include "shell/util.h"
#include "shell/modal.h"
#include "ui/ui.h"
#include <commdlg.h>
#include <gdiplus.h>
#include <algorithm>

using namespace Gdiplus::DllExports;

namespace {
// What the print dialog hands back, released on every path.
struct PrintDialog {
    PRINTDLGW pd = {sizeof(PRINTDLGW)};
    ~PrintDialog()
    {
        if (pd.hDC) DeleteDC(pd.hDC);
        if (pd.hDevMode) GlobalFree(pd.hDevMode);
        if (pd.hDevNames) GlobalFree(pd.hDevNames);
    }
};

// The picture as it goes to paper: printers do not blend, so a picture with
// transparency is flattened onto white first; an opaque one is drawn as it is.
struct PrintSource {
    Image *flat = nullptr;
    GpBitmap *bitmap = nullptr;
    bool owned = false;
    ~PrintSource()
    {
        if (owned && bitmap) GdipDisposeImage(bitmap);
        image_free(flat);
    }
};

struct GraphicsGuard {
    Gdiplus::GpGraphics *g = nullptr;
    ~GraphicsGuard()
    {
        if (g) GdipDeleteGraphics(g);
    }
};
}  // namespace

// Fitted to the printable area and centred; small pictures are enlarged.
static RECT print_place(int page_w, int page_h, int w, int h)
{
    double s = std::min((double)page_w / w, (double)page_h / h);
    int dw = (int)(w * s + 0.5), dh = (int)(h * s + 0.5);
    int x = (page_w - dw) / 2, y = (page_h - dh) / 2;
    return {x, y, x + dw, y + dh};
}

static bool prepare_source(App *app, PrintSource *src)
{
    const Image *img = app->image;
    if (!img->has_alpha) {
        src->bitmap = app->gp_image;
        return true;
    }
    src->flat = image_clone(img);
    if (!src->flat) return false;
    image_flatten_alpha(src->flat, 255, 255, 255);
    src->owned = true;
    return GdipCreateBitmapFromScan0((INT)img->width, (INT)img->height, (INT)src->flat->stride,
                                     PixelFormat32bppARGB, src->flat->data, &src->bitmap) == Gdiplus::Ok;
}

// Draws one page; true only when the picture itself was drawn.
static bool draw_page(HDC dc, GpBitmap *bitmap, int w, int h)
{
    int page_w = GetDeviceCaps(dc, HORZRES), page_h = GetDeviceCaps(dc, VERTRES);
    if (page_w <= 0 || page_h <= 0 || w <= 0 || h <= 0) return false;
    RECT at = print_place(page_w, page_h, w, h);
    GraphicsGuard graphics;
    if (GdipCreateFromHDC(dc, &graphics.g) != Gdiplus::Ok) return false;
    // Without a unit GDI+ measures a printer in 1/100 inch, not in its dots.
    GdipSetPageUnit(graphics.g, Gdiplus::UnitPixel);
    GdipSetInterpolationMode(graphics.g, Gdiplus::InterpolationModeHighQualityBicubic);
    GdipSetPixelOffsetMode(graphics.g, Gdiplus::PixelOffsetModeHalf);
    Gdiplus::GpSolidFill *white = nullptr;
    if (GdipCreateSolidFill(0xFFFFFFFF, &white) == Gdiplus::Ok) {
        GdipFillRectangleI(graphics.g, white, 0, 0, page_w, page_h);
        GdipDeleteBrush(white);
    }
    return GdipDrawImageRectI(graphics.g, bitmap, at.left, at.top, at.right - at.left, at.bottom - at.top) ==
           Gdiplus::Ok;
}

int util_print_image(App *app, const Image *image)
{
    if (!image || !app->gp_image) {
        ui_set_status(app, L"%s", L"请先打开一张图片");
        return 0;
    }
    PrintDialog dialog;
    dialog.pd.hwndOwner = app->hwnd;
    dialog.pd.Flags = PD_RETURNDC | PD_NOSELECTION | PD_USEDEVMODECOPIESANDCOLLATE;
    if (!modal_print_dialog(&dialog.pd) || !dialog.pd.hDC) return 0;
    // The dialog pumps messages: the picture may have been replaced or closed meanwhile.
    if (!app->image || !app->gp_image) {
        ui_set_status(app, L"%s", L"请先打开一张图片");
        return 0;
    }
    HDC dc = dialog.pd.hDC;
    DOCINFOW doc = {sizeof doc};
    doc.lpszDocName = app->file_name[0] ? app->file_name : L"Veldmoor 打印";
    PrintSource source;
    if (!prepare_source(app, &source) || StartDocW(dc, &doc) <= 0) {
        ui_set_status(app, L"%s", L"打印未能完成");
        return 0;
    }
    int copies = dialog.pd.nCopies ? dialog.pd.nCopies : 1;
    int pages = 0;
    for (int i = 0; i < copies; ++i) {
        if (StartPage(dc) <= 0) break;
        bool drawn = draw_page(dc, source.bitmap, (int)app->image->width, (int)app->image->height);
        if (EndPage(dc) <= 0) break;
        if (drawn) ++pages;
    }
    bool sent = false;
    if (pages > 0)
        sent = EndDoc(dc) > 0;
    else
        AbortDoc(dc);  // nothing drawn: send no blank pages
    if (sent)
        ui_set_status(app, L"已发送到打印机：%s", app->file_name);
    else
        ui_set_status(app, L"%s", L"打印未能完成");
    return sent ? 1 : 0;
}
