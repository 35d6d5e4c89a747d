// The main window in this process, loading, the title, and the hand-over
// between two real processes.
#include <gtest/gtest.h>
#include "app/app.h"
#include "app/commands.h"
#include "app/switches.h"
#include "files/files.h"
#include "shell/modal.h"
#include "view/canvas.h"
#include "version.h"
#include "support/test_support.h"
#include <gdiplus.h>
#include <shlwapi.h>
#include <functional>
#include <string>
#include <vector>

namespace {

std::wstring g_last_box_text;
int g_box_count;

int answer_ok(HWND, const WCHAR *text, const WCHAR *, UINT)
{
    g_last_box_text = text;
    ++g_box_count;
    return IDOK;
}

std::wstring window_title(HWND hwnd)
{
    WCHAR title[400] = L"";
    GetWindowTextW(hwnd, title, 400);
    return title;
}

std::wstring build_dir_file(const wchar_t *name)
{
    WCHAR self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    PathRemoveFileSpecW(self);  // tests folder
    PathRemoveFileSpecW(self);  // build folder
    WCHAR out[MAX_PATH];
    PathCombineW(out, self, name);
    return out;
}

void pump_messages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Runs a program while this thread keeps serving its window; returns its exit code.
DWORD run_serving(const std::wstring &exe, const std::wstring &args)
{
    std::wstring line = L"\"" + exe + L"\" " + args;
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return 0xFFFFFFFF;
    DWORD start = GetTickCount();
    while (MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, 30000, QS_ALLINPUT) != WAIT_OBJECT_0) {
        pump_messages();
        if (GetTickCount() - start > 60000) break;
    }
    DWORD code = 0xFFFFFFFE;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

int collect(std::vector<std::wstring> &args, WCHAR *out[kCliMaxPaths])
{
    std::vector<WCHAR *> argv;
    for (auto &a : args) argv.push_back(&a[0]);
    return cli_collect_from_args((int)argv.size(), argv.data(), out);
}

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&g_gdipToken, &input, nullptr), Gdiplus::Ok);
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        g_box_count = 0;
        g_last_box_text.clear();
        modal_set_answerer(answer_ok);
        app_init_record(&g_app, GetModuleHandleW(nullptr));
        ASSERT_TRUE(app_register_class(g_app.instance));
        ASSERT_NE(app_create_main_window(&g_app), nullptr);
    }
    void TearDown() override
    {
        if (IsWindow(g_app.hwnd)) DestroyWindow(g_app.hwnd);
        pump_messages();
        modal_set_answerer(nullptr);
        Gdiplus::GdiplusShutdown(g_gdipToken);
    }
};

TEST_F(MainWindow, CreationSetsUpTheWindowAndTheRecord)
{
    WCHAR cls[64];
    GetClassNameW(g_app.hwnd, cls, 64);
    EXPECT_STREQ(cls, L"Veldmoor.MainWnd");
    EXPECT_EQ(window_title(g_app.hwnd), L"Veldmoor");
    RECT rc;
    GetWindowRect(g_app.hwnd, &rc);
    EXPECT_EQ(rc.right - rc.left, 1100);
    EXPECT_EQ(rc.bottom - rc.top, 720);
    LONG style = GetWindowLongW(g_app.hwnd, GWL_STYLE);
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_FALSE(style & WS_CAPTION);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_EQ((App *)GetWindowLongPtrW(g_app.hwnd, GWLP_USERDATA), &g_app);
    EXPECT_GE(g_app.dpi, 72);
    EXPECT_NE(g_app.font_text, nullptr);
    EXPECT_NE(g_app.font_large, nullptr);
    EXPECT_STREQ(g_app.status, L"把图片拖进来，或点左上角「打开」选择文件");
    EXPECT_EQ(g_app.quality, 90);
    EXPECT_EQ(g_app.compress_kb, 200);
    EXPECT_EQ(g_app.compress_min_side, 640);
}

TEST_F(MainWindow, DestructionReleasesEverythingAndPostsQuit)
{
    NEEDS_TESTDATA();
    app_load(&g_app, testdata_path(L"orientation/Landscape_1.jpg").c_str());
    ASSERT_NE(g_app.image, nullptr);
    DestroyWindow(g_app.hwnd);
    EXPECT_EQ(g_app.image, nullptr);
    EXPECT_EQ(g_app.undo_image, nullptr);
    EXPECT_EQ(g_app.gp_image, nullptr);
    EXPECT_EQ(g_app.font_text, nullptr);
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 0u);
}

