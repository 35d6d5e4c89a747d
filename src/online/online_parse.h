// The update server's reply read without any Windows call (fuzzed natively).
#pragma once

// Reads the "version" value out of an update document (NUL-terminated) and
// compares it with local component by component: 1 and the sanitised text in
// out (at most 63 characters, cut to cap) when it is newer, else 0 and "".
int online_parse_version(const char *body, const char *local, char *out, int cap);
