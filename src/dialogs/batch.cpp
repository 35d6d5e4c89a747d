// The batch dialog: list, settings, output folder and progress, all drawn and
// hit-tested here; the work runs on the threads of batch_job.
#include "dialogs/batch.h"
#include "dialogs/dlg_common.h"
#include "shell/modal.h"
#include "shell/util.h"
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <windowsx.h>
#include <cwchar>

namespace {

constexpr WCHAR kBatchClass[] = L"Veldmoor.BatchDlg";
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VSCROLL;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME;
constexpr int kMultiCap = 8320;
constexpr int kNumberEditMax = 63;

constexpr COLORREF kBg = RGB(30, 30, 34);
constexpr COLORREF kLabel = RGB(138, 138, 148);
constexpr COLORREF kText = RGB(230, 230, 234);
constexpr COLORREF kButton = RGB(44, 44, 49);
constexpr COLORREF kButtonHot = RGB(42, 42, 48);
constexpr COLORREF kListBox = RGB(23, 23, 26);
constexpr COLORREF kField = RGB(26, 26, 29);
constexpr COLORREF kTrack = RGB(24, 24, 27);
constexpr COLORREF kAccent = RGB(76, 154, 255);
constexpr COLORREF kAccentHot = RGB(99, 170, 255);
constexpr COLORREF kChipOn = RGB(43, 74, 116);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kSelection = RGB(0, 120, 215);

constexpr WCHAR kWidthLabel[] = L"宽度（高度按比例）";
constexpr const WCHAR *kModeName[] = {L"定尺寸居中裁剪", L"按比例居中裁剪", L"缩放到宽度"};

BatchJob *job_of(HWND hwnd)
{
    return (BatchJob *)GetWindowLongPtrW(hwnd, GWLP_USERDATA);
}

int S(const BatchJob *job, int v)
{
    return MulDiv(v, job->dpi, 96);
}

void set_rect(RECT *r, int l, int t, int rr, int b)
{
    *r = RECT{l, t, rr, b};
}

bool inside(const RECT &r, int x, int y)
{
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

void set_status(BatchJob *job, const WCHAR *format, ...)
{
    va_list args;
    va_start(args, format);
    _vsnwprintf(job->status, kBatchStatusMax - 1, format, args);
    va_end(args);
    job->status[kBatchStatusMax - 1] = 0;
}

void repaint(BatchJob *job)
{
    InvalidateRect(job->hwnd, nullptr, FALSE);
}

void relayout(BatchJob *job)
{
    batch_layout(job);
    batch_update_scroll(job);
    repaint(job);
}

// ---- layout pieces ----

int text_width(HFONT font, const WCHAR *text)
{
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc) return 0;
    HGDIOBJ old = SelectObject(dc, font ? (HGDIOBJ)font : GetStockObject(DEFAULT_GUI_FONT));
    SIZE size = {};
    GetTextExtentPoint32W(dc, text, (int)wcslen(text), &size);
    SelectObject(dc, old);
    DeleteDC(dc);
    return size.cx;
}

void row_of(BatchJob *job, int first_id, int count, int top, int bottom, int width)
{
    int m = S(job, 20), g = S(job, 10);
    for (int i = 0; i < count; ++i)
        set_rect(&job->rc[first_id + i], m + i * (width + g), top, m + i * (width + g) + width, bottom);
}

int layout_crop(BatchJob *job, int t, int third, int chip5)
{
    int m = S(job, 20), g = S(job, 10), h = S(job, 32);
    t += S(job, 18);
    row_of(job, 7, 3, t, t + h, third);
    t += h + g;
    if (job->crop_mode == 0) {
        set_rect(&job->rc[15], m + S(job, 30), t, m + S(job, 94), t + S(job, 26));
        set_rect(&job->rc[16], m + S(job, 154), t, m + S(job, 218), t + S(job, 26));
        return t + S(job, 36);
    }
    if (job->crop_mode == 1) {
        row_of(job, 10, 5, t, t + h, chip5);
        return t + S(job, 42);
    }
    // The field follows its label, measured in the dialog's font, so the label is never cut.
    int left = m + text_width(job->font_text, kWidthLabel) + S(job, 6);
    set_rect(&job->rc[17], left, t, left + S(job, 64), t + S(job, 26));
    return t + S(job, 36);
}

int layout_convert(BatchJob *job, int t, int R, int chip5)
{
    int m = S(job, 20);
    row_of(job, 18, 5, t + S(job, 18), t + S(job, 50), chip5);
    t += S(job, 60);
    if (job->format_index != 0 && job->format_index != 2) return t;
    set_rect(&job->rc[23], m + S(job, 52), t, m + S(job, 80), t + S(job, 28));
    set_rect(&job->rc[24], R - S(job, 28), t, R, t + S(job, 28));
    set_rect(&job->rc_track, job->rc[23].right + S(job, 12), t + S(job, 10), job->rc[24].left - S(job, 12),
             t + S(job, 18));
    return t + S(job, 38);
}

int layout_compress(BatchJob *job, int t, int R, int W)
{
    int m = S(job, 20), g = S(job, 10);
    int chip4 = (W - 2 * m - 3 * g) / 4, half = (W - 2 * m - g) / 2;
    row_of(job, 25, 4, t + S(job, 18), t + S(job, 50), chip4);
    set_rect(&job->rc[29], m, t + S(job, 60), m + half, t + S(job, 92));
    set_rect(&job->rc[30], m + half + g, t + S(job, 60), m + 2 * half + g, t + S(job, 92));
    set_rect(&job->rc[31], m, t + S(job, 102), R, t + S(job, 128));
    set_rect(&job->rc[32], m, t + S(job, 138), R, t + S(job, 160));
    return t + S(job, 170);
}

void layout_bottom(BatchJob *job, int R)
{
    int m = S(job, 20), y0 = job->client_h - S(job, 64), b = y0 + S(job, 34);
    set_rect(&job->rc_status, m, y0 - S(job, 26), R, y0 - S(job, 6));
    set_rect(&job->rc[37], R - S(job, 96), y0, R, b);
    set_rect(&job->rc[36], R - S(job, 106) - S(job, 132), y0, R - S(job, 106), b);
    set_rect(&job->rc[38], m, y0, m + S(job, 132), b);
}

// ---- painting pieces ----

struct Painter {
    BatchJob *job;
    HDC dc;
};

void text_in(HDC dc, RECT r, const WCHAR *text, HFONT font, COLORREF color, UINT flags)
{
    HGDIOBJ old = SelectObject(dc, font);
    SetTextColor(dc, color);
    SetBkMode(dc, TRANSPARENT);
    DrawTextW(dc, text, -1, &r, flags | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
}

void button(const Painter &p, int id, const WCHAR *text, bool muted)
{
    BatchJob *job = p.job;
    bool hot = job->hot == id;
    COLORREF fill = (hot || muted) ? kButtonHot : kButton;
    drrect(p.dc, job->rc[id], S(job, 5), fill, true);
    text_in(p.dc, job->rc[id], text, job->font_text, muted ? kLabel : kText, DT_CENTER | DT_VCENTER);
}

void chip(const Painter &p, int id, const WCHAR *text, bool selected)
{
    BatchJob *job = p.job;
    if (selected) {
        drrect(p.dc, job->rc[id], S(job, 5), kChipOn, false);
        text_in(p.dc, job->rc[id], text, job->font_bold, kAccent, DT_CENTER | DT_VCENTER);
        return;
    }
    COLORREF fill = (job->hot == id || job->running) ? kButtonHot : kButton;
    drrect(p.dc, job->rc[id], S(job, 5), fill, true);
    text_in(p.dc, job->rc[id], text, job->font_text, kText, DT_CENTER | DT_VCENTER);
}

void field(const Painter &p, const RECT &r, const WCHAR *text, HFONT font, int pad)
{
    drrect(p.dc, r, S(p.job, 4), kField, true);
    RECT inner = {r.left + S(p.job, pad), r.top, r.right - S(p.job, 4), r.bottom};
    text_in(p.dc, inner, text, font, kText, DT_LEFT | DT_VCENTER | DT_PATH_ELLIPSIS);
}

// A number field; while its whole text is selected the number shows highlighted.
void number_field(const Painter &p, int id, int value)
{
    BatchJob *job = p.job;
    WCHAR num[16];
    _snwprintf(num, 15, L"%d", value);
    num[15] = 0;
    const RECT &r = job->rc[id];
    drrect(p.dc, r, S(job, 4), kField, true);
    RECT inner = {r.left + S(job, 8), r.top, r.right - S(job, 4), r.bottom};
    if (job->edit_id == id && job->edit_all) {
        HGDIOBJ old = SelectObject(p.dc, job->font_text);
        SIZE size = {};
        GetTextExtentPoint32W(p.dc, num, (int)wcslen(num), &size);
        SelectObject(p.dc, old);
        RECT sel = {inner.left - S(job, 2), r.top + S(job, 4), inner.left + size.cx + S(job, 2), r.bottom - S(job, 4)};
        HBRUSH brush = CreateSolidBrush(kSelection);
        FillRect(p.dc, &sel, brush);
        DeleteObject(brush);
    }
    text_in(p.dc, inner, num, job->font_text, kText, DT_LEFT | DT_VCENTER);
}

void tick(HDC dc, const POINT *pts, int width)
{
    HPEN pen = CreatePen(PS_SOLID, width, kWhite);
    HGDIOBJ old = SelectObject(dc, pen);
    Polyline(dc, pts, 3);
    SelectObject(dc, old);
    DeleteObject(pen);
}

// A check box; fractional ticks follow the box's size rather than fixed offsets.
void check_box(BatchJob *job, HDC dc, const RECT &rect, int ticked, const WCHAR *text, HFONT font, bool fractional)
{
    int side = S(job, 15), top = (rect.top + rect.bottom - side) / 2;
    RECT box = {rect.left, top, rect.left + side, top + side};
    drrect(dc, box, S(job, 3), ticked ? kAccent : kButton, true);
    if (ticked) {
        POINT pts[3];
        if (fractional) {
            pts[0] = {box.left + side / 5, box.top + side / 2};
            pts[1] = {box.left + side * 2 / 5, box.top + side * 3 / 4};
            pts[2] = {box.left + side * 4 / 5, box.top + side / 4};
        } else {
            pts[0] = {box.left + S(job, 3), box.top + S(job, 8)};
            pts[1] = {box.left + S(job, 6), box.top + S(job, 12)};
            pts[2] = {box.left + S(job, 12), box.top + S(job, 3)};
        }
        tick(dc, pts, S(job, 2));
    }
    RECT label = {box.right + S(job, 8), rect.top, rect.right, rect.bottom};
    text_in(dc, label, text, font, kText, DT_LEFT | DT_VCENTER);
}

void paint_list(const Painter &p)
{
    BatchJob *job = p.job;
    const RECT &list = job->rc_list;
    drrect(p.dc, list, S(job, 6), kListBox, true);
    RECT line = {list.left + S(job, 12), list.top, list.right - S(job, 8), list.bottom};
    if (job->scanning || job->file_count == 0) {
        const WCHAR *hint = job->scanning ? L"正在扫描文件夹，请稍候…"
                                          : L"还没有添加图片。点「添加文件」多选，或「添加文件夹」整目录。";
        text_in(p.dc, line, hint, job->font_small, kText, DT_LEFT | DT_VCENTER);
        return;
    }
    int row_h = S(job, 18), rows = (list.bottom - list.top - S(job, 8)) / row_h;
    int max_first = job->file_count - rows > 0 ? job->file_count - rows : 0;
    int first = job->list_top < 0 ? 0 : job->list_top > max_first ? max_first : job->list_top;
    for (int k = 0; k < rows && first + k < job->file_count; ++k) {
        RECT r = {line.left, list.top + S(job, 6) + k * row_h, line.right, list.top + S(job, 6) + (k + 1) * row_h};
        text_in(p.dc, r, job->files[first + k], job->font_small, kText, DT_LEFT | DT_VCENTER | DT_PATH_ELLIPSIS);
    }
    if (job->file_count > rows) {
        WCHAR hint[64];
        _snwprintf(hint, 63, L"↓ 滚动查看（%d/%d）", first + rows, job->file_count);
        hint[63] = 0;
        RECT r = {list.left, list.top, list.right - S(job, 10), list.bottom - S(job, 6)};
        text_in(p.dc, r, hint, job->font_small, kLabel, DT_RIGHT | DT_BOTTOM);
    }
}

void paint_crop(const Painter &p)
{
    BatchJob *job = p.job;
    for (int i = 0; i < 3; ++i) chip(p, 7 + i, kModeName[i], job->crop_mode == i);
    if (job->crop_mode == 0) {
        RECT a = {S(job, 20), job->rc[15].top, job->rc[15].left - S(job, 6), job->rc[15].bottom};
        text_in(p.dc, a, L"宽", job->font_text, kLabel, DT_RIGHT | DT_VCENTER);
        number_field(p, 15, job->crop_w);
        RECT b = {job->rc[15].right + S(job, 12), job->rc[16].top, job->rc[16].left - S(job, 6), job->rc[16].bottom};
        text_in(p.dc, b, L"高", job->font_text, kLabel, DT_RIGHT | DT_VCENTER);
        number_field(p, 16, job->crop_h);
    } else if (job->crop_mode == 1) {
        for (int i = 0; i < 5; ++i) chip(p, 10 + i, kRatios[i].label, job->ratio_index == i);
    } else {
        RECT a = {S(job, 20), job->rc[17].top, job->rc[17].left - S(job, 6), job->rc[17].bottom};
        text_in(p.dc, a, kWidthLabel, job->font_text, kLabel, DT_RIGHT | DT_VCENTER);
        number_field(p, 17, job->resize_width);
    }
}

void paint_convert(const Painter &p)
{
    BatchJob *job = p.job;
    for (int i = 0; i < 5; ++i) chip(p, 18 + i, kConvName[i], job->format_index == i);
    if (IsRectEmpty(&job->rc[23])) return;
    WCHAR label[32];
    _snwprintf(label, 31, L"质量 %d", job->quality);
    RECT r = {S(job, 20), job->rc[23].top, job->rc[23].left - S(job, 6), job->rc[23].bottom};
    text_in(p.dc, r, label, job->font_small, kLabel, DT_LEFT | DT_VCENTER);
    for (int id = 23; id <= 24; ++id) {
        COLORREF fill = (job->hot == id || job->running) ? kButtonHot : kButton;
        drrect(p.dc, job->rc[id], S(job, 4), fill, true);
        text_in(p.dc, job->rc[id], id == 23 ? L"\u2212" : L"\uFF0B", job->font_bold, job->running ? kLabel : kText,
                DT_CENTER | DT_VCENTER);
    }
    const RECT &track = job->rc_track;
    int width = track.right - track.left;
    drrect(p.dc, track, S(job, 3), kTrack, true);
    if (job->quality * width > 299) {
        RECT bar = {track.left, track.top, track.left + width * job->quality / 100, track.bottom};
        drrect(p.dc, bar, S(job, 3), kAccent, false);
    }
}

void paint_compress(const Painter &p)
{
    BatchJob *job = p.job;
    for (int i = 0; i < 6; ++i) chip(p, 25 + i, kKBName[i], job->target_kb == kKB[i]);
    WCHAR value[32];
    _snwprintf(value, 31, L"%d KB", job->target_kb);
    field(p, job->rc[31], value, job->font_text, 10);
    check_box(job, p.dc, job->rc[32], job->auto_downscale, L"必要时自动缩小尺寸", job->font_text, true);
}

void paint_content(const Painter &p)
{
    BatchJob *job = p.job;
    WCHAR header[64];
    _snwprintf(header, 63, L"源文件（已选 %d 张）", job->file_count);
    text_in(p.dc, job->rc_header, header, job->font_small, kLabel, DT_LEFT | DT_VCENTER);
    static constexpr const WCHAR *kListButtons[] = {L"添加文件…", L"添加文件夹…", L"清空列表"};
    for (int i = 0; i < 3; ++i) {
        int id = 1 + i;
        bool hot = job->running || job->scanning || job->hot == id;
        drrect(p.dc, job->rc[id], S(job, 5), hot ? kButtonHot : kButton, true);
        text_in(p.dc, job->rc[id], kListButtons[i], job->font_text, job->running || job->scanning ? kLabel : kText,
                DT_CENTER | DT_VCENTER);
    }
    paint_list(p);
    draw_check(job, p.dc, job->rc[4], job->crop_on, L"裁剪", job->font_text);
    draw_check(job, p.dc, job->rc[5], job->convert_on, L"转换格式", job->font_text);
    draw_check(job, p.dc, job->rc[6], job->compress_on, L"压缩体积", job->font_text);
    if (job->crop_on) paint_crop(p);
    if (job->convert_on) paint_convert(p);
    if (job->compress_on) paint_compress(p);
    field(p, job->rc[33], job->edit_text ? job->edit_buf : job->out_dir, job->font_small, 8);
    button(p, 34, L"浏览…", job->running);
    draw_check(job, p.dc, job->rc[35], job->seq_rename, L"用序号重命名（0001, 0002 …）", job->font_text);
}

void paint_bottom(const Painter &p)
{
    BatchJob *job = p.job;
    const RECT &bar = job->rc_status;
    drrect(p.dc, bar, S(job, 3), kTrack, true);
    if (job->running || job->finished) {
        int total = job->file_count > 1 ? job->file_count : 1;
        int done = job->ok_count + job->partial_count + job->fail_count;
        int w = (int)((int64_t)(bar.right - bar.left) * (done < total ? done : total) / total);
        if (w > 2) drrect(p.dc, RECT{bar.left, bar.top, bar.left + w, bar.bottom}, S(job, 3), kAccent, false);
    }
    RECT text = {bar.left + S(job, 8), bar.top, bar.right - S(job, 4), bar.bottom};
    text_in(p.dc, text, job->status, job->font_small, kText, DT_LEFT | DT_VCENTER | DT_END_ELLIPSIS);
    if (job->finished) {
        button(p, 38, L"打开输出文件夹", false);
        button(p, 37, L"关闭", false);
        return;
    }
    if (job->running) {
        button(p, 37, L"取消", false);
        return;
    }
    bool ready = (job->crop_on || job->convert_on || job->compress_on) && job->file_count > 0 && !job->scanning;
    COLORREF fill = !ready ? kButton : job->hot == 36 ? kAccentHot : kAccent;
    drrect(p.dc, job->rc[36], S(job, 5), fill, false);
    text_in(p.dc, job->rc[36], L"开始处理", job->font_bold, ready ? kWhite : kLabel, DT_CENTER | DT_VCENTER);
    button(p, 37, L"取消", false);
}

// ---- actions ----

void stop_threads(BatchJob *job)
{
    if (job->scan_thread) {
        WaitForSingleObject(job->scan_thread, INFINITE);
        CloseHandle(job->scan_thread);
        job->scan_thread = nullptr;
    }
    if (job->scanning) {
        batch_list_free(job->scan_list);
        job->scan_list = nullptr;
        job->scanning = 0;
    }
    if (job->worker_thread) {
        batch_set_cancel(job);
        WaitForSingleObject(job->worker_thread, INFINITE);
        CloseHandle(job->worker_thread);
        job->worker_thread = nullptr;
        job->running = 0;
    }
}

void close_dialog(BatchJob *job)
{
    stop_threads(job);
    // Enabled before the dialog goes, so activation returns to the main window.
    if (job->app->hwnd) EnableWindow(job->app->hwnd, TRUE);
    DestroyWindow(job->hwnd);
}

bool browse_folder(BatchJob *job, const WCHAR *title, WCHAR out[kPathMax])
{
    BROWSEINFOW bi = {};
    bi.hwndOwner = job->hwnd;
    bi.lpszTitle = title;
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_NEWDIALOGSTYLE;
    PIDLIST_ABSOLUTE pidl = modal_browse_folder(&bi);
    if (!pidl) return false;
    bool ok = SHGetPathFromIDListW(pidl, out) && out[0];
    CoTaskMemFree(pidl);
    return ok;
}

void add_files(BatchJob *job)
{
    WCHAR buffer[kMultiCap];
    int count = 0;
    if (!util_open_dialog_multi_owner(job->app, job->hwnd, buffer, kMultiCap, &count)) return;
    batch_add_paths(job, (const BatchPath *)buffer, count);
    if (job->file_count) batch_ensure_outdir(job, job->files[0]);
    set_status(job, L"已添加，共 %d 张图片", job->file_count);
}

void add_folder(BatchJob *job)
{
    WCHAR root[kPathMax];
    if (!browse_folder(job, L"选择要批量处理的图片文件夹", root)) return;
    job->scanning = 1;
    job->scan_list = nullptr;
    job->scan_count = 0;
    set_status(job, L"%s", L"正在扫描文件夹…");
    void *arg = batch_scan_arg(job, root);
    job->scan_thread = arg ? CreateThread(nullptr, 0, batch_scan_folder, arg, 0, nullptr) : nullptr;
    if (job->scan_thread) return;
    if (arg) HeapFree(GetProcessHeap(), 0, arg);
    job->scanning = 0;
}

void start_run(BatchJob *job)
{
    WCHAR msg[kBatchStatusMax];
    if (!job->file_count) return set_status(job, L"%s", L"请先添加图片");
    if (!job->crop_on && !job->convert_on && !job->compress_on) return set_status(job, L"%s", L"请至少勾选一种操作");
    if (!job->out_dir[0]) return set_status(job, L"%s", L"请选择输出文件夹");
    if (!batch_prepare_outdir(job, msg, kBatchStatusMax)) return set_status(job, L"%s", msg);
    InterlockedExchange(&job->cancel, 0);
    job->running = 1;
    job->current = job->ok_count = job->fail_count = job->partial_count = job->finished = 0;
    set_status(job, L"准备处理 %d 张…", job->file_count);
    job->worker_thread = CreateThread(nullptr, 0, batch_worker, job, 0, nullptr);
    if (job->worker_thread) return;
    job->running = 0;
    set_status(job, L"%s", L"无法启动处理线程");
}

void start_edit(BatchJob *job, int id)
{
    job->edit_id = id;
    if (id == 33) {
        job->edit_text = 1;
        job->edit_target = nullptr;
        lstrcpynW(job->edit_buf, job->out_dir, kPathMax);
        return;
    }
    job->edit_text = 0;
    job->edit_all = 1;
    job->edit_target = id == 15 ? &job->crop_w : id == 16 ? &job->crop_h : &job->resize_width;
    _snwprintf(job->edit_buf, kPathMax - 1, L"%d", *job->edit_target);
}

void end_edit(BatchJob *job)
{
    if (job->edit_text) lstrcpynW(job->out_dir, job->edit_buf, kPathMax);
    job->edit_id = 0;
    job->edit_text = 0;
    job->edit_all = 0;
    job->edit_target = nullptr;
}

// The settings controls; true when the click changed something.
bool act_setting(BatchJob *job, int id)
{
    switch (id) {
    case 4: job->crop_on = !job->crop_on; return true;
    case 5: job->convert_on = !job->convert_on; return true;
    case 6: job->compress_on = !job->compress_on; return true;
    case 32: job->auto_downscale = !job->auto_downscale; return true;
    case 35: job->seq_rename = !job->seq_rename; return true;
    case 23: if (job->quality > 30) job->quality -= 5; return true;
    case 24: if (job->quality <= 94) job->quality += 5; return true;
    }
    if (id >= 7 && id <= 9) job->crop_mode = id - 7;
    else if (id >= 10 && id <= 14) job->ratio_index = id - 10;
    else if (id >= 18 && id <= 22) job->format_index = id - 18;
    else if (id >= 25 && id <= 30) job->target_kb = kKB[id - 25];
    else return false;
    return true;
}

enum ClickResult { kIgnored, kActed, kClosed };

ClickResult act(BatchJob *job, int id)
{
    if (job->running) {
        if (id != 37) return kIgnored;
        batch_set_cancel(job);
        return kActed;
    }
    if (id == 15 || id == 16 || id == 17 || id == 33) {
        start_edit(job, id);
        return kActed;
    }
    if (job->finished) {
        if (id == 38) {
            if (job->out_dir[0]) ShellExecuteW(job->hwnd, L"open", job->out_dir, nullptr, nullptr, SW_SHOWNORMAL);
            return kActed;
        }
        if (id == 37) {
            close_dialog(job);
            return kClosed;
        }
        if (id < 1 || id > 3) return kIgnored;
        job->status[0] = 0;
        job->finished = job->ok_count = job->fail_count = job->partial_count = 0;
    }
    if (job->scanning && (id == 1 || id == 2 || id == 3 || id == 36)) return kIgnored;
    switch (id) {
    case 1: add_files(job); return kActed;
    case 2: add_folder(job); return kActed;
    case 3:
        job->file_count = 0;
        job->list_top = 0;
        set_status(job, L"%s", L"列表已清空");
        return kActed;
    case 34: {
        WCHAR folder[kPathMax];
        if (browse_folder(job, L"选择输出文件夹", folder)) lstrcpynW(job->out_dir, folder, kPathMax);
        return kActed;
    }
    case 36: start_run(job); return kActed;
    case 37: close_dialog(job); return kClosed;
    }
    return act_setting(job, id) ? kActed : kIgnored;
}

// ---- message handlers ----

void on_click(BatchJob *job, int x, int y)
{
    SetFocus(job->hwnd);
    end_edit(job);
    int id = batch_hit(job, x, y);
    if (act(job, id) == kClosed) return;
    relayout(job);
}

void on_key(BatchJob *job, WPARAM key)
{
    if (!job->edit_id) {
        if (key == VK_ESCAPE) close_dialog(job);
        return;
    }
    size_t len = wcslen(job->edit_buf);
    if (job->edit_text) {
        if (key == VK_BACK && len) job->edit_buf[len - 1] = 0;
        if (key == VK_BACK) lstrcpynW(job->out_dir, job->edit_buf, kPathMax);
        if (key == VK_RETURN) end_edit(job);
        repaint(job);
        return;
    }
    int digit = key >= '0' && key <= '9' ? (int)key - '0' : key >= VK_NUMPAD0 && key <= VK_NUMPAD9 ? (int)key - VK_NUMPAD0 : -1;
    if (job->edit_all && (digit >= 0 || key == VK_BACK)) job->edit_buf[0] = 0, len = 0;  // typing replaces it
    job->edit_all = 0;
    if (digit >= 0 && len < kNumberEditMax) {
        job->edit_buf[len] = (WCHAR)(L'0' + digit);
        job->edit_buf[len + 1] = 0;
    } else if (key == VK_BACK && len) {
        job->edit_buf[len - 1] = 0;
    } else {
        return;
    }
    int v = _wtoi(job->edit_buf);
    *job->edit_target = v < 1 ? 1 : v > 20000 ? 20000 : v;
    repaint(job);
}

void on_char(BatchJob *job, WPARAM ch)
{
    if (!job->edit_text || ch < 32) return;
    size_t len = wcslen(job->edit_buf);
    if (len >= kPathMax - 1) return;
    job->edit_buf[len] = (WCHAR)ch;
    job->edit_buf[len + 1] = 0;
    lstrcpynW(job->out_dir, job->edit_buf, kPathMax);
    repaint(job);
}

void on_mouse_move(BatchJob *job, int x, int y)
{
    int id = batch_hit(job, x, y);
    if (id != job->hot) {
        job->hot = id;
        repaint(job);
    }
    TRACKMOUSEEVENT tme = {sizeof tme, TME_LEAVE, job->hwnd, 0};
    TrackMouseEvent(&tme);
}

bool on_set_cursor(BatchJob *job)
{
    POINT pt;
    GetCursorPos(&pt);
    ScreenToClient(job->hwnd, &pt);
    SetCursor(LoadCursorW(nullptr, batch_hit(job, pt.x, pt.y) ? IDC_HAND : IDC_ARROW));
    return true;
}

void on_vscroll(BatchJob *job, int code)
{
    SCROLLINFO si = {sizeof si, SIF_TRACKPOS};
    switch (code) {
    case SB_LINEUP: job->scroll_y -= S(job, 24); break;
    case SB_LINEDOWN: job->scroll_y += S(job, 24); break;
    case SB_PAGEUP: job->scroll_y -= job->view_h; break;
    case SB_PAGEDOWN: job->scroll_y += job->view_h; break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK:
        GetScrollInfo(job->hwnd, SB_VERT, &si);
        job->scroll_y = si.nTrackPos;
        break;
    case SB_TOP: job->scroll_y = 0; break;
    case SB_BOTTOM: job->scroll_y = job->content_h; break;
    default: return;
    }
    batch_update_scroll(job);
    repaint(job);
}

void on_wheel(BatchJob *job, WPARAM wp, LPARAM lp)
{
    int notches = GET_WHEEL_DELTA_WPARAM(wp) / WHEEL_DELTA;
    if (!notches) notches = GET_WHEEL_DELTA_WPARAM(wp) < 0 ? -1 : 1;
    POINT pt = {GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
    ScreenToClient(job->hwnd, &pt);
    if (pt.y >= job->view_h || pt.y < 0) return;
    if (job->file_count && inside(job->rc_list, pt.x, pt.y + job->scroll_y)) {
        int rows = (job->rc_list.bottom - job->rc_list.top - S(job, 8)) / S(job, 18);
        int top = job->list_top - 3 * notches;
        top = top < 0 ? 0 : top;
        top = top < job->file_count - rows ? top : job->file_count - rows;
        if (job->file_count > rows && top != job->list_top) {
            job->list_top = top;
            repaint(job);
            return;
        }
    }
    job->scroll_y -= S(job, 48) * notches;
    batch_update_scroll(job);
    repaint(job);
}

void on_paint(BatchJob *job)
{
    dlg_paint_buffered(job->hwnd, job->client_w, job->client_h, [job](HDC mem) { batch_paint(job, mem); });
}

void on_item_start(BatchJob *job, int index)
{
    job->current = index;
    const WCHAR *name = index >= 0 && index < job->file_count ? PathFindFileNameW(job->files[index]) : L"";
    set_status(job, L"处理中 %d / %d：%s", index + 1, job->file_count, name);
}

void on_item_done(BatchJob *job, int outcome)
{
    if (outcome == kBatchWritten) ++job->ok_count;
    else if (outcome == kBatchOverTarget) ++job->partial_count;
    else ++job->fail_count;
}

void on_finished(BatchJob *job, int written, int failed)
{
    if (job->worker_thread) {
        WaitForSingleObject(job->worker_thread, INFINITE);
        CloseHandle(job->worker_thread);
        job->worker_thread = nullptr;
    }
    job->running = 0;
    job->finished = 1;
    job->ok_count = written - job->partial_count;
    job->fail_count = failed;
    // Cancelled only when the cancel left files untouched.
    bool cut_short = batch_cancelled(job) && written + failed < job->file_count;
    const WCHAR *head = cut_short ? L"已取消。" : L"完成：";
    if (job->partial_count)
        set_status(job, L"%s成功 %d 张，未达目标体积 %d 张，失败 %d 张。", head, job->ok_count, job->partial_count,
                   failed);
    else
        set_status(job, L"%s成功 %d 张，失败 %d 张。", head, job->ok_count, failed);
}

void on_scan_done(BatchJob *job)
{
    if (job->scan_thread) {
        WaitForSingleObject(job->scan_thread, INFINITE);
        CloseHandle(job->scan_thread);
        job->scan_thread = nullptr;
    }
    if (job->scan_list) batch_add_paths(job, job->scan_list, job->scan_count);
    batch_list_free(job->scan_list);
    job->scan_list = nullptr;
    job->scanning = 0;
    if (job->file_count) batch_ensure_outdir(job, job->files[0]);
    set_status(job, L"已添加，共 %d 张图片", job->file_count);
}

// The record goes with its window; the threads were stopped in WM_DESTROY.
void release_record(HWND hwnd, BatchJob *job)
{
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    batch_list_free(job->files);
    job->files = nullptr;
    job->file_count = 0;
    batch_settings_save(job);
    HeapFree(GetProcessHeap(), 0, job);
}

LRESULT on_thread_message(BatchJob *job, UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_BATCH_ITEM_START: on_item_start(job, (int)wp); break;
    case WM_BATCH_ITEM_DONE: on_item_done(job, (int)lp); break;
    case WM_BATCH_FINISHED: on_finished(job, (int)wp, (int)lp); break;
    case WM_BATCH_SCAN_DONE: on_scan_done(job); relayout(job); return 0;
    }
    repaint(job);
    return 0;
}

void place_window(BatchJob *job, HWND owner, RECT *frame)
{
    RECT r = *frame;
    int w = r.right - r.left, h = r.bottom - r.top, x = 0, y = 0;
    MONITORINFO mi = {sizeof mi};
    HMONITOR monitor = MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST);
    if (monitor && GetMonitorInfoW(monitor, &mi)) {
        RECT wa = mi.rcWork;
        int wa_w = wa.right - wa.left, wa_h = wa.bottom - wa.top;
        if (h > wa_h - S(job, 16)) h = wa_h - S(job, 16);
        if (w > wa_w) {
            w = wa_w;
            x = wa.left;
        } else {
            x = wa.left + (wa_w - w) / 2;
        }
        y = wa.top + (wa_h - h) / 2;
    } else {
        RECT o = {};
        if (owner) GetWindowRect(owner, &o);
        x = (o.left + o.right - w) / 2;
        y = (o.top + o.bottom - h) / 2;
    }
    *frame = RECT{x, y, x + w, y + h};
}

}  // namespace