TEST_F(MainWindow, LoadingAPictureFillsRecordQueueAndTitle)
{
    NEEDS_TESTDATA();
    std::wstring path = testdata_path(L"orientation/Landscape_1.jpg");
    app_load(&g_app, path.c_str());
    ASSERT_NE(g_app.image, nullptr);
    EXPECT_EQ(g_app.image->width, 1800u);
    EXPECT_EQ(g_app.image->height, 1200u);
    // The undo copy waits for the first edit; until then the picture is its own original.
    EXPECT_EQ(g_app.undo_image, nullptr);
    EXPECT_EQ(app_loaded_picture(&g_app), g_app.image);
    EXPECT_NE(g_app.gp_image, nullptr);
    EXPECT_STREQ(g_app.file_name, L"Landscape_1.jpg");
    EXPECT_STREQ(g_app.file_path, path.c_str());
    EXPECT_EQ(g_app.file_size, file_bytes(path.c_str()));
    EXPECT_EQ((size_t)g_app.file_size, read_file_bytes(path).size());
    EXPECT_EQ(window_title(g_app.hwnd), L"Landscape_1.jpg - Veldmoor");
    EXPECT_EQ(g_app.queue_count, 9);  // Landscape_0 … Landscape_8
    ASSERT_GE(g_app.queue_index, 0);
    EXPECT_STREQ(PathFindFileNameW(g_app.queue_paths[g_app.queue_index]), L"Landscape_1.jpg");
    EXPECT_STREQ(g_app.status, L"滚轮缩放 · 拖动平移 · ← → 翻页");
    EXPECT_EQ(g_box_count, 0);
}

TEST_F(MainWindow, UndoCopyIsMadeBeforeTheFirstEditAndKeepsTheLoadedPicture)
{
    NEEDS_TESTDATA();
    EXPECT_EQ(app_prepare_edit(&g_app), 0);  // no picture
    EXPECT_EQ(app_loaded_picture(&g_app), nullptr);
    app_load(&g_app, testdata_path(L"orientation/Landscape_1.jpg").c_str());
    ASSERT_NE(g_app.image, nullptr);
    const size_t bytes = (size_t)g_app.image->stride * g_app.image->height;
    std::vector<uint8_t> loaded(g_app.image->data, g_app.image->data + bytes);

    ASSERT_EQ(app_prepare_edit(&g_app), 1);
    ASSERT_NE(g_app.undo_image, nullptr);
    EXPECT_NE(g_app.undo_image, g_app.image);
    // An edit (a turn, as the rotate command does it) leaves the copy as loaded.
    Image *turned = image_transform(g_app.image, 6);
    Image *undo = g_app.undo_image;
    canvas_release_gp(&g_app);
    image_free(g_app.image);
    g_app.image = turned;
    canvas_sync_gp(&g_app);
    EXPECT_EQ(app_prepare_edit(&g_app), 1);
    EXPECT_EQ(g_app.undo_image, undo);  // made once only
    ASSERT_EQ(app_loaded_picture(&g_app), undo);
    EXPECT_EQ(0, memcmp(undo->data, loaded.data(), bytes));

    // A new load starts over without a copy.
    app_load_no_queue(&g_app, testdata_path(L"orientation/Landscape_2.jpg").c_str());
    EXPECT_EQ(g_app.undo_image, nullptr);
    EXPECT_EQ(app_loaded_picture(&g_app), g_app.image);
    app_load_no_queue(&g_app, L"");
    EXPECT_EQ(app_loaded_picture(&g_app), nullptr);
    EXPECT_EQ(app_prepare_edit(&g_app), 0);
}

