// Start to first picture: starts Veldmoor.exe with a photo and polls every
// millisecond for its window and for the colour of the canvas centre, printing
// when the window appears, when it is first painted and when the picture shows.
#include "bench_clock.h"
#include <windows.h>
#include <cstdio>
#include <cstdlib>

static constexpr COLORREF kBackground = RGB(26, 26, 29);

int wmain(int argc, wchar_t **argv)
{
    if (argc < 3) {
        fwprintf(stderr, L"usage: bench_startup Veldmoor.exe photo.jpg\n");
        return 2;
    }
    timeBeginPeriod(1);
    wchar_t line[1200];
    _snwprintf(line, 1200, L"\"%ls\" \"%ls\"", argv[1], argv[2]);
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    double t0 = now_ms();
    if (!CreateProcessW(argv[1], line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        fwprintf(stderr, L"cannot start %ls\n", argv[1]);
        return 1;
    }
    double found = -1, painted = -1, picture = -1;
    HWND hwnd = nullptr;
    while (now_ms() - t0 < 20000 && picture < 0) {
        if (!hwnd) {
            hwnd = FindWindowW(L"Veldmoor.MainWnd", nullptr);
            if (hwnd) found = now_ms() - t0;
        }
        if (hwnd && IsWindowVisible(hwnd)) {
            RECT rc;
            GetClientRect(hwnd, &rc);
            // The canvas centre: between the 44-pixel title strip and the 40-pixel bottom strip.
            POINT centre = {rc.right / 2, 44 + (rc.bottom - 84) / 2};
            HDC dc = GetDC(hwnd);
            COLORREF c = GetPixel(dc, centre.x, centre.y);
            ReleaseDC(hwnd, dc);
            if (c == kBackground && painted < 0) painted = now_ms() - t0;
            // A small picture can be in the very first paint: anything but the background, an
            // unpainted (black) window or no answer is the picture.
            bool shown = c != kBackground && c != CLR_INVALID && (painted >= 0 || c != 0);
            if (shown && painted < 0) painted = now_ms() - t0;
            if (shown) picture = now_ms() - t0;
        }
        Sleep(1);
    }
    printf("window found %.0f ms, first paint %.0f ms, first picture pixel %.0f ms\n", found, painted, picture);
    if (hwnd) PostMessageW(hwnd, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(pi.hProcess, 5000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    timeEndPeriod(1);
    return picture < 0;
}
