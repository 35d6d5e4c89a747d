// The update document's version, as plain ASCII: only characters fit for a
// message are kept, and the comparison reads decimal components.
#include "online/online_parse.h"
#include <cstdlib>
#include <cstring>

static constexpr int kVersionBytes = 63;

// Only these may appear in a version shown to the user.
static int version_char(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.' || c == '+' ||
           c == '-';
}

// Component by component as decimal numbers; a text that ends or goes on otherwise counts as equal.
static int version_newer(const char *remote, const char *local)
{
    for (;;) {
        char *r_end, *l_end;
        long r = strtol(remote, &r_end, 10), l = strtol(local, &l_end, 10);
        if (r != l) return r > l;
        if (*r_end != '.' || *l_end != '.') return 0;
        remote = r_end + 1;
        local = l_end + 1;
    }
}

int online_parse_version(const char *body, const char *local, char *out, int cap)
{
    if (!out || cap <= 0) return 0;
    out[0] = 0;
    const char *key = body ? strstr(body, "\"version\"") : nullptr;
    const char *p = key ? strchr(key + 9, ':') : nullptr;
    if (!p) return 0;
    for (++p; *p == '\t' || *p == '\n' || *p == '\r' || *p == ' ';) ++p;
    if (*p == '"') ++p;
    int limit = cap - 1 < kVersionBytes ? cap - 1 : kVersionBytes;
    int n = 0;
    for (; n < limit && version_char(p[n]); ++n) out[n] = p[n];
    out[n] = 0;
    if (n > 0 && version_newer(out, local)) return 1;
    out[0] = 0;
    return 0;
}