TEST_F(MainWindow, FailedLoadLeavesNoPictureAndWarns)
{
    NEEDS_TESTDATA();
    std::wstring dir = temp_dir_create(L"appload");
    std::wstring bad = dir + L"\\broken.png";
    ASSERT_TRUE(write_file_bytes(bad, "\x89PNG\r\n\x1a\n\0\0", 10));

    app_load(&g_app, testdata_path(L"orientation/Landscape_1.jpg").c_str());
    ASSERT_NE(g_app.image, nullptr);
    app_load(&g_app, bad.c_str());
    EXPECT_EQ(g_app.image, nullptr);
    EXPECT_EQ(g_app.undo_image, nullptr);
    EXPECT_EQ(g_app.gp_image, nullptr);
    EXPECT_EQ(g_app.file_size, 0);
    EXPECT_EQ(window_title(g_app.hwnd), L"broken.png - Veldmoor");
    EXPECT_EQ(g_box_count, 1);
    EXPECT_NE(g_last_box_text.find(L"「broken.png」不是有效的图片"), std::wstring::npos) ;
    // The browse hint does not cover the failure while no picture shows.
    EXPECT_EQ(g_app.queue_count, 1);
    EXPECT_STREQ(g_app.status, L"载入失败：broken.png");

    app_load_no_queue(&g_app, bad.c_str());
    EXPECT_STREQ(g_app.status, L"载入失败：broken.png");
    temp_dir_remove(dir);
}

TEST_F(MainWindow, AFailedLoadKeepsItsStatusAndGreysApplyUntilTheNextAction)
{
    NEEDS_TESTDATA();
    std::wstring dir = temp_dir_create(L"appfail");
    std::wstring good = dir + L"\\a.jpg", bad = dir + L"\\b.png";
    ASSERT_TRUE(CopyFileW(testdata_path(L"orientation/Landscape_1.jpg").c_str(), good.c_str(), FALSE));
    ASSERT_TRUE(write_file_bytes(bad, "\x89PNG\r\n\x1a\n\0\0", 10));
    auto apply_enabled = [] {
        for (int i = 0; i < g_app.panel_count; ++i)
            if (g_app.panel_items[i].kind == 5) return g_app.panel_items[i].enabled;
        return -1;
    };
    // Loading in crop mode (the open command) and paging onto a broken file: the failure stays.
    struct Way {
        bool crop;
        std::function<void()> load;
    } ways[] = {
        {true, [&] { app_load(&g_app, bad.c_str()); }},
        {false, [&] { SendMessageW(g_app.hwnd, WM_KEYDOWN, VK_RIGHT, 0); }},  // a.jpg → b.png
    };
    for (const Way &way : ways) {
        app_load(&g_app, good.c_str());
        ASSERT_NE(g_app.image, nullptr);
        ASSERT_EQ(g_app.queue_count, 2);
        if (way.crop) app_command(&g_app, 9);
        ASSERT_EQ(g_app.crop_mode, way.crop ? 1 : 0);
        ASSERT_EQ(apply_enabled(), 1);
        way.load();
        EXPECT_EQ(g_app.image, nullptr);
        EXPECT_STREQ(g_app.status, L"载入失败：b.png");
        EXPECT_EQ(apply_enabled(), 0) << "apply must go grey with the picture";
        if (!way.crop) continue;
        app_command(&g_app, 10);  // the next action may speak again
        EXPECT_EQ(g_app.crop_mode, 0);
        EXPECT_STREQ(g_app.status, L"滚轮缩放 · 拖动平移 · ← → 翻页");
    }
    temp_dir_remove(dir);
}

TEST_F(MainWindow, EmptyPathClearsThePictureButKeepsTheName)
{
    NEEDS_TESTDATA();
    app_load(&g_app, testdata_path(L"orientation/Landscape_2.jpg").c_str());
    ASSERT_NE(g_app.image, nullptr);
    app_load_no_queue(&g_app, L"");
    EXPECT_EQ(g_app.image, nullptr);
    EXPECT_EQ(g_app.file_size, 0);
    EXPECT_STREQ(g_app.file_name, L"Landscape_2.jpg");
    EXPECT_EQ(window_title(g_app.hwnd), L"Landscape_2.jpg - Veldmoor");
}

// A close request from outside waits while a dialog or box is open: a save may be running.
TEST_F(MainWindow, ACloseRequestIsRefusedWhileADialogIsOpen)
{
    modal_enter();
    SendMessageW(g_app.hwnd, WM_CLOSE, 0, 0);
    pump_messages();
    EXPECT_TRUE(IsWindow(g_app.hwnd));
    modal_leave();
    SendMessageW(g_app.hwnd, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(g_app.hwnd));
}

