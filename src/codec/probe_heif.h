// The HEIF/AVIF header probe: brand and declared size from the ftyp and meta
// boxes. Free of Windows headers, so it can be fuzzed natively on raw bytes.
#pragma once
#include <cstddef>
#include <cstdint>

struct HeifHeader {
    bool heif;           // an ftyp with one of the HEIF or AVIF brands
    bool damaged;        // boxes that contradict each other or the file's length
    bool too_large;      // declares more pixels than an Image may hold
    bool meta_missing;   // no meta box within the bytes given; resume_at says where to look on
    uint64_t resume_at;  // offset of the first top-level box not within the bytes given
    uint32_t width;      // the primary item's declared size (ispe); 0 when not found
    uint32_t height;
    uint32_t tiles;      // tiles of a grid primary item; 0 for a single picture
};

// data holds top-level boxes from the start of a file of file_size bytes (or an ftyp box
// followed by the meta box found further on).
HeifHeader codec_probe_heif(const uint8_t *data, size_t size, uint64_t file_size);
// True when the first bytes are an ftyp box naming one of the HEIF or AVIF brands.
bool codec_probe_heif_brand(const uint8_t *data, size_t size);
