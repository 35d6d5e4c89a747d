// Header checks before decoding. Wine's decoders allocate whatever a header
// declares, and some overflow their own heap on sizes whose 32-bit stride wraps,
// so the declared size is read here and judged first. No Windows calls: the
// file is read through the caller's ProbeSource.
#include "codec/codec_probe_core.h"
#include "codec/probe_heif.h"
#include "image/image.h"
#include <webp/decode.h>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr uint64_t kMaxTileBytes = 1ull << 31;
constexpr int kMaxGifBlocks = 1 << 20;
constexpr int kMaxIcoEntries = 256;
constexpr size_t kWindow = 16384;
constexpr uint64_t kMaxJpegJunk = 1u << 20;
// Far beyond any real meta box (a phone's is a few KB); larger ones are not read whole.
constexpr uint64_t kMaxHeifMetaBytes = 16ull << 20;

// Reads at any offset of a file or a memory block through one small window.
struct Reader {
    const ProbeSource *source;
    const uint8_t *mem;
    uint64_t size;
    uint8_t window[kWindow];
    uint64_t window_at;
    size_t window_len;
};

bool read_at(Reader *r, uint64_t offset, void *out, size_t n)
{
    if (n > kWindow || offset > r->size || r->size - offset < n) return false;
    if (r->mem) {
        memcpy(out, r->mem + offset, n);
        return true;
    }
    if (offset < r->window_at || offset + n > r->window_at + r->window_len) {
        size_t got = 0;
        if (!r->source->read(r->source->context, offset, r->window, kWindow, &got)) return false;
        r->window_at = offset;
        r->window_len = got;
        if (got < n) return false;
    }
    memcpy(out, r->window + (offset - r->window_at), n);
    return true;
}

uint32_t be16(const uint8_t *p) { return (uint32_t)p[0] << 8 | p[1]; }
uint32_t be32(const uint8_t *p) { return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3]; }
uint32_t le16(const uint8_t *p) { return (uint32_t)p[1] << 8 | p[0]; }
uint32_t le32(const uint8_t *p) { return (uint32_t)p[3] << 24 | (uint32_t)p[2] << 16 | (uint32_t)p[1] << 8 | p[0]; }

void judge(ProbeResult *res, uint64_t w, uint64_t h)
{
    if (res->width == 0 && res->height == 0) {
        res->width = (uint32_t)(w > 0xFFFFFFFFu ? 0xFFFFFFFFu : w);
        res->height = (uint32_t)(h > 0xFFFFFFFFu ? 0xFFFFFFFFu : h);
    }
    if (res->verdict == kProbeFine && w && h && (w > kImageMaxPixels || h > kImageMaxPixels || w * h > kImageMaxPixels)) {
        res->verdict = kProbeTooLarge;
        res->width = (uint32_t)(w > 0xFFFFFFFFu ? 0xFFFFFFFFu : w);
        res->height = (uint32_t)(h > 0xFFFFFFFFu ? 0xFFFFFFFFu : h);
    }
}

// The next marker at or after *at, found as libjpeg finds it: bytes other than
// 0xFF, fill bytes and stuffed FF 00 pairs between segments are skipped.
enum MarkerFound { kMarkerFound, kMarkerEnd, kMarkerTooMuchJunk };

MarkerFound next_jpeg_marker(Reader *r, uint64_t *at, uint8_t *marker)
{
    for (uint64_t skipped = 0; skipped < kMaxJpegJunk; ++skipped) {
        uint8_t c;
        if (!read_at(r, *at, &c, 1)) return kMarkerEnd;
        ++*at;
        if (c != 0xFF) continue;
        do {
            if (!read_at(r, *at, &c, 1)) return kMarkerEnd;
            ++*at;
        } while (c == 0xFF);
        if (c) {
            *marker = c;
            return kMarkerFound;
        }
    }
    return kMarkerTooMuchJunk;
}

