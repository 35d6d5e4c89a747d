// The save dialog for a cropped picture.
#include "crop/crop.h"
#include "shell/modal.h"
#include <cwchar>

static constexpr WCHAR kSaveFilter[] =
    L"JPEG 图片 (*.jpg)\0*.jpg\0PNG 图片 (*.png)\0*.png\0WebP 图片 (*.webp)\0*.webp\0"
    L"BMP 图片 (*.bmp)\0*.bmp\0TIFF 图片 (*.tif)\0*.tif\0";

// "<name without its last extension>_裁剪", or "未命名" without a name.
static void default_name(const WCHAR *source, WCHAR *out, int cap)
{
    if (!source || !source[0]) {
        _snwprintf(out, cap - 1, L"%s", L"未命名");
        out[cap - 1] = 0;
        return;
    }
    WCHAR base[kPathMax];
    lstrcpynW(base, source, kPathMax);
    if (WCHAR *dot = wcsrchr(base, L'.')) *dot = 0;
    _snwprintf(out, cap - 1, L"%s_%s", base, L"裁剪");
    out[cap - 1] = 0;
}

int crop_save_dialog(App *app, WCHAR *path, int cap)
{
    if (!path || cap <= 0) return 0;
    path[0] = 0;
    default_name(app->file_name, path, cap);
    OPENFILENAMEW ofn = {sizeof ofn};
    ofn.hwndOwner = app->hwnd;
    ofn.lpstrFilter = kSaveFilter;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = path;
    ofn.nMaxFile = (DWORD)cap;
    ofn.lpstrTitle = L"另存为";
    ofn.lpstrDefExt = L"jpg";
    ofn.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_OVERWRITEPROMPT;
    return modal_save_file(&ofn);
}
