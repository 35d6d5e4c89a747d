// EXIF through libexif, because WIC's metadata reader and writer do nothing
// for JPEG under Wine: orientation at load, carry-over of camera facts at save.
#pragma once
#include <windows.h>
#include <cstdint>
#include <vector>

// Orientation 1..8 from IFD0 tag 274 of the file's APP1 EXIF block; 1 when absent or damaged.
int exif_read_orientation(const WCHAR *path);

// Builds the APP1 payload ("Exif\0\0" + TIFF) to put into a new JPEG: the carried
// items of the source plus Orientation = 1. Returns the items written plus one,
// or 0 when nothing was attempted (payload left empty).
int exif_build_carry_over(const WCHAR *src_path, std::vector<uint8_t> *app1);

// The carried items of a JPEG file (Orientation first), one "TAG=VALUE" line each;
// returns the number of lines.
int exif_list_carried(const WCHAR *jpeg_path, WCHAR *out, int out_cap);
