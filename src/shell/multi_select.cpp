// The multi-selection list's walk, bounded by the buffer the dialog filled.
#include "shell/multi_select.h"
#include <cstddef>
#include <cstring>
#include <vector>

static size_t bounded_length(const PathChar *s, size_t cap)
{
    size_t n = 0;
    while (n < cap && s[n]) ++n;
    return n;
}

// As lstrcpynW: at most cap - 1 units, always terminated.
static void copy_cut(PathChar *out, const PathChar *in, int cap)
{
    int n = 0;
    for (; n < cap - 1 && in[n]; ++n) out[n] = in[n];
    out[n] = 0;
}

int multi_select_collect(PathChar *buffer, int capacity, int name_offset, int max_paths, int path_max, PathJoin join)
{
    if (name_offset <= 0 || name_offset >= capacity) return 0;
    if (buffer[name_offset - 1] != 0) {
        buffer[capacity - 1] = 0;
        return buffer[0] ? 1 : 0;
    }
    int fit = capacity / path_max;
    if (fit > max_paths) fit = max_paths;
    std::vector<PathChar> work((size_t)(fit > 0 ? fit : 1) * path_max);
    int count = 0;
    for (int pos = name_offset; count < fit && pos < capacity && buffer[pos];) {
        size_t len = bounded_length(buffer + pos, (size_t)(capacity - pos));
        if (pos + (int)len >= capacity) break;
        if (!join(&work[(size_t)count * path_max], buffer, buffer + pos)) break;
        ++count;
        pos += (int)len + 1;
    }
    memset(buffer, 0, (size_t)capacity * sizeof(PathChar));
    for (int i = 0; i < count; ++i) copy_cut(buffer + i * path_max, &work[(size_t)i * path_max], path_max);
    return count;
}
