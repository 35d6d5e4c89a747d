// GIF output that keeps transparency. The platform's GIF encoder turns transparent
// areas near-black (Wine's writes no transparency at all), so the palette, its
// transparent entry and the block that marks it are ours.
#pragma once
#include <windows.h>
#include <wincodec.h>
#include "codec/codec.h"

// Writes image into a GIF frame that is initialised and sized, as 8-bit palette
// pixels: fully transparent pixels take an entry of their own (its index goes into
// *transparent, else -1), partly transparent ones are flattened onto white.
HRESULT gif_write_frame(IWICImagingFactory *factory, const Image *image, IWICBitmapFrameEncode *frame,
                        int *transparent);
// Marks palette entry index transparent in the first frame of an encoded GIF, adding
// the graphic control block when the encoder wrote none; false when the bytes are
// not a GIF as expected.
bool gif_mark_transparent(Blob *blob, int index);
