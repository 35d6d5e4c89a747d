// The growable queue, the folder listing (on the caller's thread and on its
// worker) and the folder watch, over real folders.
#include <gtest/gtest.h>
#include "app/app.h"
#include "files/listing.h"
#include "state/queue.h"
#include "files/watch.h"
#include "support/test_support.h"
#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

struct QueueGuard {
    FileQueue q = {};
    ~QueueGuard() { queue_free(&q); }
};

std::vector<std::wstring> names_of(const FileQueue &q)
{
    std::vector<std::wstring> names;
    for (int i = 0; i < q.count; ++i) names.push_back(queue_name(&q, i));
    return names;
}

TEST(GrowableQueue, NaturalOrderAcrossAThousandGeneratedNames)
{
    // Prefixes that differ at their first unit, numbers by value whatever their zeros.
    static const wchar_t *kPrefixes[] = {L"IMG_", L"a", L"b_", L"img "};
    std::mt19937 rng(22);
    std::vector<std::tuple<std::wstring, int, std::wstring>> made;
    std::vector<int> numbers(20000);
    for (int i = 0; i < 20000; ++i) numbers[i] = i * 7 + 3;
    std::shuffle(numbers.begin(), numbers.end(), rng);
    for (int i = 0; i < 1000; ++i) {
        std::wstring prefix = kPrefixes[rng() % 4];
        std::wstring digits = std::to_wstring(numbers[i]);
        digits.insert(0, rng() % 4, L'0');
        made.emplace_back(prefix, numbers[i], prefix + digits + L".jpg");
    }
    QueueGuard g;
    for (auto &m : made) ASSERT_GE(queue_add(&g.q, (L"C:\\camera\\" + std::get<2>(m)).c_str()), 0);
    queue_sort(&g.q);
    std::sort(made.begin(), made.end());
    ASSERT_EQ(g.q.count, 1000);
    for (int i = 0; i < 1000; ++i) EXPECT_EQ(queue_name(&g.q, i), std::get<2>(made[i])) << i;
    // Sorting keeps the duplicate check working.
    EXPECT_EQ(queue_find(&g.q, (L"c:\\CAMERA\\" + std::get<2>(made[500])).c_str()), 500);
}

TEST(GrowableQueue, AHundredThousandEntriesWithCaseInsensitiveDuplicates)
{
    QueueGuard g;
    WCHAR path[64];
    for (int i = 0; i < 100000; ++i) {
        swprintf(path, 64, L"C:\\Pics\\Photo_%d.JPG", i);
        ASSERT_EQ(queue_add(&g.q, path), i);
    }
    for (int i = 0; i < 100000; i += 7) {
        swprintf(path, 64, L"c:\\pics\\photo_%d.jpg", i);
        ASSERT_EQ(queue_add(&g.q, path), i);
    }
    EXPECT_EQ(g.q.count, 100000);
    EXPECT_STREQ(queue_path(&g.q, 99999), L"C:\\Pics\\Photo_99999.JPG");
    // Letters outside ASCII fold too, as the file system folds them.
    EXPECT_EQ(queue_add(&g.q, L"C:\\Pics\\Ärger.jpg"), 100000);
    EXPECT_EQ(queue_find(&g.q, L"c:\\pics\\ärger.JPG"), 100000);
    EXPECT_EQ(queue_find(&g.q, L"c:\\pics\\photo_100000.jpg"), -1);
}

TEST(GrowableQueue, RemovingKeepsOrderAndLookups)
{
    QueueGuard g;
    WCHAR path[64];
    for (int i = 0; i < 3000; ++i) {
        swprintf(path, 64, L"D:\\f\\%05d.png", i);
        queue_add(&g.q, path);
    }
    for (int i = 2999; i >= 0; i -= 2) queue_remove(&g.q, i);  // enough to compact the text block
    ASSERT_EQ(g.q.count, 1500);
    for (int i = 0; i < 1500; ++i) {
        swprintf(path, 64, L"D:\\F\\%05d.PNG", 2 * i);
        ASSERT_EQ(queue_find(&g.q, path), i);
    }
    swprintf(path, 64, L"D:\\f\\%05d.png", 1);
    EXPECT_EQ(queue_find(&g.q, path), -1);
    queue_remove(&g.q, -1);
    queue_remove(&g.q, 1500);
    EXPECT_EQ(g.q.count, 1500);
}

