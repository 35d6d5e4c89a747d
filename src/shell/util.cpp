// Shell utilities around the common dialogs: open and save, default output
// names, the recycle bin, the About box and the window title.
#include "shell/util.h"
#include "shell/modal.h"
#include "shell/multi_select.h"
#include "version.h"
#include <commdlg.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <climits>
#include <cwchar>
#include <iterator>

// Each literal ends in an explicit NUL, so the list ends in two.
static constexpr WCHAR kMultiFilter[] =
    L"图片文件\0*.jpg;*.jpeg;*.png;*.gif;*.bmp;*.tif;*.tiff;*.webp;*.heic;*.heif;*.hif;*.avif\0所有文件\0*.*\0";
static constexpr WCHAR kSingleFilter[] =
    L"图片文件\0*.jpg;*.jpeg;*.png;*.gif;*.bmp;*.tif;*.tiff;*.webp;*.ico;*.heic;*.heif;*.hif;*.avif\0"
    L"所有文件\0*.*\0";
static constexpr WCHAR kSaveFilter[] =
    L"JPEG 图片 (*.jpg)\0*.jpg\0PNG 图片 (*.png)\0*.png\0WebP 图片 (*.webp)\0*.webp\0"
    L"BMP 图片 (*.bmp)\0*.bmp\0TIFF 图片 (*.tif)\0*.tif\0";

static constexpr WCHAR kUnnamed[] = L"未命名";
static constexpr WCHAR kSiteHost[] = L"www.quennick.com";

static constexpr WCHAR kAboutFormat[] =
    L"%s %s\n"
    L"Quennick\n"
    L"\n"
    L"看图 / 压缩 / 格式转换 / 裁剪 / 打印\n"
    L"打开一张图会自动带出同目录里的其它图片，← → 翻页\n"
    L"\n"
    L"快捷键\n"
    L"    ← →        上一张 / 下一张\n"
    L"    空格       幻灯片播放 / 停止\n"
    L"    0 / 1      适应窗口 / 实际大小\n"
    L"    + / -      放大 / 缩小\n"
    L"    F11        全屏\n"
    L"    Ctrl+O     打开图片     Ctrl+C   复制到剪贴板\n"
    L"    Ctrl+Z     撤销         Ctrl+E   裁剪开关\n"
    L"    Delete     删除到回收站\n"
    L"    Esc        看图时直接关闭程序（裁剪/全屏时先退出该状态）\n"
    L"\n"
    L"官网：%s（点「确定」直接打开）";

static bool join_path(PathChar *out, const PathChar *folder, const PathChar *name)
{
    return PathCombineW(out, folder, name) != nullptr;
}

int util_open_dialog_multi_owner(App *app, HWND owner, WCHAR *buffer, int capacity, int *out_count)
{
    if (out_count) *out_count = 0;
    if (!buffer || capacity < 2 * kPathMax) return 0;
    ZeroMemory(buffer, (size_t)capacity * sizeof(WCHAR));
    // The owner's enabled state is left alone: under the batch dialog the main
    // window is disabled on purpose and must stay so.
    OPENFILENAMEW ofn = {sizeof ofn};
    ofn.hwndOwner = owner ? owner : app->hwnd;
    ofn.lpstrFilter = kMultiFilter;
    ofn.lpstrFile = buffer;
    ofn.nMaxFile = (DWORD)capacity;
    ofn.lpstrTitle = L"打开图片（可多选）";
    ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_ALLOWMULTISELECT | OFN_NOCHANGEDIR;
    if (!modal_open_file(&ofn)) return 0;
    int count = multi_select_collect(buffer, capacity, ofn.nFileOffset, kOpenMaxPaths, kPathMax, join_path);
    if (out_count) *out_count = count;
    return count > 0;
}

int util_open_dialog_multi(App *app, WCHAR *buffer, int capacity, int *out_count)
{
    return util_open_dialog_multi_owner(app, nullptr, buffer, capacity, out_count);
}

int util_open_dialog(App *app, WCHAR *buffer, int capacity)
{
    if (!buffer || capacity <= 0) return 0;
    buffer[0] = 0;
    OPENFILENAMEW ofn = {sizeof ofn};
    ofn.hwndOwner = app->hwnd;
    ofn.lpstrFilter = kSingleFilter;
    ofn.lpstrFile = buffer;
    ofn.nMaxFile = (DWORD)capacity;
    ofn.lpstrTitle = L"打开图片";
    ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    return modal_open_file(&ofn);
}

