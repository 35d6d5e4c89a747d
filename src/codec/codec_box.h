// Box averaging for thumbnails made a band of rows at a time: the cells and the
// truncating averages of image_thumb, without the full-size picture.
#pragma once
#include <cstddef>
#include <cstdint>

// Rows (or columns) [from, to) of the source that make output cell i, as the box thumbnail takes them.
inline void codec_box_range(uint32_t i, uint32_t src_len, uint32_t dst_len, uint32_t *from, uint32_t *to)
{
    uint32_t a = (uint32_t)((double)i * src_len / dst_len);
    uint32_t b = (uint32_t)((double)(i + 1) * src_len / dst_len);
    if (a >= src_len) a = src_len - 1;
    if (b > src_len) b = src_len;
    *from = a;
    *to = b > a ? b : a + 1;
}

// Averages one band of source rows into one output row.
inline void codec_box_row(const uint8_t *band, uint32_t rows, uint32_t w, const uint32_t *col_from,
                    const uint32_t *col_to, uint32_t tw, uint8_t *out)
{
    for (uint32_t j = 0; j < tw; ++j, out += 4) {
        uint32_t sum[4] = {0, 0, 0, 0};
        for (uint32_t r = 0; r < rows; ++r) {
            const uint8_t *p = band + ((size_t)r * w + col_from[j]) * 4;
            for (uint32_t c = col_from[j]; c < col_to[j]; ++c, p += 4)
                for (int k = 0; k < 4; ++k) sum[k] += p[k];
        }
        uint32_t n = rows * (col_to[j] - col_from[j]);
        for (int k = 0; k < 4; ++k) out[k] = (uint8_t)(sum[k] / n);
    }
}
