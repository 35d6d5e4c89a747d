// Command-line pictures and the single-instance hand-over block.
#include "app/app.h"
#include "files/files.h"
#include <shellapi.h>
#include <shlwapi.h>
#include <cstdlib>
#include <cstring>
#include <cwchar>

static int first_picture_in_folder(const WCHAR *folder, WCHAR *out);

static int take_argument(const WCHAR *arg, WCHAR *slot)
{
    if (!arg || !arg[0]) return 0;
    DWORD attributes = GetFileAttributesW(arg);
    if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
    // Full paths: the running instance that may receive them has another
    // current folder, and the folder scan needs the folder part.
    WCHAR full[MAX_PATH];
    DWORD n = GetFullPathNameW(arg, MAX_PATH, full, nullptr);
    if (n == 0 || n >= MAX_PATH) lstrcpynW(full, arg, MAX_PATH);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return first_picture_in_folder(full, slot);
    if (!files_is_image_ext(full)) return 0;
    lstrcpynW(slot, full, kPathMax);
    return 1;
}

int cli_take_path(const WCHAR *arg, WCHAR *slot)
{
    return take_argument(arg, slot);
}

// A folder contributes one picture, the one that sorts first, from which the
// folder scan brings in the rest.
static int first_picture_in_folder(const WCHAR *folder, WCHAR *out)
{
    WCHAR pattern[kPathMax];
    if (!files_list_pattern(folder, pattern, kPathMax)) return 0;
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW(pattern, &fd);
    if (find == INVALID_HANDLE_VALUE) return 0;
    WCHAR best[kPathMax] = L"";
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        if (!files_is_image_ext(fd.cFileName)) continue;
        if (!best[0] || que_cmp(fd.cFileName, best) < 0) lstrcpynW(best, fd.cFileName, kPathMax);
    } while (FindNextFileW(find, &fd));
    FindClose(find);
    if (!best[0]) return 0;
    WCHAR joined[MAX_PATH];
    if (!PathCombineW(joined, folder, best)) return 0;
    lstrcpynW(out, joined, kPathMax);
    return 1;
}

int cli_collect_from_args(int argc, WCHAR **argv, WCHAR *out[kCliMaxPaths])
{
    static WCHAR slots[kCliMaxPaths][kPathMax];
    int count = 0;
    for (int i = 1; i < argc && count < kCliMaxPaths; ++i) {
        if (take_argument(argv[i], slots[count])) {
            out[count] = slots[count];
            ++count;
        }
    }
    return count;
}

int cli_collect_paths(WCHAR *out[kCliMaxPaths])
{
    int argc = 0;
    WCHAR **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return 0;
    int count = cli_collect_from_args(argc, argv, out);
    LocalFree(argv);
    return count;
}

int handover_build(WCHAR **paths, int count, uint8_t **block, uint32_t *size)
{
    return handover_block_build(paths, count, kCliMaxPaths, block, size);
}

int handover_parse(const void *block, uint32_t size, WCHAR out[kCliMaxPaths][kPathMax])
{
    return handover_block_parse(block, size, &out[0][0], kCliMaxPaths, kPathMax);
}

int handover_deliver(const uint8_t *block, uint32_t size)
{
    HWND target = FindWindowW(kMainClass, nullptr);
    if (!target) return 0;
    if (block) {
        COPYDATASTRUCT cds = {(ULONG_PTR)kHandoverMagic, size, (void *)block};
        if (SendMessageW(target, WM_COPYDATA, 0, (LPARAM)&cds) == 1) return 0;
    }
    ShowWindow(target, SW_RESTORE);
    SetForegroundWindow(target);
    return 0;
}

int handover_send_paths()
{
    if (!FindWindowW(kMainClass, nullptr)) return 0;
    WCHAR *paths[kCliMaxPaths];
    int count = cli_collect_paths(paths);
    uint8_t *block = nullptr;
    uint32_t size = 0;
    if (count > 0) handover_build(paths, count, &block, &size);
    int code = handover_deliver(block, size);
    free(block);
    return code;
}
