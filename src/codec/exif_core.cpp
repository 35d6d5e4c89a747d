// EXIF through libexif. WIC's metadata query reader finds nothing in a JPEG
// under Wine and its query writer is not implemented, so the APP1 block is read
// from the file and a new one is built for the encoder. No Windows calls: the
// file is read through the caller's ExifReader (exif.cpp).
#include "codec/exif_core.h"
#include <libexif/exif-data.h>
#include <libexif/exif-utils.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

struct ExifItem {
    ExifIfd ifd;
    uint16_t tag;
};

// Camera, dates, exposure, lens, author and rights: the items a saved copy keeps.
constexpr ExifItem kExifTags[] = {
    {EXIF_IFD_0, 271},        {EXIF_IFD_0, 272},        {EXIF_IFD_0, 305},        {EXIF_IFD_0, 306},
    {EXIF_IFD_0, 315},        {EXIF_IFD_0, 33432},      {EXIF_IFD_EXIF, 36867},   {EXIF_IFD_EXIF, 36868},
    {EXIF_IFD_EXIF, 33434},   {EXIF_IFD_EXIF, 33437},   {EXIF_IFD_EXIF, 34855},   {EXIF_IFD_EXIF, 37386},
    {EXIF_IFD_EXIF, 42036},
};
constexpr uint16_t kOrientationTag = 274;
constexpr size_t kMaxApp1Payload = 65533;
constexpr int kMaxSegments = 512;
constexpr unsigned char kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};

struct ExifMemRef {
    ExifMem *m;
    ~ExifMemRef()
    {
        if (m) exif_mem_unref(m);
    }
};

struct ExifDataRef {
    ExifData *d;
    ~ExifDataRef()
    {
        if (d) exif_data_unref(d);
    }
};

bool read_exact(const ExifReader *f, void *buf, uint32_t n)
{
    return f->read(f->context, buf, n);
}

// Walks the JPEG's header segments up to the scan and returns the first APP1 EXIF payload.
bool read_app1(const ExifReader *f, std::vector<uint8_t> *payload)
{
    uint8_t soi[2];
    if (!read_exact(f, soi, 2) || soi[0] != 0xFF || soi[1] != 0xD8) return false;
    for (int segment = 0; segment < kMaxSegments; ++segment) {
        uint8_t b = 0;
        if (!read_exact(f, &b, 1) || b != 0xFF) return false;
        do {
            if (!read_exact(f, &b, 1)) return false;
        } while (b == 0xFF);
        if (b == 0xDA || b == 0xD9) return false;             // scan or end: no EXIF before the pixels
        if ((b >= 0xD0 && b <= 0xD7) || b == 0x01) continue;  // markers without a length
        uint8_t len_bytes[2];
        if (!read_exact(f, len_bytes, 2)) return false;
        uint32_t length = (uint32_t)(len_bytes[0] << 8 | len_bytes[1]);
        if (length < 2) return false;
        uint32_t body = length - 2;
        if (b == 0xE1 && body >= sizeof kExifHeader) {
            payload->resize(body);
            if (!read_exact(f, payload->data(), body)) return false;
            if (!memcmp(payload->data(), kExifHeader, sizeof kExifHeader)) return true;
            continue;
        }
        if (!f->skip(f->context, body)) return false;
    }
    return false;
}