TEST_F(MainWindow, BrowseHintFollowsTheQueueCount)
{
    g_app.queue_count = 0;
    app_browse_hint(&g_app);
    EXPECT_STREQ(g_app.status, L"把图片拖进来，或双击打开、按 Ctrl+O");
    g_app.queue_count = 1;
    app_browse_hint(&g_app);
    EXPECT_STREQ(g_app.status, L"这个目录里只有这一张图片");
    g_app.queue_count = 2;
    app_browse_hint(&g_app);
    EXPECT_STREQ(g_app.status, L"滚轮缩放 · 拖动平移 · ← → 翻页");
}

TEST_F(MainWindow, CopyDataAcceptsOnlyWellFormedBlocks)
{
    NEEDS_TESTDATA();
    std::wstring path = testdata_path(L"orientation/Landscape_3.jpg");
    WCHAR *paths[1] = {&path[0]};
    uint8_t *block;
    uint32_t size;
    ASSERT_TRUE(handover_build(paths, 1, &block, &size));
    EXPECT_EQ(size, 16u + 2u * (uint32_t)path.size() + 2u);
    std::vector<uint8_t> good(block, block + size);
    free(block);

    auto send = [](std::vector<uint8_t> data, ULONG_PTR tag = kHandoverMagic, DWORD cb = 0) {
        COPYDATASTRUCT cds = {tag, cb ? cb : (DWORD)data.size(), data.data()};
        return SendMessageW(g_app.hwnd, WM_COPYDATA, 0, (LPARAM)&cds);
    };
    auto with_u32 = [&](size_t at, uint32_t v) {
        std::vector<uint8_t> d = good;
        memcpy(&d[at], &v, 4);
        return d;
    };
    EXPECT_EQ(send(good, 0x1234), 0);
    EXPECT_EQ(send(with_u32(0, 0x11111111)), 0);
    EXPECT_EQ(send(with_u32(4, 2)), 0);
    EXPECT_EQ(send(with_u32(8, 0)), 0);
    EXPECT_EQ(send(good, kHandoverMagic, 15), 0);
    EXPECT_EQ(send(with_u32(12, (uint32_t)good.size() - 1)), 0);
    EXPECT_EQ(send(with_u32(12, 0xFFFFFFFE)), 0);
    std::vector<uint8_t> unterminated = good;
    unterminated.resize(unterminated.size() - 2);  // the NUL is cut off: never read past the block
    EXPECT_EQ(send(unterminated), 0);
    EXPECT_EQ(g_app.image, nullptr);

    EXPECT_EQ(send(good), 1);
    ASSERT_NE(g_app.image, nullptr);
    EXPECT_STREQ(g_app.file_name, L"Landscape_3.jpg");
}

TEST(HandoverBlock, CountAbove32UsesTheFirst32)
{
    std::vector<std::wstring> names;
    std::vector<WCHAR *> paths;
    for (int i = 0; i < 32; ++i) names.push_back(L"C:\\p\\" + std::to_wstring(i) + L".jpg");
    for (auto &n : names) paths.push_back(&n[0]);
    uint8_t *block;
    uint32_t size;
    ASSERT_TRUE(handover_build(paths.data(), 32, &block, &size));
    uint32_t forty = 40;  // claims 40 paths; only 32 are used, the rest unread
    memcpy(block + 8, &forty, 4);
    static WCHAR out[kCliMaxPaths][kPathMax];
    // 40 offsets would need 8 more table entries than the block has, so the parser
    // must look only at the first 32 entries of the table.
    EXPECT_EQ(handover_parse(block, size, out), 32);
    EXPECT_STREQ(out[31], L"C:\\p\\31.jpg");
    free(block);
}

TEST(CommandLine, TakesPicturesSkipsTheRestAndStopsAt32)
{
    std::wstring dir = temp_dir_create(L"cli");
    std::vector<std::wstring> args = {L"Veldmoor.exe"};
    for (int i = 0; i < 40; ++i) {
        std::wstring p = dir + L"\\pic" + std::to_wstring(i) + (i == 0 ? L".JPG" : L".png");
        write_file_bytes(p, "x", 1);
        args.push_back(p);
    }
    std::wstring notes = dir + L"\\notes.txt";
    write_file_bytes(notes, "x", 1);
    args.insert(args.begin() + 1, notes);
    args.insert(args.begin() + 1, dir + L"\\missing.jpg");
    args.insert(args.begin() + 1, L"");

    WCHAR *out[kCliMaxPaths];
    int n = collect(args, out);
    EXPECT_EQ(n, 32);
    EXPECT_EQ(std::wstring(out[0]), dir + L"\\pic0.JPG");
    EXPECT_EQ(std::wstring(out[31]), dir + L"\\pic31.png");
    temp_dir_remove(dir);
}