TEST(GrowableQueue, RefusesWhatCannotBeAnEntry)
{
    QueueGuard g;
    std::wstring longest = L"C:\\" + std::wstring(kQueuePathMax - 3, L'x');
    std::wstring longer = longest + L"y";
    EXPECT_EQ(queue_add(&g.q, longest.c_str()), 0);
    EXPECT_EQ(queue_add(&g.q, longer.c_str()), -1);  // not cut into the first one
    EXPECT_EQ(queue_add(&g.q, L""), -1);
    EXPECT_EQ(queue_add(&g.q, nullptr), -1);
    EXPECT_EQ(g.q.count, 1);
    EXPECT_STREQ(queue_path(&g.q, 5), L"");
}

TEST(FolderPattern, TerminatedOrRefusedAtTheLimit)
{
    WCHAR out[260];
    std::wstring fits(257, L'f'), exact(258, L'f');  // "exact\*" is 260 units without its terminator
    EXPECT_EQ(files_list_pattern(fits.c_str(), out, 260), 1);
    EXPECT_EQ(wcslen(out), 259u);
    EXPECT_EQ(std::wstring(out).substr(257), L"\\*");
    wmemset(out, L'?', 260);
    EXPECT_EQ(files_list_pattern(exact.c_str(), out, 260), 0);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(files_list_pattern(L"C:\\", out, 260), 1);
    EXPECT_STREQ(out, L"C:\\*");
    EXPECT_EQ(files_list_pattern(L"", out, 260), 0);
}

class Listing : public ::testing::Test {
protected:
    void SetUp() override { dir_ = temp_dir_create(L"listing"); }
    void TearDown() override { temp_dir_remove(dir_); }
    std::wstring touch(const std::wstring &name)
    {
        std::wstring path = dir_ + L"\\" + name;
        write_file_bytes(path, "x", 1);
        return path;
    }
    std::wstring dir_;
};

TEST_F(Listing, EveryPictureOfTheFolderInOrder)
{
    for (int i = 200; i >= 1; --i) touch(L"IMG_" + std::to_wstring(10000 + i).substr(1) + L".jpg");
    touch(L"notes.txt");
    CreateDirectoryW((dir_ + L"\\sub.jpg").c_str(), nullptr);
    QueueGuard g;
    int index;
    std::wstring opened = dir_ + L"\\IMG_0150.JPG";
    EXPECT_EQ(listing_scan_file(opened.c_str(), &g.q, &index), 200);
    EXPECT_EQ(index, 149);
    EXPECT_EQ(std::wstring(queue_name(&g.q, index)), L"IMG_0150.JPG");  // the opened spelling stays
    EXPECT_EQ(std::wstring(queue_name(&g.q, 199)), L"IMG_0200.jpg");
    EXPECT_EQ(listing_scan_file(L"bare.jpg", &g.q, &index), 0);
    EXPECT_EQ(index, -1);
}

TEST_F(Listing, NamesPastThePathLimitAreSkippedNotCut)
{
    // a: a path of exactly 259 units; b: a's path plus more, which cut to 259 units would be a.
    size_t room = 259 - dir_.size() - 1;
    ASSERT_GT(room, 10u);
    std::wstring a = std::wstring(room - 4, L'n') + L".jpg";
    std::wstring b = a + L"g.jpg";
    ASSERT_TRUE(write_file_bytes(dir_ + L"\\" + a, "x", 1));
    std::wstring b_long = L"\\\\?\\" + dir_ + L"\\" + b;
    HANDLE f = CreateFileW(b_long.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE) << "cannot make a name past the path limit here";
    CloseHandle(f);
    QueueGuard g;
    EXPECT_EQ(listing_run(dir_.c_str(), &g.q, nullptr), 1);
    EXPECT_EQ(names_of(g.q), std::vector<std::wstring>{a});
    DeleteFileW(b_long.c_str());
}

TEST_F(Listing, AFolderWhosePatternWouldOverflowIsRefused)
{
    // Nested folders up to a path of 258 units: its "\*" pattern would be 260 units.
    std::wstring deep = L"\\\\?\\" + dir_;
    while (deep.size() - 4 < 258) {
        size_t part = std::min<size_t>(100, 258 - (deep.size() - 4) - 1);
        if (part == 0) break;
        deep += L"\\" + std::wstring(part, L'd');
        ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr)) << deep.size();
    }
    std::wstring folder = deep.substr(4);
    ASSERT_EQ(folder.size(), 258u);
    HANDLE f = CreateFileW((deep + L"\\a.jpg").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    CloseHandle(f);
    QueueGuard g;
    EXPECT_EQ(listing_run(folder.c_str(), &g.q, nullptr), -1);
    EXPECT_EQ(g.q.count, 0);
    // A folder given on the command line: no picture inside can be opened, and none is made up.
    WCHAR slot[kPathMax];
    wcscpy(slot, L"untouched");
    EXPECT_EQ(cli_take_path(folder.c_str(), slot), 0);
    EXPECT_STREQ(slot, L"untouched");
    DeleteFileW((deep + L"\\a.jpg").c_str());
}

