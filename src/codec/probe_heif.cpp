// HEIF boxes read just far enough to judge a file before libheif sees it: the
// brand, the primary item's declared size and, for a grid, how many tiles it has.
// Every length is checked against the bytes that hold it before it is read.
#include "codec/probe_heif.h"
#include "image/image.h"
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kMaxFtypBytes = 4096;
constexpr size_t kMaxProperties = 20000;  // as libheif's own limit on children of a box
constexpr int kMaxTopBoxes = 100000;
// A 100 M-pixel grid of the smallest sensible tiles (64 x 64) has about 25,000 of them.
constexpr size_t kMaxTiles = 1 << 16;
constexpr const char *kBrands[] = {"heic", "heix", "hevc", "mif1", "msf1", "avif", "avis"};

struct Box {
    char type[4];
    const uint8_t *body;
    uint64_t body_size;
    uint64_t total;  // header included; may reach past the bytes given
    uint32_t header;
};

uint32_t be16(const uint8_t *p) { return (uint32_t)p[0] << 8 | p[1]; }
uint32_t be32(const uint8_t *p) { return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3]; }
uint64_t be64(const uint8_t *p) { return (uint64_t)be32(p) << 32 | be32(p + 4); }

// The box header at p; false when the header itself is not within avail bytes.
// A size of 0 means "to the end", which is rest bytes from p.
bool box_at(const uint8_t *p, uint64_t avail, uint64_t rest, Box *box)
{
    if (avail < 8) return false;
    uint64_t size = be32(p);
    box->header = 8;
    if (size == 1) {
        if (avail < 16) return false;
        size = be64(p + 8);
        box->header = 16;
    } else if (size == 0) {
        size = rest;
    }
    memcpy(box->type, p + 4, 4);
    box->total = size;
    box->body = p + box->header;
    box->body_size = size >= box->header ? size - box->header : 0;
    return true;
}

bool is(const Box &b, const char *type) { return !memcmp(b.type, type, 4); }

bool known_brand(const uint8_t *p)
{
    for (const char *brand : kBrands)
        if (!memcmp(p, brand, 4)) return true;
    return false;
}

// Children of a box body, one at a time; false at the end or at a child that does not fit.
struct Children {
    const uint8_t *p;
    uint64_t left;
    bool broken;
};

bool next_child(Children *c, Box *box)
{
    if (c->left == 0) return false;
    if (!box_at(c->p, c->left, c->left, box) || box->total < box->header || box->total > c->left) {
        c->broken = true;
        return false;
    }
    c->p += box->total;
    c->left -= box->total;
    return true;
}

struct Meta {
    uint32_t primary;
    bool has_primary;
    bool primary_is_grid;
    std::vector<uint32_t> tiles;
    std::vector<Box> properties;
    const uint8_t *ipma;
    uint64_t ipma_size;
    bool damaged;
};

void read_pitm(const Box &b, Meta *m)
{
    if (b.body_size < 6) return void(m->damaged = true);
    bool wide = b.body[0] != 0;
    if (wide && b.body_size < 8) return void(m->damaged = true);
    m->primary = wide ? be32(b.body + 4) : be16(b.body + 4);
    m->has_primary = true;
}

// Only the primary item's type matters here: whether it is a grid.
void read_infe(const Box &b, Meta *m)
{
    if (b.body_size < 4) return;
    uint8_t version = b.body[0];
    if (version < 2) return;
    uint64_t at = 4;
    uint32_t id = 0;
    if (version == 2) {
        if (b.body_size < at + 2) return;
        id = be16(b.body + at);
        at += 2;
    } else {
        if (b.body_size < at + 4) return;
        id = be32(b.body + at);
        at += 4;
    }
    at += 2;  // protection index
    if (b.body_size < at + 4) return;
    if (m->has_primary && id == m->primary && !memcmp(b.body + at, "grid", 4)) m->primary_is_grid = true;
}