void util_fmt_tag(const WCHAR *op, int *out_index, WCHAR *buffer, size_t capacity)
{
    bool writable = buffer && capacity > 0 && capacity <= INT_MAX;
    if (out_index) *out_index = 1;
    if (writable) buffer[0] = 0;
    const WCHAR *tag = kSaveTag[0];
    if (op && op[0]) {
        if (!_wcsicmp(op, L"zip")) {
            tag = L"压缩";
        } else if (!_wcsicmp(op, L"crop")) {
            tag = L"裁剪";
        } else {
            for (size_t i = 0; i < std::size(kSaveExt); ++i) {
                if (_wcsicmp(op, kSaveExt[i])) continue;
                tag = kSaveTag[i];
                if (out_index) *out_index = (int)i + 1;
                break;
            }
        }
    }
    if (writable) lstrcpynW(buffer, tag, (int)capacity);
}

void util_default_save_name(const WCHAR *source_name, const WCHAR *op, WCHAR *buffer, size_t capacity)
{
    if (!buffer || capacity == 0 || capacity > INT_MAX) return;
    buffer[0] = 0;
    WCHAR tag[32];
    util_fmt_tag(op, nullptr, tag, std::size(tag));
    if (!source_name || !source_name[0]) {
        lstrcpynW(buffer, kUnnamed, (int)capacity);
        return;
    }
    WCHAR base[kPathMax];
    lstrcpynW(base, source_name, kPathMax);
    if (WCHAR *dot = wcsrchr(base, L'.')) *dot = 0;
    WCHAR name[kPathMax + 40];
    _snwprintf(name, std::size(name) - 1, L"%s_%s", base, tag);
    name[std::size(name) - 1] = 0;
    lstrcpynW(buffer, name, (int)capacity);
}

int util_save_dialog(App *app, WCHAR *buffer, int capacity, const WCHAR *op)
{
    return util_save_dialog_fmt(app, buffer, capacity, op, -1);
}

int util_save_dialog_fmt(App *app, WCHAR *buffer, int capacity, const WCHAR *op, int format)
{
    if (!buffer || capacity <= 0) return 0;
    buffer[0] = 0;
    util_default_save_name(app->file_name, op, buffer, (size_t)capacity);
    int index = 1;
    util_fmt_tag(op, &index, nullptr, 0);
    if (format >= 0) index = format + 1;
    if (index < 1) index = 1;
    if (index > (int)std::size(kSaveExt)) index = (int)std::size(kSaveExt);

    OPENFILENAMEW ofn = {sizeof ofn};
    ofn.hwndOwner = app->hwnd;
    ofn.lpstrFilter = kSaveFilter;
    ofn.nFilterIndex = (DWORD)index;
    ofn.lpstrFile = buffer;
    ofn.nMaxFile = (DWORD)capacity;
    ofn.lpstrDefExt = kSaveExt[index - 1];
    ofn.lpstrTitle = L"另存为";
    ofn.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_OVERWRITEPROMPT;
    return modal_save_file(&ofn);
}

int util_recycle_file(HWND owner, const WCHAR *path)
{
    if (!path || !path[0]) return 0;
    size_t len = wcsnlen(path, kPathMax);
    if (len >= kPathMax) return 0;
    WCHAR from[kPathMax + 2] = {};  // one name, then the list's closing NUL
    wmemcpy(from, path, len);
    SHFILEOPSTRUCTW op = {};
    op.hwnd = owner;
    op.wFunc = FO_DELETE;
    op.pFrom = from;
    op.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
    return SHFileOperationW(&op) == 0 && !op.fAnyOperationsAborted;
}

void util_about_text(WCHAR *buffer, int capacity)
{
    if (!buffer || capacity <= 0) return;
    _snwprintf(buffer, (size_t)capacity - 1, kAboutFormat, kAppName, VELDMOOR_VERSION_W, kSiteHost);
    buffer[capacity - 1] = 0;
}

int util_show_about(App *app)
{
    WCHAR text[1600];
    util_about_text(text, (int)std::size(text));
    return modal_message_box(app->hwnd, text, L"关于 Veldmoor", MB_OKCANCEL | MB_ICONINFORMATION) == IDOK;
}

void util_set_title(App *app)
{
    WCHAR title[320];
    if (app->file_name[0])
        _snwprintf(title, 319, L"%s - %s", app->file_name, kAppName);
    else
        _snwprintf(title, 319, L"%s", kAppName);
    title[319] = 0;
    if (app->hwnd) SetWindowTextW(app->hwnd, title);
}