void batch_layout(BatchJob *job)
{
    for (RECT &r : job->rc) r = RECT{};
    job->rc_track = RECT{};
    int m = S(job, 20), g = S(job, 10);
    int W = job->client_w > 0 ? job->client_w : S(job, 600), R = W - m;
    int third = (W - 2 * m - 2 * g) / 3, chip5 = (W - 2 * m - 4 * g) / 5;
    set_rect(&job->rc_header, m, S(job, 16), W, S(job, 36));
    row_of(job, 1, 3, S(job, 38), S(job, 70), third);
    set_rect(&job->rc_list, m, S(job, 80), R, S(job, 212));
    row_of(job, 4, 3, S(job, 228), S(job, 252), third);
    int t = S(job, 268);
    if (job->crop_on) t = layout_crop(job, t, third, chip5);
    if (job->convert_on) t = layout_convert(job, t, R, chip5);
    if (job->compress_on) t = layout_compress(job, t, R, W);
    t += S(job, 18);
    set_rect(&job->rc[33], m, t, R - S(job, 90), t + S(job, 32));
    set_rect(&job->rc[34], R - S(job, 80), t, R, t + S(job, 32));
    set_rect(&job->rc[35], m, t + S(job, 42), R, t + S(job, 64));
    job->content_h = t + S(job, 78);
    layout_bottom(job, R);
}

