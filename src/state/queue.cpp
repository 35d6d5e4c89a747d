// The growable folder queue: paths in one text block, a hash table for the
// case-insensitive duplicate check, natural order by file name.
#include "state/queue.h"
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>

// One upper-case table for every code unit, so hashing and comparing fold alike.
static const WCHAR *upper_table()
{
    static WCHAR *table = [] {
        auto *t = (WCHAR *)malloc(65536 * sizeof(WCHAR));
        if (!t) return t;
        for (int i = 0; i < 65536; ++i) t[i] = (WCHAR)i;
        CharUpperBuffW(t + 128, 65536 - 128);
        for (int i = 'a'; i <= 'z'; ++i) t[i] = (WCHAR)(i - 32);
        return t;
    }();
    return table;
}

static WCHAR fold(const WCHAR *table, WCHAR c)
{
    return table ? table[c] : (c >= 'a' && c <= 'z' ? (WCHAR)(c - 32) : c);
}

static uint32_t fold_hash(const WCHAR *s, size_t n)
{
    const WCHAR *table = upper_table();
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < n; ++i) h = (h ^ fold(table, s[i])) * 16777619u;
    return h;
}

static bool fold_equal(const WCHAR *a, const WCHAR *b, size_t n)
{
    const WCHAR *table = upper_table();
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i] && fold(table, a[i]) != fold(table, b[i])) return false;
    return true;
}

const WCHAR *queue_path(const FileQueue *q, int index)
{
    if (index < 0 || index >= q->count) return L"";
    return q->text + q->entries[index].offset;
}

const WCHAR *queue_name(const FileQueue *q, int index)
{
    if (index < 0 || index >= q->count) return L"";
    return q->text + q->entries[index].offset + q->entries[index].name;
}

void queue_clear(FileQueue *q)
{
    q->count = 0;
    q->text_used = 0;
    q->garbage = 0;
    if (q->slots) memset(q->slots, 0, q->slot_cap * sizeof *q->slots);
}

void queue_free(FileQueue *q)
{
    free(q->text);
    free(q->entries);
    free(q->slots);
    memset(q, 0, sizeof *q);
}

static int find_n(const FileQueue *q, const WCHAR *path, size_t n, uint32_t hash)
{
    if (!q->slot_cap) return -1;
    uint32_t mask = q->slot_cap - 1;
    for (uint32_t i = hash & mask;; i = (i + 1) & mask) {
        int32_t slot = q->slots[i];
        if (!slot) return -1;
        const QueueEntry &e = q->entries[slot - 1];
        if (e.length == n && fold_equal(q->text + e.offset, path, n)) return slot - 1;
    }
}

int queue_find(const FileQueue *q, const WCHAR *path)
{
    if (!path) return -1;
    size_t n = wcslen(path);
    return find_n(q, path, n, fold_hash(path, n));
}

static void put_slot(FileQueue *q, int index)
{
    const QueueEntry &e = q->entries[index];
    uint32_t mask = q->slot_cap - 1;
    uint32_t i = fold_hash(q->text + e.offset, e.length) & mask;
    while (q->slots[i]) i = (i + 1) & mask;
    q->slots[i] = index + 1;
}

// Rebuilds the hash table at a size that keeps it at most half full.
static bool rehash(FileQueue *q, int need)
{
    uint32_t cap = q->slot_cap < 64 ? 64 : q->slot_cap;
    while (cap < (uint32_t)need * 2u) cap *= 2;
    if (cap != q->slot_cap) {
        auto *slots = (int32_t *)calloc(cap, sizeof(int32_t));
        if (!slots) return false;
        free(q->slots);
        q->slots = slots;
        q->slot_cap = cap;
    } else {
        memset(q->slots, 0, cap * sizeof *q->slots);
    }
    for (int i = 0; i < q->count; ++i) put_slot(q, i);
    return true;
}

static bool grow(void **block, size_t need, size_t *cap, size_t unit)
{
    if (need <= *cap) return true;
    size_t next = *cap < 256 ? 256 : *cap;
    while (next < need) next += next / 2;
    void *p = realloc(*block, next * unit);
    if (!p) return false;
    *block = p;
    *cap = next;
    return true;
}

