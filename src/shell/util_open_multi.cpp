#include "shell/util_open_multi.h"
#include "shell/modal.h"
#include <shlwapi.h>
#include <cstring>

namespace {

constexpr int kMultiMax = 32;
constexpr WCHAR kMultiFilter[] = L"图片文件\0*.jpg;*.jpeg;*.png;*.gif;*.bmp;*.tif;*.tiff;*.webp\0所有文件\0*.*\0";

}  // namespace

int util_open_dialog_multi_owner(App *app, HWND owner, WCHAR *buffer, int capacity, int *out_count)
{
    if (out_count) *out_count = 0;
    if (!buffer || capacity < 2 * kPathMax) return 0;
    memset(buffer, 0, sizeof(WCHAR) * (size_t)capacity);
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner ? owner : app ? app->hwnd : nullptr;
    ofn.lpstrFilter = kMultiFilter;
    ofn.lpstrFile = buffer;
    ofn.nMaxFile = (DWORD)capacity;
    ofn.lpstrTitle = L"打开图片（可多选）";
    ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_ALLOWMULTISELECT | OFN_NOCHANGEDIR;
    // The main window keeps its enabled state: a modal dialog over it keeps it disabled,
    // so it cannot be closed while the dialog's threads still use their record.
    if (!modal_open_file(&ofn)) return 0;
    if (ofn.nFileOffset > 0 && ofn.nFileOffset < (DWORD)capacity && buffer[ofn.nFileOffset - 1] != 0) {
        if (out_count) *out_count = 1;
        return 1;
    }
    const WCHAR *folder = buffer;
    const WCHAR *name = folder + wcslen(folder) + 1;
    const WCHAR *end = buffer + capacity;
    if (name >= end || !*name) return 0;
    WCHAR slots[kMultiMax][kPathMax];
    int count = 0;
    while (count < kMultiMax && name < end && *name) {
        if (!PathCombineW(slots[count], folder, name)) break;
        ++count;
        name += wcslen(name) + 1;
    }
    if (!count) return 0;
    int fit = capacity / kPathMax < count ? capacity / kPathMax : count;
    memset(buffer, 0, sizeof(WCHAR) * (size_t)capacity);
    memcpy(buffer, slots, sizeof(WCHAR) * kPathMax * (size_t)fit);
    if (out_count) *out_count = fit;
    return 1;
}
