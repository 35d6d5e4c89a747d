// Helpers shared by the test programs.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <vector>
#include <cstdint>
#include <gtest/gtest.h>
#include "image/image.h"

// The real-photo folder: $VELDMOOR_TESTDATA (a Unix or Windows path) or ../shared/testdata.
std::wstring testdata_dir();
bool testdata_present();
// Absolute Windows path of a file under the real-photo folder.
std::wstring testdata_path(const wchar_t *relative);

// Real-photo tests skip, with one line saying where the pictures are expected,
// when the folder is absent; VELDMOOR_REQUIRE_TESTDATA=1 turns that into a failure.
#define NEEDS_TESTDATA()                                                                  \
    do {                                                                                  \
        if (!testdata_present()) {                                                        \
            if (testdata_required()) FAIL() << "test pictures missing: " << testdata_where(); \
            GTEST_SKIP() << "test pictures not found at " << testdata_where();            \
        }                                                                                 \
    } while (0)
bool testdata_required();
std::string testdata_where();
// A fresh, empty folder under the system temp folder; removed by temp_dir_remove.
std::wstring temp_dir_create(const wchar_t *tag);
void temp_dir_remove(const std::wstring &dir);
bool write_file_bytes(const std::wstring &path, const void *data, size_t size);
std::vector<uint8_t> read_file_bytes(const std::wstring &path);
bool file_exists(const std::wstring &path);
// A picture with a smooth gradient and, if wanted, varying alpha.
Image *make_gradient(uint32_t w, uint32_t h, bool with_alpha);

// A 32-bit top-down DIB selected into a memory DC, cleared to 0: paint into dc, read at().
struct Dib {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ old = nullptr;
    uint32_t *px = nullptr;
    int w = 0, h = 0;
    uint32_t at(int x, int y) const { GdiFlush(); return px[y * w + x] & 0xFFFFFF; }
};
bool dib_create(Dib *dib, int w, int h);
void dib_clear(Dib *dib);
void dib_free(Dib *dib);
// A screenshot of a window's client area as it is on screen, painted first; the Dib is made to its size.
bool window_shot(HWND hwnd, Dib *dib);
// Pixels of colour rgb (0xRRGGBB as Dib::at reads it) in the box.
int count_colour(const Dib &dib, RECT box, uint32_t rgb);

// veldmoor-cli.exe beside the test programs, run as a script would run it.
struct CliRun {
    DWORD code;
    std::string out, err;
};
// `during` runs while the process does.
CliRun run_cli(const std::wstring &args, const std::function<void()> &during = nullptr);
