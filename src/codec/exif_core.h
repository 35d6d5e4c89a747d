// The EXIF block of a JPEG through libexif, free of Windows headers: found by
// walking the header segments, read for orientation and the carried items, and
// rebuilt for a new file. exif.h opens the files.
#pragma once
#include <cstdint>
#include <vector>

// A file read from its start: read takes exactly n bytes (false when fewer are
// left), skip moves on n bytes (past the end only makes the next read fail).
struct ExifReader {
    void *context;
    bool (*read)(void *context, void *out, uint32_t n);
    bool (*skip)(void *context, uint32_t n);
};

// The first APP1 EXIF payload ("Exif\0\0" + TIFF) before the scan.
bool exif_find_app1(const ExifReader *reader, std::vector<uint8_t> *payload);
// Orientation 1..8 from IFD0 tag 274; 1 when absent or damaged.
int exif_orientation_of(const std::vector<uint8_t> &payload);
// The APP1 payload for a new JPEG: payload's carried items (payload may be
// empty) plus Orientation = 1. Returns the items written plus one.
int exif_carry_over_of(const std::vector<uint8_t> &payload, std::vector<uint8_t> *app1);
// Hands each carried item present (Orientation first) to line as its tag and
// libexif's UTF-8 text; stops at a false return. Returns the items handed over
// and taken.
typedef bool (*ExifLine)(void *context, unsigned tag, const char *value);
int exif_list_values(const std::vector<uint8_t> &payload, ExifLine line, void *context);
