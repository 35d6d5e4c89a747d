// Pieces shared by the export and batch dialogs.
#pragma once
#include <windows.h>
#include <cstdint>

// Compression targets offered as chips, in KB, with their chip texts.
static constexpr int32_t kKB[] = {100, 200, 500, 1024, 2048, 5120};
static constexpr const WCHAR *kKBName[] = {L"100 KB", L"200 KB", L"500 KB", L"1 MB", L"2 MB", L"5 MB"};
static_assert(sizeof kKB / sizeof kKB[0] == sizeof kKBName / sizeof kKBName[0]);

static constexpr COLORREF kDlgOutline = RGB(46, 46, 52);

// A filled rounded rectangle; its 1-pixel outline is kDlgOutline when outlined, else the fill.
void drrect(HDC dc, const RECT &rect, int radius, COLORREF fill, bool outlined);

// Registers a dialog's window class once per process; true when it can be used.
bool dlg_register_class(HINSTANCE instance, WNDPROC proc, const WCHAR *name);

// Paints the client area through a memory bitmap of w × h (at least 1 × 1),
// copied in one block transfer, so the window never flickers.
template <typename Paint>
void dlg_paint_buffered(HWND hwnd, int w, int h, Paint paint)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    w = w > 0 ? w : 1;
    h = h > 0 ? h : 1;
    HDC mem = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, w, h);
    HGDIOBJ old = SelectObject(mem, bitmap);
    paint(mem);
    BitBlt(dc, 0, 0, w, h, mem, 0, 0, SRCCOPY);
    SelectObject(mem, old);
    DeleteObject(bitmap);
    DeleteDC(mem);
    EndPaint(hwnd, &ps);
}