void batch_update_scroll(BatchJob *job)
{
    job->view_h = job->rc_status.top - S(job, 8);
    if (job->view_h < S(job, 80)) job->view_h = S(job, 80);
    int max_y = job->content_h - job->view_h > 0 ? job->content_h - job->view_h : 0;
    job->scroll_y = job->scroll_y < 0 ? 0 : job->scroll_y > max_y ? max_y : job->scroll_y;
    if (!job->hwnd) return;
    SCROLLINFO si = {sizeof si, SIF_RANGE | SIF_PAGE | SIF_POS};
    si.nMax = job->content_h > 0 ? job->content_h - 1 : 0;
    si.nPage = (UINT)job->view_h;
    si.nPos = job->scroll_y;
    SetScrollInfo(job->hwnd, SB_VERT, &si, TRUE);
    ShowScrollBar(job->hwnd, SB_VERT, job->content_h > job->view_h);
}

int batch_hit(const BatchJob *job, int x, int y)
{
    if (y >= job->view_h) {
        if (job->finished && inside(job->rc[38], x, y)) return 38;
        if (!job->running && inside(job->rc[36], x, y)) return 36;
        return inside(job->rc[37], x, y) ? 37 : 0;
    }
    y += job->scroll_y;
    for (int id = 1; id <= 35; ++id)
        if (inside(job->rc[id], x, y)) return id;
    return 0;
}