// Loads without libexif's "fixing", which would invent or rewrite entries.
ExifData *load_exif(const std::vector<uint8_t> &payload)
{
    if (payload.size() <= sizeof kExifHeader) return nullptr;
    ExifData *data = exif_data_new();
    if (!data) return nullptr;
    exif_data_unset_option(data, EXIF_DATA_OPTION_IGNORE_UNKNOWN_TAGS);
    exif_data_unset_option(data, EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_set_option(data, EXIF_DATA_OPTION_DONT_CHANGE_MAKER_NOTE);
    exif_data_load_data(data, payload.data(), (unsigned)payload.size());
    return data;
}

ExifEntry *find_entry(ExifData *data, ExifIfd ifd, uint16_t tag)
{
    if (!data || !data->ifd[ifd]) return nullptr;
    return exif_content_get_entry(data->ifd[ifd], (ExifTag)tag);
}

// Only entries whose stored bytes cover every component are copied; libexif
// writes format size × components bytes from them.
bool entry_is_whole(const ExifEntry *e)
{
    if (!e || !e->data || !e->components) return false;
    unsigned unit = exif_format_get_size(e->format);
    return unit && e->components <= e->size / unit;
}

ExifEntry *new_entry(ExifMem *mem, uint16_t tag, ExifFormat format, unsigned long components, unsigned size)
{
    ExifEntry *e = exif_entry_new_mem(mem);
    if (!e) return nullptr;
    e->data = (unsigned char *)exif_mem_alloc(mem, size);
    if (!e->data) {
        exif_entry_unref(e);
        return nullptr;
    }
    e->tag = (ExifTag)tag;
    e->format = format;
    e->components = components;
    e->size = size;
    return e;
}

unsigned saved_size(ExifData *data)
{
    unsigned char *bytes = nullptr;
    unsigned int size = 0;
    exif_data_save_data(data, &bytes, &size);
    free(bytes);
    return bytes ? size : 0;
}

// Adds a copy of src; an item that would push the block past the marker limit is taken out again.
bool add_copy(ExifData *dst, ExifMem *mem, ExifIfd ifd, const ExifEntry *src)
{
    ExifEntry *e = new_entry(mem, (uint16_t)src->tag, src->format, src->components, src->size);
    if (!e) return false;
    memcpy(e->data, src->data, src->size);
    exif_content_add_entry(dst->ifd[ifd], e);
    bool added = e->parent == dst->ifd[ifd];
    unsigned size = added ? saved_size(dst) : 0;
    if (added && (size == 0 || size > kMaxApp1Payload)) {
        exif_content_remove_entry(dst->ifd[ifd], e);
        added = false;
    }
    exif_entry_unref(e);
    return added;
}

void add_orientation_upright(ExifData *dst, ExifMem *mem, ExifByteOrder order)
{
    ExifEntry *e = new_entry(mem, kOrientationTag, EXIF_FORMAT_SHORT, 1, 2);
    if (!e) return;
    exif_set_short(e->data, order, 1);
    exif_content_add_entry(dst->ifd[EXIF_IFD_0], e);
    exif_entry_unref(e);
}

// libexif 0.6.24 steps a null pointer when it formats a Copyright text with no
// NUL in it (looking for the editor part). Such a text has no editor part: it
// is written here as the library writes it, photographer first.
bool copyright_without_nul(const ExifEntry *e)
{
    return e->tag == EXIF_TAG_COPYRIGHT && e->format == EXIF_FORMAT_ASCII && e->size && e->data &&
           !memchr(e->data, 0, e->size);
}

void copyright_value(const ExifEntry *e, char *value, size_t cap)
{
    bool blank = true;
    for (unsigned i = 0; i < e->size && blank; ++i) blank = e->data[i] == ' ';
    int n = blank ? 6 : (int)(e->size < cap ? e->size : cap);
    snprintf(value, cap, "%.*s (Photographer) - [None] (Editor)", n, blank ? "[None]" : (const char *)e->data);
}

void entry_value(ExifEntry *e, char *value, size_t cap)
{
    value[0] = 0;
    if (copyright_without_nul(e))
        copyright_value(e, value, cap);
    else
        exif_entry_get_value(e, value, (unsigned)cap);
}

}  // namespace

bool exif_find_app1(const ExifReader *reader, std::vector<uint8_t> *payload)
{
    return read_app1(reader, payload);
}

int exif_orientation_of(const std::vector<uint8_t> &payload)
{
    ExifDataRef data = {load_exif(payload)};
    ExifEntry *e = find_entry(data.d, EXIF_IFD_0, kOrientationTag);
    if (!e || !e->data || e->components < 1) return 1;
    ExifByteOrder order = exif_data_get_byte_order(data.d);
    unsigned value = 0;
    if (e->format == EXIF_FORMAT_SHORT && e->size >= 2)
        value = exif_get_short(e->data, order);
    else if (e->format == EXIF_FORMAT_LONG && e->size >= 4)
        value = exif_get_long(e->data, order);
    return value >= 1 && value <= 8 ? (int)value : 1;
}

int exif_carry_over_of(const std::vector<uint8_t> &payload, std::vector<uint8_t> *app1)
{
    app1->clear();
    ExifDataRef src = {load_exif(payload)};

    ExifMemRef mem = {exif_mem_new_default()};
    ExifDataRef dst = {mem.m ? exif_data_new_mem(mem.m) : nullptr};
    if (!dst.d) return 0;
    // No "fixing": it would add mandatory entries of its own beside ours.
    exif_data_unset_option(dst.d, EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    ExifByteOrder order = src.d ? exif_data_get_byte_order(src.d) : EXIF_BYTE_ORDER_INTEL;
    exif_data_set_byte_order(dst.d, order);

    // Orientation goes in first so that the size limit already counts it.
    add_orientation_upright(dst.d, mem.m, order);
    int written = 0;
    for (const ExifItem &item : kExifTags) {
        ExifEntry *e = find_entry(src.d, item.ifd, item.tag);
        if (entry_is_whole(e) && add_copy(dst.d, mem.m, item.ifd, e)) ++written;
    }

    unsigned char *bytes = nullptr;
    unsigned int size = 0;
    exif_data_save_data(dst.d, &bytes, &size);
    if (bytes && size > sizeof kExifHeader && size <= kMaxApp1Payload) app1->assign(bytes, bytes + size);
    free(bytes);
    return written + 1;
}

int exif_list_values(const std::vector<uint8_t> &payload, ExifLine line, void *context)
{
    ExifDataRef data = {load_exif(payload)};
    if (!data.d) return 0;
    int lines = 0;
    char value[1024];
    ExifEntry *e = find_entry(data.d, EXIF_IFD_0, kOrientationTag);
    if (e) {
        entry_value(e, value, sizeof value);
        if (!line(context, (unsigned)e->tag, value)) return lines;
    }
    lines += e != nullptr;
    for (const ExifItem &item : kExifTags) {
        e = find_entry(data.d, item.ifd, item.tag);
        if (e) {
            entry_value(e, value, sizeof value);
            if (!line(context, (unsigned)e->tag, value)) break;
        }
        lines += e != nullptr;
    }
    return lines;
}
