// Separable resampling with four kernels, and the table of common output sizes.
#pragma once
#include "image/image.h"

enum : int {
    kFilterAuto = 0,
    kFilterBox = 1,
    kFilterTriangle = 2,
    kFilterCatmullRom = 3,
    kFilterLanczos3 = 4,
};

struct SizePreset {
    int32_t group;          // 0 screen and social sizes, 1 printed photo sizes
    const wchar_t *size_text;
    const wchar_t *label;
    int32_t width;
    int32_t height;
};

Image *image_resize(const Image *src, int dst_w, int dst_h, int filter);
const wchar_t *filter_name(int filter);
uint32_t preset_count();
const SizePreset *preset_at(uint32_t index);
