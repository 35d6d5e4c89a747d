// EXIF through libexif. WIC's metadata query reader finds nothing in a JPEG
// under Wine and its query writer is not implemented, so the APP1 block is read
// from the file and a new one is built for the encoder.
#include "codec/exif.h"
#include "codec/codec.h"
#include "codec/codec_heif.h"
#include "codec/codec_probe.h"
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

struct FileCloser {
    HANDLE h;
    ~FileCloser()
    {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
};

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

bool read_exact(HANDLE f, void *buf, DWORD n)
{
    DWORD got = 0;
    return ReadFile(f, buf, n, &got, nullptr) && got == n;
}

// Walks the JPEG's header segments up to the scan and returns the first APP1 EXIF payload.
bool read_app1(HANDLE f, std::vector<uint8_t> *payload)
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
        DWORD length = (DWORD)(len_bytes[0] << 8 | len_bytes[1]);
        if (length < 2) return false;
        DWORD body = length - 2;
        if (b == 0xE1 && body >= sizeof kExifHeader) {
            payload->resize(body);
            if (!read_exact(f, payload->data(), body)) return false;
            if (!memcmp(payload->data(), kExifHeader, sizeof kExifHeader)) return true;
            continue;
        }
        if (SetFilePointer(f, (LONG)body, nullptr, FILE_CURRENT) == INVALID_SET_FILE_POINTER) return false;
    }
    return false;
}

bool read_app1_from_path(const WCHAR *path, std::vector<uint8_t> *payload)
{
    FileCloser f = {CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (f.h == INVALID_HANDLE_VALUE) return false;
    if (read_app1(f.h, payload)) return true;
    // A HEIF keeps its EXIF block as an item of its own.
    return codec_probe_file(path).format == kProbeHeif && heif_exif_payload(path, payload);
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

ExifData *load_exif_from_path(const WCHAR *path)
{
    std::vector<uint8_t> payload;
    return read_app1_from_path(path, &payload) ? load_exif(payload) : nullptr;
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

// "TAG=VALUE\n" appended at out + *used when the whole line fits.
bool append_line(WCHAR *out, int out_cap, int *used, ExifEntry *e)
{
    char value[1024] = "";
    exif_entry_get_value(e, value, sizeof value);
    WCHAR wide[1024];
    if (!MultiByteToWideChar(CP_UTF8, 0, value, -1, wide, 1024)) wide[0] = 0;
    WCHAR line[1100];
    int n = _snwprintf(line, 1100, L"%u=%ls\n", (unsigned)e->tag, wide);
    if (n < 0 || n >= 1100 || n >= out_cap - *used) return false;
    memcpy(out + *used, line, (size_t)(n + 1) * sizeof(WCHAR));
    *used += n;
    return true;
}

bool extension_has_no_exif(const WCHAR *path)
{
    const WCHAR *ext = codec_file_ext(path);
    return !_wcsicmp(ext, L".png") || !_wcsicmp(ext, L".bmp") || !_wcsicmp(ext, L".gif");
}

}  // namespace

int exif_read_orientation(const WCHAR *path)
{
    if (!path || !path[0]) return 1;
    ExifDataRef data = {load_exif_from_path(path)};
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

int exif_build_carry_over(const WCHAR *src_path, std::vector<uint8_t> *app1)
{
    if (!app1) return 0;
    app1->clear();
    if (!src_path || !src_path[0] || extension_has_no_exif(src_path)) return 0;
    std::vector<uint8_t> payload;
    if (!read_app1_from_path(src_path, &payload)) return 0;  // unreadable, moved away or no EXIF block
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

int exif_list_carried(const WCHAR *jpeg_path, WCHAR *out, int out_cap)
{
    if (!out || out_cap <= 0) return 0;
    out[0] = 0;
    ExifDataRef data = {jpeg_path ? load_exif_from_path(jpeg_path) : nullptr};
    if (!data.d) return 0;
    int lines = 0, used = 0;
    ExifEntry *e = find_entry(data.d, EXIF_IFD_0, kOrientationTag);
    if (e && !append_line(out, out_cap, &used, e)) return lines;
    lines += e != nullptr;
    for (const ExifItem &item : kExifTags) {
        e = find_entry(data.d, item.ifd, item.tag);
        if (e && !append_line(out, out_cap, &used, e)) break;  // only whole lines go out
        lines += e != nullptr;
    }
    return lines;
}
