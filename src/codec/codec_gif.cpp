// GIF frames with a transparent palette entry.
#include "codec/codec_gif.h"
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr WICColor kTransparentWhite = 0x00FFFFFF;

template <typename T> void release(T *&p)
{
    if (p) p->Release();
    p = nullptr;
}

// Palette indices of the flattened picture; colours goes to the palette it used.
HRESULT quantise(IWICImagingFactory *factory, const Image *flat, UINT max_colours, std::vector<uint8_t> *indices,
                 std::vector<WICColor> *colours)
{
    IWICBitmap *bitmap = nullptr;
    IWICPalette *palette = nullptr;
    IWICFormatConverter *converter = nullptr;
    // Read as BGR: the alpha bytes are all opaque after flattening.
    HRESULT hr = factory->CreateBitmapFromMemory(flat->width, flat->height, GUID_WICPixelFormat32bppBGR, flat->stride,
                                                 flat->stride * flat->height, flat->data, &bitmap);
    if (SUCCEEDED(hr)) hr = factory->CreatePalette(&palette);
    if (SUCCEEDED(hr)) hr = palette->InitializeFromBitmap(bitmap, max_colours, FALSE);
    if (SUCCEEDED(hr)) hr = factory->CreateFormatConverter(&converter);
    if (SUCCEEDED(hr))
        hr = converter->Initialize(bitmap, GUID_WICPixelFormat8bppIndexed, WICBitmapDitherTypeNone, palette, 0.0,
                                   WICBitmapPaletteTypeCustom);
    if (SUCCEEDED(hr)) {
        indices->resize((size_t)flat->width * flat->height);
        hr = converter->CopyPixels(nullptr, flat->width, (UINT)indices->size(), indices->data());
    }
    UINT count = 0;
    if (SUCCEEDED(hr)) hr = palette->GetColorCount(&count);
    if (SUCCEEDED(hr)) {
        colours->resize(count);
        hr = palette->GetColors(count, colours->data(), &count);
    }
    release(converter);
    release(palette);
    release(bitmap);
    return hr;
}

// Index of the transparent entry: the first after the picture's colours.
int give_transparent_entry(const Image *image, std::vector<uint8_t> *indices, std::vector<WICColor> *colours)
{
    int index = (int)colours->size();
    colours->push_back(kTransparentWhite);
    for (uint32_t y = 0; y < image->height; ++y) {
        const uint8_t *row = image->data + (size_t)y * image->stride;
        for (uint32_t x = 0; x < image->width; ++x)
            if (row[x * 4 + 3] == 0) (*indices)[(size_t)y * image->width + x] = (uint8_t)index;
    }
    return index;
}

bool any_transparent(const Image *image)
{
    for (uint32_t y = 0; y < image->height; ++y) {
        const uint8_t *row = image->data + (size_t)y * image->stride;
        for (uint32_t x = 0; x < image->width; ++x)
            if (row[x * 4 + 3] == 0) return true;
    }
    return false;
}

HRESULT write_indexed(IWICImagingFactory *factory, const Image *image, std::vector<uint8_t> *indices,
                      const std::vector<WICColor> &colours, IWICBitmapFrameEncode *frame)
{
    IWICPalette *palette = nullptr;
    IWICBitmap *bitmap = nullptr;
    WICPixelFormatGUID format = GUID_WICPixelFormat8bppIndexed;
    HRESULT hr = factory->CreatePalette(&palette);
    if (SUCCEEDED(hr)) hr = palette->InitializeCustom(const_cast<WICColor *>(colours.data()), (UINT)colours.size());
    if (SUCCEEDED(hr))
        hr = factory->CreateBitmapFromMemory(image->width, image->height, format, image->width, (UINT)indices->size(),
                                             indices->data(), &bitmap);
    if (SUCCEEDED(hr)) hr = bitmap->SetPalette(palette);
    if (SUCCEEDED(hr)) hr = frame->SetPixelFormat(&format);
    if (SUCCEEDED(hr) && format != GUID_WICPixelFormat8bppIndexed) hr = WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
    if (SUCCEEDED(hr)) hr = frame->SetPalette(palette);
    if (SUCCEEDED(hr)) hr = frame->WriteSource(bitmap, nullptr);
    release(bitmap);
    release(palette);
    return hr;
}

// Skips the sub-blocks of an extension starting at pos; the position after them, or 0.
size_t skip_sub_blocks(const uint8_t *data, size_t size, size_t pos)
{
    while (pos < size && data[pos]) pos += (size_t)data[pos] + 1;
    return pos < size ? pos + 1 : 0;
}

}  // namespace

HRESULT gif_write_frame(IWICImagingFactory *factory, const Image *image, IWICBitmapFrameEncode *frame,
                        int *transparent)
{
    *transparent = -1;
    Image *flat = image_clone(image);
    if (!flat) return E_OUTOFMEMORY;
    image_flatten_alpha(flat, 255, 255, 255);
    bool clear = any_transparent(image);
    std::vector<uint8_t> indices;
    std::vector<WICColor> colours;
    HRESULT hr = quantise(factory, flat, clear ? 255 : 256, &indices, &colours);
    image_free(flat);
    if (SUCCEEDED(hr) && clear) *transparent = give_transparent_entry(image, &indices, &colours);
    if (SUCCEEDED(hr)) hr = write_indexed(factory, image, &indices, colours, frame);
    return hr;
}

bool gif_mark_transparent(Blob *blob, int index)
{
    uint8_t *d = blob->data;
    size_t size = blob->size > 0 ? (size_t)blob->size : 0;
    if (size < 13 || memcmp(d, "GIF8", 4) != 0 || index < 0 || index > 255) return false;
    memcpy(d + 3, "89a", 3);  // the control block is a GIF89a feature
    size_t pos = 13 + ((d[10] & 0x80) ? (size_t)3 << ((d[10] & 7) + 1) : 0);
    while (pos + 2 < size && d[pos] == 0x21) {
        if (d[pos + 1] == 0xF9 && d[pos + 2] == 4 && pos + 7 < size) {
            d[pos + 3] |= 1;
            d[pos + 6] = (uint8_t)index;
            return true;
        }
        if (!(pos = skip_sub_blocks(d, size, pos + 2))) return false;
    }
    if (pos >= size || d[pos] != 0x2C) return false;
    const uint8_t control[8] = {0x21, 0xF9, 4, 1, 0, 0, (uint8_t)index, 0};
    auto *grown = (uint8_t *)realloc(d, size + sizeof control);
    if (!grown) return false;
    memmove(grown + pos + sizeof control, grown + pos, size - pos);
    memcpy(grown + pos, control, sizeof control);
    blob->data = grown;
    blob->size = (int32_t)(size + sizeof control);
    return true;
}