void draw_check(BatchJob *job, HDC dc, const RECT &rect, int ticked, const WCHAR *text, HFONT font)
{
    check_box(job, dc, rect, ticked, text, font, false);
}

void batch_paint(BatchJob *job, HDC dc)
{
    RECT all = {0, 0, job->client_w, job->client_h};
    HBRUSH bg = CreateSolidBrush(kBg);
    FillRect(dc, &all, bg);
    DeleteObject(bg);
    Painter p = {job, dc};
    int saved = SaveDC(dc);
    IntersectClipRect(dc, 0, 0, job->client_w, job->view_h);
    SetViewportOrgEx(dc, 0, -job->scroll_y, nullptr);
    paint_content(p);
    RestoreDC(dc, saved);
    paint_bottom(p);
}

HWND batch_open(App *app)
{
    auto *job = (BatchJob *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(BatchJob));
    if (!job) return nullptr;
    job->app = app;
    batch_settings_load(job);
    job->dpi = app->dpi <= 71 ? 96 : app->dpi;
    job->font_text = app->font_text;
    job->font_small = app->font_small;
    job->font_bold = app->font_bold;
    HINSTANCE instance = app->instance ? app->instance : GetModuleHandleW(nullptr);
    if (!dlg_register_class(instance, batch_proc, kBatchClass)) {
        HeapFree(GetProcessHeap(), 0, job);
        return nullptr;
    }
    batch_layout(job);
    // The bottom bar takes 98 dp below the content, so everything fits without a scroll bar.
    RECT frame = {0, 0, S(job, 600), job->content_h + S(job, 64) + S(job, 26) + S(job, 8)};
    AdjustWindowRectEx(&frame, kStyle & ~WS_VSCROLL, FALSE, kExStyle);
    place_window(job, app->hwnd, &frame);
    HWND hwnd = CreateWindowExW(kExStyle, kBatchClass, L"批量处理", kStyle, frame.left, frame.top,
                                frame.right - frame.left, frame.bottom - frame.top, app->hwnd, nullptr, instance, job);
    if (!hwnd) {
        HeapFree(GetProcessHeap(), 0, job);
        return nullptr;
    }
    if (!(job->files = batch_list_new())) {
        DestroyWindow(hwnd);
        return nullptr;
    }
    RECT client;
    GetClientRect(hwnd, &client);
    job->client_w = client.right;
    job->client_h = client.bottom;
    batch_layout(job);
    batch_update_scroll(job);
    if (app->hwnd) EnableWindow(app->hwnd, FALSE);
    ShowWindow(hwnd, SW_SHOW);
    UpdateWindow(hwnd);
    return hwnd;
}

