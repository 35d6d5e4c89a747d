// The running instance's reader of the hand-over block another process sends.
// Besides memory errors: every path it returns ends inside its row, and the
// paths built into a block again read back the same.
#include "fuzz_check.h"
#include "app/handover_block.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The window's limits (app.h: kCliMaxPaths, kPathMax).
constexpr int kMaxPaths = 32;
constexpr int kPathChars = 260;

HandoverChar g_first[kMaxPaths][kPathChars];
HandoverChar g_again[kMaxPaths][kPathChars];

void check(bool ok, const char *what)
{
    fuzz_check(ok, "handover", what);
}

size_t length(const HandoverChar *s, int cap)
{
    size_t n = 0;
    while (n < (size_t)cap && s[n]) ++n;
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 0xFFFFFFFFu) return 0;
    memset(g_first, 0xAB, sizeof g_first);
    int n = handover_block_parse(data, (uint32_t)size, &g_first[0][0], kMaxPaths, kPathChars);
    check(n >= 0 && n <= kMaxPaths, "count out of range");
    if (n == 0) return 0;
    const HandoverChar *paths[kMaxPaths];
    for (int i = 0; i < n; ++i) {
        check(length(g_first[i], kPathChars) < (size_t)kPathChars, "path without its NUL");
        paths[i] = g_first[i];
    }
    uint8_t *block = nullptr;
    uint32_t built = 0;
    check(handover_block_build(paths, n, kMaxPaths, &block, &built) == 1, "a parsed list does not build");
    int m = handover_block_parse(block, built, &g_again[0][0], kMaxPaths, kPathChars);
    check(m == n, "rebuilt block gives another count");
    for (int i = 0; i < n; ++i) {
        size_t len = length(g_first[i], kPathChars);
        check(len == length(g_again[i], kPathChars) && !memcmp(g_first[i], g_again[i], len * sizeof(HandoverChar)),
              "rebuilt block gives another path");
    }
    free(block);
    return 0;
}