// Markers up to the first frame header; the scan data is never read.
void probe_jpeg(Reader *r, ProbeResult *res)
{
    uint64_t at = 2;
    for (int guard = 0; guard < 100000; ++guard) {
        uint8_t marker, m[2];
        MarkerFound found = next_jpeg_marker(r, &at, &marker);
        // a real file never has this much junk; a decoder would still read past it
        if (found == kMarkerTooMuchJunk) res->verdict = kProbeDamaged;
        if (found != kMarkerFound) return;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;
        if (marker == 0xD9 || marker == 0xDA || !read_at(r, at, m, 2)) return;
        uint32_t len = be16(m);
        if (len < 2) len = 2;  // libjpeg reads on right after a length below its own two bytes
        bool sof = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (sof) {
            uint8_t f[5];
            if (!read_at(r, at + 2, f, 5)) return;
            judge(res, be16(f + 3), be16(f + 1));
            return;
        }
        at += len;
    }
}

void probe_png_at(Reader *r, uint64_t at, ProbeResult *res)
{
    uint8_t h[24];
    if (!read_at(r, at, h, 24) || memcmp(h + 12, "IHDR", 4)) return;
    judge(res, be32(h + 16), be32(h + 20));
}

uint64_t gif_colour_table(uint8_t flags)
{
    return flags & 0x80 ? 3ull << ((flags & 7) + 1) : 0;
}

// The logical screen and every frame, which may be larger than the screen:
// Wine's decoder reads all frames at once.
void probe_gif(Reader *r, ProbeResult *res)
{
    uint8_t h[13];
    if (!read_at(r, 0, h, 13)) return;
    judge(res, le16(h + 6), le16(h + 8));
    uint64_t at = 13 + gif_colour_table(h[10]);
    for (int blocks = 0; blocks < kMaxGifBlocks && res->verdict == kProbeFine;) {
        uint8_t b[10];
        if (!read_at(r, at, b, 1)) return;
        if (b[0] == 0x2C) {  // a frame: judged, then past its colour table and code size
            if (!read_at(r, at, b, 10)) return;
            judge(res, (uint64_t)le16(b + 1) + le16(b + 5), (uint64_t)le16(b + 3) + le16(b + 7));
            at += 10 + gif_colour_table(b[9]) + 1;
        } else if (b[0] == 0x21) {  // an extension: introducer and label
            at += 2;
        } else {
            return;  // the trailer
        }
        for (;;) {  // data sub-blocks up to an empty one
            if (++blocks > kMaxGifBlocks || !read_at(r, at, b, 1)) return;
            at += 1 + b[0];
            if (!b[0]) break;
        }
    }
}

void probe_dib_at(Reader *r, uint64_t at, bool in_icon, ProbeResult *res)
{
    uint8_t h[12];
    if (!read_at(r, at, h, 12)) return;
    if (le32(h) == 12) {
        judge(res, le16(h + 4), le16(h + 6));
        return;
    }
    int32_t w = (int32_t)le32(h + 4), hh = (int32_t)le32(h + 8);
    uint64_t aw = w < 0 ? (uint64_t)(-(int64_t)w) : (uint64_t)w;
    uint64_t ah = hh < 0 ? (uint64_t)(-(int64_t)hh) : (uint64_t)hh;
    if (in_icon) ah /= 2;  // an icon's bitmap counts its mask rows too
    judge(res, aw, ah);
}

void probe_ico(Reader *r, ProbeResult *res)
{
    uint8_t h[6];
    if (!read_at(r, 0, h, 6)) return;
    uint32_t count = le16(h + 4);
    for (uint32_t i = 0; i < count && i < (uint32_t)kMaxIcoEntries; ++i) {
        uint8_t e[16];
        if (!read_at(r, 6 + 16ull * i, e, 16)) return;
        uint32_t offset = le32(e + 12);
        uint8_t sig[8];
        if (!read_at(r, offset, sig, 8)) continue;
        ProbeResult one = {};
        if (!memcmp(sig, "\x89PNG\r\n\x1a\n", 8))
            probe_png_at(r, offset, &one);
        else
            probe_dib_at(r, offset, true, &one);
        if (one.verdict != kProbeFine) {
            res->verdict = one.verdict;
            res->width = one.width;
            res->height = one.height;
            return;
        }
    }
}

struct TiffFacts {
    uint64_t width, height, tile_w, tile_h, rows_per_strip, samples, bits;
};

uint32_t tiff16(const uint8_t *p, bool big) { return big ? be16(p) : le16(p); }
uint32_t tiff32(const uint8_t *p, bool big) { return big ? be32(p) : le32(p); }