void read_iinf(const Box &b, Meta *m)
{
    if (b.body_size < 4) return void(m->damaged = true);
    uint64_t skip = b.body[0] == 0 ? 6 : 8;
    if (b.body_size < skip) return void(m->damaged = true);
    Children c = {b.body + skip, b.body_size - skip, false};
    Box child;
    while (next_child(&c, &child))
        if (is(child, "infe")) read_infe(child, m);
    if (c.broken) m->damaged = true;
}

// The primary item's 'dimg' references: the tiles of a grid.
void read_iref(const Box &b, Meta *m)
{
    if (b.body_size < 4) return void(m->damaged = true);
    uint32_t id_bytes = b.body[0] == 0 ? 2 : 4;
    Children c = {b.body + 4, b.body_size - 4, false};
    Box ref;
    while (next_child(&c, &ref)) {
        if (ref.body_size < id_bytes + 2) {
            m->damaged = true;
            return;
        }
        uint32_t from = id_bytes == 2 ? be16(ref.body) : be32(ref.body);
        uint32_t count = be16(ref.body + id_bytes);
        if (ref.body_size < id_bytes + 2 + (uint64_t)count * id_bytes) {
            m->damaged = true;
            return;
        }
        if (!is(ref, "dimg") || !m->has_primary || from != m->primary) continue;
        const uint8_t *to = ref.body + id_bytes + 2;
        for (uint32_t i = 0; i < count; ++i, to += id_bytes) {
            if (m->tiles.size() >= kMaxTiles) {
                m->damaged = true;
                return;
            }
            m->tiles.push_back(id_bytes == 2 ? be16(to) : be32(to));
        }
    }
    if (c.broken) m->damaged = true;
}

void read_iprp(const Box &b, Meta *m)
{
    Children c = {b.body, b.body_size, false};
    Box child;
    while (next_child(&c, &child)) {
        if (is(child, "ipco")) {
            Children props = {child.body, child.body_size, false};
            Box prop;
            while (m->properties.size() < kMaxProperties && next_child(&props, &prop)) m->properties.push_back(prop);
            if (props.broken) m->damaged = true;
        } else if (is(child, "ipma") && !m->ipma) {
            m->ipma = child.body;
            m->ipma_size = child.body_size;
        }
    }
    if (c.broken) m->damaged = true;
}

// The item's 'ispe' through the property associations; false when it has none.
bool item_size(const Meta &m, uint32_t item, uint32_t *w, uint32_t *h, bool *damaged)
{
    if (!m.ipma || m.ipma_size < 8) return false;
    const uint8_t *p = m.ipma;
    uint8_t version = p[0];
    bool wide_index = p[3] & 1;
    uint32_t entries = be32(p + 4);
    uint64_t at = 8;
    for (uint32_t e = 0; e < entries; ++e) {
        uint32_t id_bytes = version < 1 ? 2 : 4;
        if (m.ipma_size < at + id_bytes + 1) return void(*damaged = true), false;
        uint32_t id = id_bytes == 2 ? be16(p + at) : be32(p + at);
        uint32_t count = p[at + id_bytes];
        at += id_bytes + 1;
        uint32_t unit = wide_index ? 2 : 1;
        if (m.ipma_size < at + (uint64_t)count * unit) return void(*damaged = true), false;
        for (uint32_t i = 0; id == item && i < count; ++i) {
            uint32_t index = wide_index ? be16(p + at + 2 * i) & 0x7FFF : p[at + i] & 0x7F;
            if (index == 0 || index > m.properties.size()) continue;
            const Box &prop = m.properties[index - 1];
            if (!is(prop, "ispe") || prop.body_size < 12) continue;
            *w = be32(prop.body + 4);
            *h = be32(prop.body + 8);
            return true;
        }
        at += (uint64_t)count * unit;
    }
    return false;
}

bool over_limit(uint64_t w, uint64_t h)
{
    return w > kImageMaxPixels || h > kImageMaxPixels || w * h > kImageMaxPixels;
}