TEST(CommandLine, RelativePathsBecomeFullPaths)
{
    std::wstring dir = temp_dir_create(L"clirel");
    write_file_bytes(dir + L"\\shot.jpg", "x", 1);
    WCHAR old_cwd[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, old_cwd);
    ASSERT_TRUE(SetCurrentDirectoryW(dir.c_str()));
    std::vector<std::wstring> args = {L"Veldmoor.exe", L"shot.jpg", L"./shot.jpg"};
    WCHAR *out[kCliMaxPaths];
    int n = collect(args, out);
    SetCurrentDirectoryW(old_cwd);
    ASSERT_EQ(n, 2);
    EXPECT_EQ(std::wstring(out[0]), dir + L"\\shot.jpg");
    EXPECT_EQ(std::wstring(out[1]), dir + L"\\shot.jpg");
    temp_dir_remove(dir);
}

TEST(CommandLine, OnlyALoneFirstArgumentIsASwitch)
{
    const struct {
        std::vector<std::wstring> args;
        int which;
    } cases[] = {
        {{L"Veldmoor.exe", L"--add-open-with"}, kSwitchAddOpenWith},
        {{L"Veldmoor.exe", L"--Remove-Open-With"}, kSwitchRemoveOpenWith},
        {{L"Veldmoor.exe", L"--add-open-with", L"a.jpg"}, kSwitchNone},
        {{L"Veldmoor.exe", L"a.jpg", L"--remove-open-with"}, kSwitchNone},
        {{L"Veldmoor.exe", L"--add-open"}, kSwitchNone},
        {{L"Veldmoor.exe", L"a.jpg"}, kSwitchNone},
        {{L"Veldmoor.exe"}, kSwitchNone},
    };
    for (auto c : cases) {
        std::vector<WCHAR *> argv;
        for (auto &a : c.args) argv.push_back(&a[0]);
        EXPECT_EQ(switch_from_args((int)argv.size(), argv.data()), c.which) << c.args.size();
    }
}

TEST(CommandLine, AFolderContributesOnePictureFromInside)
{
    std::wstring dir = temp_dir_create(L"clidir");
    CreateDirectoryW((dir + L"\\sub").c_str(), nullptr);
    write_file_bytes(dir + L"\\readme.txt", "x", 1);
    write_file_bytes(dir + L"\\img10.jpg", "x", 1);
    write_file_bytes(dir + L"\\img2.jpg", "x", 1);
    std::wstring empty = temp_dir_create(L"cliempty");
    std::vector<std::wstring> args = {L"Veldmoor.exe", dir, empty};
    WCHAR *out[kCliMaxPaths];
    ASSERT_EQ(collect(args, out), 1);
    EXPECT_EQ(std::wstring(out[0]), dir + L"\\img2.jpg");
    temp_dir_remove(dir);
    temp_dir_remove(empty);
}