// First value of a SHORT or LONG entry, read where the entry keeps it.
bool tiff_value(Reader *r, const uint8_t *e, bool big, uint64_t *out)
{
    uint32_t type = tiff16(e + 2, big), count = tiff32(e + 4, big);
    if (count == 0 || (type != 3 && type != 4)) return false;
    uint32_t unit = type == 3 ? 2 : 4;
    uint8_t v[4];
    if ((uint64_t)unit * count <= 4)
        memcpy(v, e + 8, 4);
    else if (!read_at(r, tiff32(e + 8, big), v, unit))
        return false;
    *out = type == 3 ? tiff16(v, big) : tiff32(v, big);
    return true;
}

void probe_tiff(Reader *r, ProbeResult *res)
{
    uint8_t h[8];
    if (!read_at(r, 0, h, 8)) return;
    bool big = h[0] == 'M';
    uint32_t ifd = tiff32(h + 4, big);
    uint8_t c[2];
    if (!read_at(r, ifd, c, 2)) return;
    uint32_t n = tiff16(c, big);
    TiffFacts f = {0, 0, 0, 0, 0xFFFFFFFFu, 1, 1};
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t e[12];
        if (!read_at(r, ifd + 2ull + 12ull * i, e, 12)) break;
        uint64_t v = 0;
        if (!tiff_value(r, e, big, &v)) continue;
        switch (tiff16(e, big)) {
        case 256: f.width = v; break;
        case 257: f.height = v; break;
        case 258: f.bits = v; break;
        case 277: f.samples = v; break;
        case 278: f.rows_per_strip = v; break;
        case 322: f.tile_w = v; break;
        case 323: f.tile_h = v; break;
        }
    }
    judge(res, f.width, f.height);
    if (res->verdict != kProbeFine) return;
    // One tile or strip is decoded at a time: its buffer must stay sane.
    uint64_t bits_per_pixel = f.samples * (f.bits ? f.bits : 1);
    uint64_t rows = f.rows_per_strip < f.height ? f.rows_per_strip : f.height;
    uint64_t strip = f.width * rows * bits_per_pixel / 8;
    uint64_t tile = f.tile_w * f.tile_h * bits_per_pixel / 8;
    if (tile >= kMaxTileBytes || (!f.tile_w && strip >= kMaxTileBytes)) res->verdict = kProbeDamaged;
}

// Up to one window of bytes from the start, without copying them.
const uint8_t *head_bytes(Reader *r, size_t *n)
{
    *n = r->size < kWindow ? (size_t)r->size : kWindow;
    if (r->mem) return r->mem;
    uint8_t first;
    if (!read_at(r, 0, &first, 1)) return nullptr;  // loads the window at the start
    if (r->window_len < *n) *n = r->window_len;
    return r->window;
}

// libwebp reads a frame without its chunk header as long as the data it is given
// holds its first partition: a 64-byte head refused what the decoder, which
// gets the whole file, reads. One window holds any first partition under 16 KB.
void probe_webp(Reader *r, ProbeResult *res)
{
    size_t n;
    const uint8_t *head = head_bytes(r, &n);
    WebPBitstreamFeatures features;
    if (head && WebPGetFeatures(head, n, &features) == VP8_STATUS_OK)
        judge(res, (uint32_t)features.width, (uint32_t)features.height);
}

// Reads the meta box at offset into out, found by walking the top-level boxes from there.
bool heif_meta_bytes(Reader *r, uint64_t at, std::vector<uint8_t> *out)
{
    for (int n = 0; n < 100000 && at < r->size; ++n) {
        uint8_t h[16];
        if (!read_at(r, at, h, 8)) return false;
        uint64_t size = be32(h);
        if (size == 1) {
            if (!read_at(r, at, h, 16)) return false;
            size = (uint64_t)be32(h + 8) << 32 | be32(h + 12);
        } else if (size == 0) {
            size = r->size - at;
        }
        if (size < 8 || size > r->size - at) return false;
        if (memcmp(h + 4, "meta", 4)) {
            at += size;
            continue;
        }
        if (size > kMaxHeifMetaBytes) return false;
        size_t start = out->size();
        out->resize(start + (size_t)size);
        for (uint64_t done = 0; done < size;) {
            size_t chunk = size - done < kWindow ? (size_t)(size - done) : kWindow;
            if (!read_at(r, at + done, out->data() + start + done, chunk)) return false;
            done += chunk;
        }
        return true;
    }
    return false;
}