// A grid needs as many tiles as cover its size; more than that is a file built to exhaust the decoder.
void judge_grid(const Meta &m, HeifHeader *out)
{
    out->tiles = (uint32_t)m.tiles.size();
    if (m.tiles.empty()) return void(out->damaged = true);
    uint32_t tw = 0, th = 0;
    bool damaged = false;
    if (!item_size(m, m.tiles[0], &tw, &th, &damaged) || !tw || !th) {
        out->damaged |= damaged;
        return;
    }
    uint64_t tiles = m.tiles.size();
    if (out->width && out->height) {
        uint64_t needed = ((uint64_t)out->width + tw - 1) / tw * (((uint64_t)out->height + th - 1) / th);
        if (tiles > needed) out->damaged = true;
    } else if (over_limit(tw, (uint64_t)th * tiles)) {
        out->too_large = true;
        out->width = tw;
        out->height = (uint32_t)((uint64_t)th * tiles > 0xFFFFFFFFu ? 0xFFFFFFFFu : th * tiles);
    }
}

void read_meta(const Box &b, HeifHeader *out)
{
    if (b.body_size < 4) return void(out->damaged = true);
    Meta m = {};
    // pitm comes first in practice, but nothing requires it: find it before the rest.
    Children c = {b.body + 4, b.body_size - 4, false};
    Box child;
    while (next_child(&c, &child))
        if (is(child, "pitm")) read_pitm(child, &m);
    c = {b.body + 4, b.body_size - 4, false};
    while (next_child(&c, &child)) {
        if (is(child, "iinf")) read_iinf(child, &m);
        else if (is(child, "iref")) read_iref(child, &m);
        else if (is(child, "iprp")) read_iprp(child, &m);
    }
    out->damaged |= c.broken || m.damaged;
    if (!m.has_primary) return;
    uint32_t w = 0, h = 0;
    bool damaged = false;
    if (item_size(m, m.primary, &w, &h, &damaged)) {
        out->width = w;
        out->height = h;
        if (over_limit(w, h)) out->too_large = true;
    }
    out->damaged |= damaged;
    if (m.primary_is_grid && !out->too_large) judge_grid(m, out);
}

// The ftyp box that must open the file; false when it is not one naming a HEIF brand.
bool read_ftyp(const uint8_t *data, size_t size, uint64_t file_size, HeifHeader *out)
{
    Box b;
    if (!box_at(data, size, file_size, &b) || !is(b, "ftyp") || b.header != 8 || size < 12) return false;
    bool listed = known_brand(data + 8);
    uint64_t whole = b.total < size ? b.total : size;
    for (uint64_t at = 16; !listed && at + 4 <= whole; at += 4) listed = known_brand(data + at);
    if (!listed) return false;
    out->heif = true;
    if (b.total < 16 || b.total > kMaxFtypBytes || (b.total - 16) % 4 || b.total > file_size) out->damaged = true;
    return true;
}

}  // namespace

bool codec_probe_heif_brand(const uint8_t *data, size_t size)
{
    HeifHeader h = {};
    return data && read_ftyp(data, size, size, &h);
}

HeifHeader codec_probe_heif(const uint8_t *data, size_t size, uint64_t file_size)
{
    HeifHeader out = {};
    if (!data || !read_ftyp(data, size, file_size, &out) || out.damaged) return out;
    uint64_t at = 0;
    for (int n = 0; n < kMaxTopBoxes && at < file_size; ++n) {
        Box b;
        if (at >= size || !box_at(data + at, size - at, file_size - at, &b)) break;
        if (b.total < b.header || b.total > file_size - at) {
            out.damaged = true;
            return out;
        }
        if (is(b, "meta")) {
            if (b.total > size - at) break;  // begun but not within the bytes given
            read_meta(b, &out);
            return out;
        }
        at += b.total;
    }
    if (at >= file_size) {
        out.damaged = true;  // every box seen and none of them a meta box
        return out;
    }
    out.meta_missing = true;
    out.resume_at = at;
    return out;
}