TEST(Executable, CarriesItsIconVersionAndManifest)
{
    std::wstring exe = build_dir_file(L"Veldmoor.exe");
    HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr);
    HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(101), RT_GROUP_ICON);
    ASSERT_NE(group, nullptr);
    // The icon directory lists the six sizes, 32-bit each.
    const uint8_t *dir = (const uint8_t *)LockResource(LoadResource(module, group));
    ASSERT_NE(dir, nullptr);
    uint16_t count;
    memcpy(&count, dir + 4, 2);
    ASSERT_EQ(count, 6);
    std::vector<int> sizes;
    for (int i = 0; i < count; ++i) {
        const uint8_t *entry = dir + 6 + 14 * i;
        sizes.push_back(entry[0] ? entry[0] : 256);
        uint16_t bits;
        memcpy(&bits, entry + 6, 2);
        EXPECT_EQ(bits, 32);
    }
    EXPECT_EQ(sizes, (std::vector<int>{16, 24, 32, 48, 64, 256}));
    EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST), nullptr);
    FreeLibrary(module);

    DWORD handle = 0, size = GetFileVersionInfoSizeW(exe.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<uint8_t> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", (void **)&fixed, &len));
    // The project version, in the numbers and in the texts the shell shows.
    const DWORD ms = VELDMOOR_VERSION_MAJOR << 16 | VELDMOOR_VERSION_MINOR, ls = VELDMOOR_VERSION_PATCH << 16;
    EXPECT_EQ(fixed->dwFileVersionMS, ms);
    EXPECT_EQ(fixed->dwFileVersionLS, ls);
    EXPECT_EQ(fixed->dwProductVersionMS, ms);
    EXPECT_EQ(fixed->dwProductVersionLS, ls);
    for (const WCHAR *name : {L"FileVersion", L"ProductVersion"}) {
        WCHAR *text = nullptr;
        std::wstring path = std::wstring(L"\\StringFileInfo\\080404b0\\") + name;
        ASSERT_TRUE(VerQueryValueW(info.data(), path.c_str(), (void **)&text, &len)) << name;
        EXPECT_STREQ(text, VELDMOOR_VERSION_W) << name;
    }
}

// Two real processes: this one holds the instance mutex and the window, a second
// Veldmoor.exe hands its paths over and ends.
class SecondInstance : public MainWindow {
protected:
    void SetUp() override
    {
        MainWindow::SetUp();
        mutex_ = CreateMutexW(nullptr, FALSE, kMutexName);
        ASSERT_NE(mutex_, nullptr);
    }
    void TearDown() override
    {
        CloseHandle(mutex_);
        MainWindow::TearDown();
    }
    HANDLE mutex_ = nullptr;
};

TEST_F(SecondInstance, HandsTwoPathsToTheFirstAndEnds)
{
    NEEDS_TESTDATA();
    std::wstring dir = temp_dir_create(L"handover");
    std::wstring other = dir + L"\\other.jpg";
    ASSERT_TRUE(CopyFileW(testdata_path(L"camera/nikon_e950.jpg").c_str(), other.c_str(), FALSE));
    std::wstring first = testdata_path(L"orientation/Landscape_4.jpg");

    DWORD code = run_serving(build_dir_file(L"Veldmoor.exe"), L"\"" + first + L"\" \"" + other + L"\"");
    EXPECT_EQ(code, 0u);
    ASSERT_NE(g_app.image, nullptr);
    EXPECT_STREQ(g_app.file_name, L"Landscape_4.jpg");
    EXPECT_EQ(g_app.queue_count, 10);  // the nine of the folder, then the other one
    EXPECT_STREQ(PathFindFileNameW(g_app.queue_paths[9]), L"other.jpg");
    EXPECT_STREQ(PathFindFileNameW(g_app.queue_paths[g_app.queue_index]), L"Landscape_4.jpg");
    temp_dir_remove(dir);
}

TEST_F(SecondInstance, RefusedBlocksStillEndTheSenderWithZero)
{
    NEEDS_TESTDATA();
    std::wstring photo = testdata_path(L"orientation/Landscape_5.jpg");
    std::wstring sender = build_dir_file(L"tests\\handover_sender.exe");
    for (const wchar_t *kind : {L"version2", L"count0", L"short", L"offset"}) {
        EXPECT_EQ(run_serving(sender, std::wstring(kind) + L" \"" + photo + L"\""), 0u) << kind;
        EXPECT_EQ(g_app.image, nullptr) << kind;
    }
    EXPECT_EQ(run_serving(sender, L"valid \"" + photo + L"\""), 0u);
    ASSERT_NE(g_app.image, nullptr);
    EXPECT_STREQ(g_app.file_name, L"Landscape_5.jpg");
}

TEST_F(SecondInstance, WithoutPathsOnlyRestoresTheWindow)
{
    ShowWindow(g_app.hwnd, SW_MINIMIZE);
    DWORD code = run_serving(build_dir_file(L"Veldmoor.exe"), L"");
    EXPECT_EQ(code, 0u);
    pump_messages();
    EXPECT_FALSE(IsIconic(g_app.hwnd));
    EXPECT_EQ(g_app.image, nullptr);
}

}  // namespace
