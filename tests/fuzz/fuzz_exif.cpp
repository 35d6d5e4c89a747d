// The EXIF reader on a JPEG's bytes: the segment walk, orientation, the list of
// carried items (libexif's formatter) and the carry-over block. Besides memory
// errors: the block built for a new file reads back with orientation 1 and
// lists no more items than it was built with.
#include "fuzz_check.h"
#include "codec/exif_core.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Bytes {
    const uint8_t *data;
    size_t size;
    size_t at;
};

bool read_bytes(void *context, void *out, uint32_t n)
{
    auto *b = (Bytes *)context;
    if (b->at > b->size || b->size - b->at < n) return false;
    memcpy(out, b->data + b->at, n);
    b->at += n;
    return true;
}

bool skip_bytes(void *context, uint32_t n)
{
    ((Bytes *)context)->at += n;
    return true;
}

bool take_line(void *context, unsigned tag, const char *value)
{
    *(size_t *)context += strlen(value);
    return true;
}

void check(bool ok, const char *what)
{
    fuzz_check(ok, "exif", what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Bytes bytes = {data, size, 0};
    ExifReader reader = {&bytes, read_bytes, skip_bytes};
    std::vector<uint8_t> payload;
    if (!exif_find_app1(&reader, &payload)) return 0;
    int orientation = exif_orientation_of(payload);
    check(orientation >= 1 && orientation <= 8, "orientation out of range");
    size_t text = 0;
    exif_list_values(payload, take_line, &text);
    std::vector<uint8_t> app1;
    int written = exif_carry_over_of(payload, &app1);
    if (app1.empty()) return 0;
    check(exif_orientation_of(app1) == 1, "carried block not upright");
    size_t again = 0;
    check(exif_list_values(app1, take_line, &again) <= written, "carried block lists more than was written");
    return 0;
}