HWND message_window()
{
    return CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
}

// Messages of the window until one of type msg arrives or ms pass; the lParam, or 0.
LPARAM wait_message(HWND hwnd, UINT msg, DWORD ms, int *others = nullptr)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        MSG m;
        while (PeekMessageW(&m, hwnd, 0, 0, PM_REMOVE)) {
            if (m.message == msg) return m.lParam;
            if (others) ++*others;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return 0;
}

TEST_F(Listing, TwentyThousandFilesOnTheWorkerWhileMessagesFlow)
{
    ASSERT_TRUE(host_make_files(dir_, L"p", 20000, L".png"));
    HWND hwnd = message_window();
    ASSERT_NE(hwnd, nullptr);
    ListingJob *job = listing_start(dir_.c_str(), hwnd, 7);
    ASSERT_NE(job, nullptr);
    // The window's own messages are answered while the worker lists.
    int answered = 0;
    for (int i = 0; i < 5; ++i) PostMessageW(hwnd, WM_APP + 1, 0, 0);
    auto *r = (ListingResult *)wait_message(hwnd, WM_LISTING_DONE, 60000, &answered);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(answered, 5);
    EXPECT_EQ(r->generation, 7u);
    EXPECT_EQ(r->ok, 1);
    ASSERT_EQ(r->queue.count, 20000);
    EXPECT_EQ(std::wstring(queue_name(&r->queue, 0)), L"p0.png");
    EXPECT_EQ(std::wstring(queue_name(&r->queue, 19999)), L"p19999.png");
    listing_result_free(r);
    listing_cancel(job);

    // A cancelled listing posts nothing.
    job = listing_start(dir_.c_str(), hwnd, 8);
    listing_cancel(job);
    EXPECT_EQ(wait_message(hwnd, WM_LISTING_DONE, 1500), 0);
    DestroyWindow(hwnd);
    EXPECT_TRUE(host_remove_dir(dir_));
}

TEST_F(Listing, TheWatchReportsPicturesCopiedInRemovedAndRewritten)
{
    std::wstring kept = touch(L"kept.jpg");
    HWND hwnd = message_window();
    FolderWatch *watch = watch_start(dir_.c_str(), hwnd, 3);
    ASSERT_NE(watch, nullptr);
    Sleep(100);
    ASSERT_TRUE(CopyFileW(kept.c_str(), (dir_ + L"\\copied.jpg").c_str(), TRUE));
    touch(L"ignored.txt");
    // Collects changes until the expected kind for the expected name arrives.
    auto wait_for = [&](int32_t kind, const std::wstring &path) {
        for (;;) {
            auto *c = (FolderChange *)wait_message(hwnd, WM_FOLDER_CHANGE, 5000);
            if (!c) return false;
            bool hit = c->kind == kind && !_wcsicmp(c->path, path.c_str());
            EXPECT_EQ(c->generation, 3u);
            EXPECT_STRNE(c->path, (dir_ + L"\\ignored.txt").c_str());
            free(c);
            if (hit) return true;
        }
    };
    EXPECT_TRUE(wait_for(kChangeAdded, dir_ + L"\\copied.jpg"));
    ASSERT_TRUE(MoveFileW((dir_ + L"\\copied.jpg").c_str(), (dir_ + L"\\renamed.jpg").c_str()));
    EXPECT_TRUE(wait_for(kChangeRemoved, dir_ + L"\\copied.jpg"));
    EXPECT_TRUE(wait_for(kChangeAdded, dir_ + L"\\renamed.jpg"));
    write_file_bytes(kept, "xyz", 3);
    EXPECT_TRUE(wait_for(kChangeModified, kept));
    DeleteFileW(kept.c_str());
    EXPECT_TRUE(wait_for(kChangeRemoved, kept));
    watch_stop(watch);
    DestroyWindow(hwnd);
}

}  // namespace
