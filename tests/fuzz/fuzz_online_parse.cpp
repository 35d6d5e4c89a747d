// The update server's reply. Besides memory errors: a newer version is shown
// only as non-empty text of its allowed characters, found in the reply itself.
#include "fuzz_check.h"
#include "online/online_parse.h"
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

namespace {

void check(bool ok, const char *what)
{
    fuzz_check(ok, "update reply", what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The reply as the program holds it: NUL-terminated, with whatever bytes came.
    std::string body((const char *)data, size);
    for (int cap : {64, 8, 1}) {
        char out[64];
        memset(out, 'x', sizeof out);
        int newer = online_parse_version(body.c_str(), "1.0.0", out, cap);
        size_t n = strnlen(out, sizeof out);
        check(n < (size_t)cap, "text longer than the buffer");
        check(newer ? n > 0 : n == 0, "verdict and text disagree");
        for (size_t i = 0; i < n; ++i) check(strchr("0123456789.+-", out[i]) || isalpha((unsigned char)out[i]), "character not allowed");
        if (newer) check(body.find(out) != std::string::npos, "text not in the reply");
    }
    return 0;
}