// The boxes that declare the size sit near the start, or after the picture data
// in some files: then the ftyp box and the meta box are judged together.
void probe_heif(Reader *r, ProbeResult *res)
{
    std::vector<uint8_t> head(r->size < kWindow ? (size_t)r->size : kWindow);
    if (!read_at(r, 0, head.data(), head.size())) return;
    HeifHeader h = codec_probe_heif(head.data(), head.size(), r->size);
    if (h.meta_missing) {
        uint32_t ftyp = be32(head.data());
        std::vector<uint8_t> joined(head.begin(), head.begin() + ftyp);
        if (!heif_meta_bytes(r, h.resume_at, &joined)) {
            res->verdict = kProbeDamaged;
            return;
        }
        h = codec_probe_heif(joined.data(), joined.size(), joined.size());
    }
    if (h.damaged || h.meta_missing) res->verdict = kProbeDamaged;
    if (h.too_large) judge(res, h.width, h.height);
    res->width = h.width;
    res->height = h.height;
}

bool is_heif(Reader *r, const uint8_t *h, size_t n)
{
    if (n < 12 || memcmp(h + 4, "ftyp", 4)) return false;
    uint8_t head[256];
    size_t len = r->size < sizeof head ? (size_t)r->size : sizeof head;
    return read_at(r, 0, head, len) && codec_probe_heif_brand(head, len);
}

ProbeFormat format_of(const uint8_t *h, size_t n)
{
    if (n >= 3 && h[0] == 0xFF && h[1] == 0xD8 && h[2] == 0xFF) return kProbeJpeg;
    if (n >= 8 && !memcmp(h, "\x89PNG\r\n\x1a\n", 8)) return kProbePng;
    if (n >= 6 && (!memcmp(h, "GIF87a", 6) || !memcmp(h, "GIF89a", 6))) return kProbeGif;
    if (n >= 2 && h[0] == 'B' && h[1] == 'M') return kProbeBmp;
    if (n >= 4 && (!memcmp(h, "II*\0", 4) || !memcmp(h, "MM\0*", 4))) return kProbeTiff;
    if (n >= 12 && !memcmp(h, "RIFF", 4) && !memcmp(h + 8, "WEBP", 4)) return kProbeWebp;
    if (n >= 6 && h[0] == 0 && h[1] == 0 && h[2] == 1 && h[3] == 0 && (h[4] || h[5])) return kProbeIco;
    return kProbeUnknown;
}

ProbeResult probe(Reader *r)
{
    ProbeResult res = {};
    uint8_t h[12] = {};
    size_t n = r->size < sizeof h ? (size_t)r->size : sizeof h;
    if (!n || !read_at(r, 0, h, n)) return res;
    res.format = is_heif(r, h, n) ? kProbeHeif : format_of(h, n);
    switch (res.format) {
    case kProbeJpeg: probe_jpeg(r, &res); break;
    case kProbePng: probe_png_at(r, 0, &res); break;
    case kProbeGif: probe_gif(r, &res); break;
    case kProbeBmp: probe_dib_at(r, 14, false, &res); break;
    case kProbeTiff: probe_tiff(r, &res); break;
    case kProbeWebp: probe_webp(r, &res); break;
    case kProbeIco: probe_ico(r, &res); break;
    case kProbeHeif: probe_heif(r, &res); break;
    default: break;
    }
    return res;
}

}  // namespace

ProbeResult codec_probe_source(const ProbeSource *source)
{
    ProbeResult res = {};
    if (!source || !source->read) return res;
    Reader *r = new (std::nothrow) Reader;
    if (!r) return res;
    r->source = source;
    r->mem = nullptr;
    r->size = source->size;
    r->window_at = 0;
    r->window_len = 0;
    res = probe(r);
    delete r;
    return res;
}

ProbeResult codec_probe_bytes(const uint8_t *data, size_t size)
{
    ProbeResult res = {};
    if (!data) return res;
    Reader *r = new (std::nothrow) Reader;
    if (!r) return res;
    r->source = nullptr;
    r->mem = data;
    r->size = size;
    r->window_at = 0;
    r->window_len = 0;
    res = probe(r);
    delete r;
    return res;
}
