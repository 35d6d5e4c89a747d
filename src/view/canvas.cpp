#include "view/canvas.h"
#include <gdiplus.h>

using namespace Gdiplus::DllExports;

void canvas_release_gp(App *app)
{
    if (app->gp_image) GdipDisposeImage(app->gp_image);
    app->gp_image = nullptr;
}

// The bitmap shares the Image's pixels, so it must go before the Image does.
void canvas_sync_gp(App *app)
{
    canvas_release_gp(app);
    const Image *img = app->image;
    if (!img || !img->data) return;
    GpBitmap *bitmap = nullptr;
    if (GdipCreateBitmapFromScan0((INT)img->width, (INT)img->height, (INT)img->stride, PixelFormat32bppARGB,
                                  img->data, &bitmap) == Gdiplus::Ok)
        app->gp_image = bitmap;
}