int queue_add(FileQueue *q, const WCHAR *path)
{
    if (!path || !path[0]) return -1;
    size_t n = wcslen(path);
    if (n > (size_t)kQueuePathMax) return -1;
    uint32_t hash = fold_hash(path, n);
    int found = find_n(q, path, n, hash);
    if (found >= 0) return found;
    if (q->text_used + n + 1 > UINT32_MAX || q->count == INT32_MAX) return -1;
    size_t entry_cap = (size_t)q->cap;
    if (!grow((void **)&q->entries, (size_t)q->count + 1, &entry_cap, sizeof(QueueEntry))) return -1;
    q->cap = (int32_t)entry_cap;
    if (!grow((void **)&q->text, q->text_used + n + 1, &q->text_cap, sizeof(WCHAR))) return -1;
    if ((uint32_t)(q->count + 1) * 2u > q->slot_cap && !rehash(q, q->count + 1)) return -1;

    memcpy(q->text + q->text_used, path, (n + 1) * sizeof(WCHAR));
    const WCHAR *name = path + n;
    while (name > path && name[-1] != L'\\' && name[-1] != L'/') --name;
    q->entries[q->count] = {(uint32_t)q->text_used, (uint16_t)n, (uint16_t)(name - path)};
    q->text_used += n + 1;
    put_slot(q, q->count);
    return q->count++;
}

// Drops the units of removed paths once they are half the block.
static void compact(FileQueue *q)
{
    if (q->garbage < 4096 || q->garbage * 2 < q->text_used) return;
    size_t at = 0;
    for (int i = 0; i < q->count; ++i) {
        QueueEntry &e = q->entries[i];
        memmove(q->text + at, q->text + e.offset, (e.length + 1u) * sizeof(WCHAR));
        e.offset = (uint32_t)at;
        at += e.length + 1u;
    }
    q->text_used = at;
    q->garbage = 0;
}

void queue_remove(FileQueue *q, int index)
{
    if (index < 0 || index >= q->count) return;
    q->garbage += q->entries[index].length + 1u;
    memmove(q->entries + index, q->entries + index + 1, (size_t)(q->count - index - 1) * sizeof(QueueEntry));
    --q->count;
    compact(q);
    rehash(q, q->count);  // same size: cannot fail
}

static bool is_digit(WCHAR c)
{
    return iswctype(c, _DIGIT) != 0;
}

static int digit_run(const WCHAR *p)
{
    int n = 0;
    while (p[n] && is_digit(p[n])) ++n;
    return n;
}

int queue_name_cmp(const WCHAR *p, const WCHAR *q)
{
    for (;;) {
        if (!*p) return *q ? -1 : 0;
        if (!*q) return 1;
        if (!is_digit(*p) || !is_digit(*q)) {
            if (*p != *q) return (uint16_t)*p < (uint16_t)*q ? -1 : 1;
            ++p;
            ++q;
            continue;
        }
        while (*p == L'0') ++p;
        while (*q == L'0') ++q;
        int np = digit_run(p), nq = digit_run(q);
        if (np != nq) return np < nq ? -1 : 1;
        int c = wcsncmp(p, q, (size_t)np);
        if (c) return c;
        p += np;
        q += nq;
    }
}

static bool entry_less(const WCHAR *text, const QueueEntry &x, const QueueEntry &y)
{
    const WCHAR *px = text + x.offset, *py = text + y.offset;
    int c = queue_name_cmp(px + x.name, py + y.name);
    return c ? c < 0 : wcscmp(px, py) < 0;
}

void queue_sort(FileQueue *q)
{
    if (q->count < 2) return;
    const WCHAR *text = q->text;
    std::sort(q->entries, q->entries + q->count,
              [text](const QueueEntry &x, const QueueEntry &y) { return entry_less(text, x, y); });
    rehash(q, q->count);
}

int queue_insert_sorted(FileQueue *q, const WCHAR *path)
{
    int before = q->count;
    int index = queue_add(q, path);
    if (index < before) return index;  // found, or refused
    QueueEntry added = q->entries[index];
    const WCHAR *text = q->text;
    QueueEntry *at = std::upper_bound(q->entries, q->entries + index, added,
                                      [text](const QueueEntry &x, const QueueEntry &y) { return entry_less(text, x, y); });
    int place = (int)(at - q->entries);
    memmove(q->entries + place + 1, q->entries + place, (size_t)(index - place) * sizeof(QueueEntry));
    q->entries[place] = added;
    rehash(q, q->count);
    return place;
}

void queue_move(FileQueue *dst, FileQueue *src)
{
    queue_free(dst);
    *dst = *src;
    memset(src, 0, sizeof *src);
}

size_t queue_bytes(const FileQueue *q)
{
    return q->text_cap * sizeof(WCHAR) + (size_t)q->cap * sizeof(QueueEntry) + q->slot_cap * sizeof(int32_t);
}
