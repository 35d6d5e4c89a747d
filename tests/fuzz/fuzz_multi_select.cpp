// The open dialog's multi-selection list, in a buffer of any content and size
// (the names come from the file system). Besides memory errors: every slot it
// returns is terminated inside its 260 units, and nothing is left behind them.
// The shell's PathCombineW is Windows-only: here a plain join with its
// 260-unit limit stands in for it; the list walk is the program's.
#include "fuzz_check.h"
#include "shell/multi_select.h"
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kSlots = 32;    // util.h: kOpenMaxPaths
constexpr int kSlot = 260;    // app.h: kPathMax

bool join(PathChar *out, const PathChar *folder, const PathChar *name)
{
    size_t f = 0, n = 0;
    while (folder[f]) ++f;
    while (name[n]) ++n;
    if (f + 1 + n >= (size_t)kSlot) return false;
    memcpy(out, folder, f * sizeof(PathChar));
    out[f] = u'\\';
    memcpy(out + f + 1, name, n * sizeof(PathChar));
    out[f + 1 + n] = 0;
    return true;
}

void check(bool ok, const char *what)
{
    fuzz_check(ok, "multi-select", what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4) return 0;
    // The first bytes choose the buffer's size (at least two slots, as the dialog's caller
    // makes it) and the name offset the dialog reports; the rest is what it wrote.
    int capacity = 2 * kSlot + (data[0] % 64) * 16 + data[1] % 16;
    int offset = data[2] | (data[3] & 3) << 8;
    std::vector<PathChar> buffer((size_t)capacity, 0);
    size_t units = (size - 4) / 2;
    for (size_t i = 0; i < units && i < (size_t)capacity; ++i) buffer[i] = (PathChar)(data[4 + 2 * i] | data[5 + 2 * i] << 8);
    int count = multi_select_collect(buffer.data(), capacity, offset, kSlots, kSlot, join);
    check(count >= 0 && count <= kSlots && (count <= 1 || count <= capacity / kSlot), "count out of range");
    if (offset <= 0 || offset >= capacity) return 0;  // nothing was selected: the buffer is not touched
    if (buffer[offset - 1] != 0) return 0;          // one file, left as it is
    for (int i = 0; i < count; ++i) {
        const PathChar *slot = &buffer[(size_t)i * kSlot];
        size_t n = 0;
        while (n < (size_t)kSlot && slot[n]) ++n;
        check(n > 0 && n < (size_t)kSlot, "slot empty or not terminated");
    }
    for (size_t i = (size_t)count * kSlot; i < (size_t)capacity; ++i) check(buffer[i] == 0, "bytes left behind the slots");
    return 0;
}