int batch_run(App *app)
{
    HWND dlg = batch_open(app);
    if (!dlg) return 0;
    modal_enter();
    MSG msg = {};
    bool quit = false;
    while (IsWindow(dlg)) {
        BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) {
            quit = got == 0;
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    modal_leave();
    if (IsWindow(dlg)) SendMessageW(dlg, WM_CLOSE, 0, 0);
    if (app->hwnd && IsWindow(app->hwnd)) {
        EnableWindow(app->hwnd, TRUE);
        SetForegroundWindow(app->hwnd);
    }
    if (quit) PostQuitMessage((int)msg.wParam);
    return 1;
}

LRESULT CALLBACK batch_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_NCCREATE) {
        auto *job = (BatchJob *)((CREATESTRUCTW *)lp)->lpCreateParams;
        job->hwnd = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, (LONG_PTR)job);
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
    BatchJob *job = job_of(hwnd);
    if (!job) return DefWindowProcW(hwnd, msg, wp, lp);
    switch (msg) {
    case WM_SIZE:
        job->client_w = LOWORD(lp);
        job->client_h = HIWORD(lp);
        relayout(job);
        return 0;
    case WM_MOUSEMOVE: on_mouse_move(job, GET_X_LPARAM(lp), GET_Y_LPARAM(lp)); return 0;
    case WM_MOUSELEAVE:
        if (job->hot) repaint(job);
        job->hot = 0;
        return 0;
    case WM_SETCURSOR:
        if (LOWORD(lp) == HTCLIENT) return on_set_cursor(job);
        break;
    case WM_VSCROLL: on_vscroll(job, LOWORD(wp)); return 0;
    case WM_MOUSEWHEEL: on_wheel(job, wp, lp); return 0;
    case WM_KEYDOWN: on_key(job, wp); return 0;
    case WM_CHAR: on_char(job, wp); return 0;
    case WM_LBUTTONDOWN: on_click(job, GET_X_LPARAM(lp), GET_Y_LPARAM(lp)); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: on_paint(job); return 0;
    case WM_BATCH_ITEM_START:
    case WM_BATCH_ITEM_DONE:
    case WM_BATCH_FINISHED:
    case WM_BATCH_SCAN_DONE: return on_thread_message(job, msg, wp, lp);
    case WM_CLOSE: close_dialog(job); return 0;
    case WM_DESTROY: stop_threads(job); return 0;  // also when the main window takes it down
    case WM_NCDESTROY: release_record(hwnd, job); break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}
