// Test helper: a second instance that sends a hand-crafted hand-over block
// ("valid", "version2", "count0", "short", "offset") and exits as Veldmoor would.
#include "app/app.h"
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

int wmain(int argc, WCHAR **argv)
{
    if (argc < 3) return 2;
    WCHAR *paths[1] = {argv[2]};
    uint8_t *block = nullptr;
    uint32_t size = 0;
    if (!handover_build(paths, 1, &block, &size)) return 3;
    std::vector<uint8_t> data(block, block + size);
    free(block);
    const WCHAR *kind = argv[1];
    uint32_t value;
    if (!wcscmp(kind, L"version2")) {
        value = 2;
        memcpy(&data[4], &value, 4);
    } else if (!wcscmp(kind, L"count0")) {
        value = 0;
        memcpy(&data[8], &value, 4);
    } else if (!wcscmp(kind, L"short")) {
        data.resize(15);
    } else if (!wcscmp(kind, L"offset")) {
        value = (uint32_t)data.size() - 1;  // offset + 2 runs past the end
        memcpy(&data[12], &value, 4);
    }
    return handover_deliver(data.data(), (uint32_t)data.size());
}
