// Batch processing: the per-file step and its names, the worker and its pool,
// the folder scan and veldmoor-cli batch as a real process, and the dialog.
#include <gtest/gtest.h>
#include "codec/codec.h"
#include "dialogs/batch.h"
#include "shell/modal.h"
#include "support/test_support.h"
#include "ui/ui.h"
#include <shlobj.h>
#include <shlwapi.h>
#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

// A gradient, or noise that no encoder can squeeze.
std::wstring save_png(const std::wstring &path, uint32_t w, uint32_t h, bool noisy = false)
{
    Image *img = make_gradient(w, h, false);
    for (size_t i = 0; noisy && img && i < (size_t)w * h * 4; ++i)
        img->data[i] = i % 4 == 3 ? 255 : (uint8_t)(i * 2654435761u >> 13);
    WCHAR err[300];
    bool ok = img && codec_save(img, path.c_str(), 90, nullptr, err, 300);
    image_free(img);
    return ok ? path : L"";
}

// Width, height and the first pixel's blue and green of a picture file; 0 × 0 when it does not load.
struct Facts {
    uint32_t w, h;
    uint8_t b, g;
};
Facts facts(const std::wstring &path)
{
    WCHAR err[300];
    Image *img = codec_load(path.c_str(), err, 300);
    Facts f = {img ? img->width : 0, img ? img->height : 0, img ? img->data[0] : (uint8_t)0,
               img ? img->data[1] : (uint8_t)0};
    image_free(img);
    return f;
}

std::vector<std::wstring> tmp_files(const std::wstring &dir)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW((dir + L"\\*.tmp").c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE) return names;
    do names.push_back(fd.cFileName); while (FindNextFileW(find, &fd));
    FindClose(find);
    return names;
}

struct JobDeleter {
    void operator()(BatchJob *job) const
    {
        batch_list_free(job->files);
        free(job->results);
        free(job);
    }
};
using JobPtr = std::unique_ptr<BatchJob, JobDeleter>;

JobPtr new_job(const std::wstring &out_dir, std::vector<std::wstring> files)
{
    JobPtr job((BatchJob *)calloc(1, sizeof(BatchJob)));
    batch_settings_default(job.get());
    job->convert_on = 0;
    job->files = batch_list_new();
    job->results = (BatchItemResult *)calloc(kBatchMaxFiles, sizeof(BatchItemResult));
    lstrcpynW(job->out_dir, out_dir.c_str(), kPathMax);
    for (auto &f : files) lstrcpynW(job->files[job->file_count++], f.c_str(), kPathMax);
    return job;
}

std::wstring output_of(const BatchJob *job, int index)
{
    return job->results[index].output;
}

class BatchEngine : public ::testing::Test {
protected:
    std::wstring dir, out;
    void SetUp() override
    {
        dir = temp_dir_create(L"batchengine");
        out = dir + L"\\out";
        CreateDirectoryW(out.c_str(), nullptr);
    }
    void TearDown() override { temp_dir_remove(dir); }
};

TEST_F(BatchEngine, CropModesCutTheCentreOrScaleToTheWidth)
{
    struct Case {
        int mode, a, b;  // fixed: a × b; ratio: index a; width: a
        uint32_t src_w, src_h, out_w, out_h, x, y;
    };
    static constexpr Case kCases[] = {
        {0, 800, 800, 1000, 600, 800, 600, 100, 0},  {0, 20, 30, 10, 50, 10, 30, 0, 10},
        {1, 3, 0, 400, 300, 400, 225, 0, 37},        {1, 3, 0, 300, 400, 300, 169, 0, 115},
        {1, 0, 0, 90, 40, 40, 40, 25, 0},            {2, 80, 0, 400, 300, 80, 60, 0, 0},
        {2, 80, 0, 10, 5, 80, 40, 0, 0},
    };
    for (const Case &c : kCases) {
        std::wstring src = save_png(dir + L"\\p" + std::to_wstring(&c - kCases) + L".png", c.src_w, c.src_h);
        JobPtr job = new_job(out, {src});
        job->crop_on = 1;
        job->convert_on = 1;
        job->format_index = 3;  // BMP keeps the pixels
        job->crop_mode = c.mode;
        job->crop_w = job->resize_width = c.a;
        job->crop_h = c.b;
        job->ratio_index = c.a;
        ASSERT_EQ(batch_process_one(job.get(), 0), kBatchWritten) << job->results[0].message;
        Facts f = facts(output_of(job.get(), 0));
        EXPECT_EQ(f.w, c.out_w) << "case " << (&c - kCases);
        EXPECT_EQ(f.h, c.out_h) << "case " << (&c - kCases);
        if (c.mode == 2) continue;
        Image *ref = make_gradient(c.src_w, c.src_h, false);  // the cut's first pixel is the source's (x, y)
        EXPECT_EQ(f.b, ref->data[(size_t)c.y * ref->stride + c.x * 4]) << "case " << (&c - kCases);
        EXPECT_EQ(f.g, ref->data[(size_t)c.y * ref->stride + c.x * 4 + 1]) << "case " << (&c - kCases);
        image_free(ref);
    }
}

TEST_F(BatchEngine, NamesFollowSuffixesExtensionsAndSequence)
{
    std::wstring png = save_png(dir + L"\\photo.png", 16, 12);
    CopyFileW(png.c_str(), (dir + L"\\photo.JPG").c_str(), FALSE);  // PNG bytes behind a JPEG name load fine
    CopyFileW(png.c_str(), (dir + L"\\scan.tiff").c_str(), FALSE);
    CopyFileW(png.c_str(), (dir + L"\\a.b.gif").c_str(), FALSE);
    JobPtr job = new_job(out, {dir + L"\\photo.JPG", dir + L"\\scan.tiff", dir + L"\\a.b.gif", png});
    job->compress_on = 1;
    EXPECT_EQ(batch_process_one(job.get(), 0), kBatchWritten);
    EXPECT_EQ(output_of(job.get(), 0), out + L"\\photo_压缩.JPG");
    job->compress_on = 0;
    job->crop_on = 1;
    EXPECT_EQ(batch_process_one(job.get(), 1), kBatchWritten);
    EXPECT_EQ(output_of(job.get(), 1), out + L"\\scan_裁剪.jpg");
    EXPECT_EQ(batch_process_one(job.get(), 2), kBatchWritten);
    EXPECT_EQ(output_of(job.get(), 2), out + L"\\a.b_裁剪.jpg");
    EXPECT_EQ(read_file_bytes(output_of(job.get(), 2))[0], 0xFF);  // JPEG bytes behind .jpg
    job->convert_on = job->compress_on = job->seq_rename = 1;
    job->format_index = 2;
    EXPECT_EQ(batch_process_one(job.get(), 2), kBatchWritten);
    EXPECT_EQ(output_of(job.get(), 2), out + L"\\0003_裁剪_转webp_压缩.webp");
}

TEST_F(BatchEngine, ExistingFilesKeepTheirBytesAndTheNextNumberIsTaken)
{
    std::wstring src = save_png(dir + L"\\a.png", 16, 12);
    for (const wchar_t *name : {L"a_裁剪.png", L"a_裁剪_1.png", L"a_裁剪_2.png"})
        write_file_bytes(out + L"\\" + name, "keep", 4);
    JobPtr job = new_job(out, {src});
    job->crop_on = 1;
    EXPECT_EQ(batch_process_one(job.get(), 0), kBatchWritten);
    EXPECT_EQ(output_of(job.get(), 0), out + L"\\a_裁剪_3.png");
    for (const wchar_t *name : {L"a_裁剪.png", L"a_裁剪_1.png", L"a_裁剪_2.png"})
        EXPECT_EQ(read_file_bytes(out + L"\\" + name), std::vector<uint8_t>({'k', 'e', 'e', 'p'}));

    // With every number taken the file fails and nothing is replaced.
    for (int n = 3; n <= kBatchMaxNumber; ++n) write_file_bytes(out + L"\\a_裁剪_" + std::to_wstring(n) + L".png", "", 0);
    EXPECT_EQ(batch_process_one(job.get(), 0), kBatchFailed);
    EXPECT_TRUE(read_file_bytes(out + L"\\a_裁剪_999.png").empty());
    EXPECT_TRUE(tmp_files(out).empty());
}

void race_in(const WCHAR *path)
{
    if (!PathFileExistsW(path) && wcsstr(path, L"_裁剪.png")) write_file_bytes(path, "late", 4);
}

TEST_F(BatchEngine, AFileRacedInAfterTheCheckKeepsItsName)
{
    std::wstring src = save_png(dir + L"\\a.png", 16, 12);
    JobPtr job = new_job(out, {src});
    job->crop_on = 1;
    job->name_checked = race_in;
    EXPECT_EQ(batch_process_one(job.get(), 0), kBatchWritten);
    EXPECT_EQ(output_of(job.get(), 0), out + L"\\a_裁剪_1.png");
    EXPECT_EQ(read_file_bytes(out + L"\\a_裁剪.png"), std::vector<uint8_t>({'l', 'a', 't', 'e'}));
    EXPECT_TRUE(tmp_files(out).empty());
}

TEST_F(BatchEngine, LongNamesLoseCharactersOfTheBaseNeverTheNumberOrExtension)
{
    std::wstring deep = out + L"\\" + std::wstring(200 - out.size(), L'd');
    CreateDirectoryW(deep.c_str(), nullptr);
    std::wstring src = save_png(dir + L"\\" + std::wstring(50, L'n') + L".png", 8, 8);
    JobPtr job = new_job(deep, {src});
    job->crop_on = job->convert_on = job->compress_on = 1;
    ASSERT_EQ(batch_process_one(job.get(), 0), kBatchWritten) << job->results[0].message;
    ASSERT_EQ(batch_process_one(job.get(), 0), kBatchWritten) << job->results[0].message;
    std::wstring second = output_of(job.get(), 0);
    EXPECT_EQ(second.size(), 259u);
    std::wstring tail = L"n_裁剪_转png_压缩_1.png";
    EXPECT_EQ(second.substr(second.size() - tail.size()), tail);
    EXPECT_EQ(facts(second).w, 8u);
}

TEST_F(BatchEngine, FailuresAndMissedTargetsAreCountedAsWhatTheyAre)
{
    std::wstring tall = save_png(dir + L"\\tall.png", 1, 6000);
    std::wstring noisy = save_png(dir + L"\\noisy.png", 300, 300, true);
    write_file_bytes(dir + L"\\bad.jpg", "not a picture", 13);
    JobPtr job = new_job(out, {tall, noisy, dir + L"\\bad.jpg"});
    job->crop_on = 1;
    job->crop_mode = 2;
    job->resize_width = 20000;  // 20000 × 120,000,000 would overflow 32 bits
    EXPECT_EQ(batch_process_one(job.get(), 0), kBatchFailed);
    EXPECT_NE(std::wstring(job->results[0].message).find(L"超出"), std::wstring::npos);
    job->crop_on = 0;
    job->compress_on = 1;
    job->target_kb = 1;
    job->auto_downscale = 0;
    job->convert_on = 1;
    job->format_index = 0;
    EXPECT_EQ(batch_process_one(job.get(), 1), kBatchOverTarget);
    EXPECT_TRUE(file_exists(output_of(job.get(), 1)));
    EXPECT_EQ(batch_process_one(job.get(), 2), kBatchFailed);
    EXPECT_TRUE(output_of(job.get(), 2).empty());
}

TEST_F(BatchEngine, CompressionKeepsASourceThatAlreadyFitsUnlessCropped)
{
    std::wstring src = dir + L"\\fits.jpg";
    Image *img = make_gradient(300, 200, false);
    ASSERT_TRUE(codec_save(img, src.c_str(), 97, nullptr, nullptr, 0));
    image_free(img);
    JobPtr job = new_job(out, {src});
    job->compress_on = 1;
    for (int crop : {0, 1}) {
        job->crop_on = crop;
        EXPECT_EQ(batch_process_one(job.get(), 0), kBatchWritten);
        EXPECT_EQ(read_file_bytes(output_of(job.get(), 0)) == read_file_bytes(src), !crop);
    }
}

// Every message the threads post, in order.
struct Recorder {
    std::vector<std::array<LONG_PTR, 3>> msgs;
    bool finished = false, scanned = false;
};
Recorder *g_rec;

LRESULT CALLBACK record_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg < WM_BATCH_ITEM_START || msg > WM_BATCH_SCAN_DONE || !g_rec) return DefWindowProcW(hwnd, msg, wp, lp);
    g_rec->msgs.push_back({(LONG_PTR)msg, (LONG_PTR)wp, (LONG_PTR)lp});
    g_rec->finished |= msg == WM_BATCH_FINISHED;
    g_rec->scanned |= msg == WM_BATCH_SCAN_DONE;
    return 0;
}

HWND recorder_window()
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = record_proc;
    wc.lpszClassName = L"BatchTestRecorder";
    RegisterClassW(&wc);
    return CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
}

bool pump_until(const std::function<bool()> &done, DWORD ms = 60000)
{
    DWORD start = GetTickCount();
    MSG msg;
    while (!done()) {  // checked after every message, so no state goes unseen
        if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
            continue;
        }
        if (GetTickCount() - start > ms) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    return true;
}

Recorder run_worker(BatchJob *job, const std::function<void()> &during = nullptr)
{
    Recorder rec;
    g_rec = &rec;
    job->hwnd = recorder_window();
    HANDLE thread = CreateThread(nullptr, 0, batch_worker, job, 0, nullptr);
    if (during) during();
    EXPECT_TRUE(pump_until([&] { return rec.finished; }));
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    DestroyWindow(job->hwnd);
    g_rec = nullptr;
    return rec;
}

// The temporary files in the output folder when a save renames its own.
std::vector<std::wstring> g_temps_seen;
void note_temps(const WCHAR *path)
{
    std::wstring folder(path, (size_t)(PathFindFileNameW(path) - path - 1));
    for (const std::wstring &name : tmp_files(folder)) g_temps_seen.push_back(name);
}

void leave_file(const std::wstring &path, int minutes_old)
{
    write_file_bytes(path, "half", 4);
    HANDLE f = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t = {{now.dwLowDateTime, now.dwHighDateTime}};
    t.QuadPart -= (ULONGLONG)minutes_old * 60 * 10000000;
    FILETIME then = {t.LowPart, t.HighPart};
    SetFileTime(f, nullptr, nullptr, &then);
    CloseHandle(f);
}

// A save killed before its rename leaves its temporary file. The next batch run or
// single save into that folder removes ours once over an hour old, never a younger
// one or anybody else's.
TEST_F(BatchEngine, TemporaryFilesLeftByKilledSavesAreClearedAfterAnHour)
{
    std::wstring src = save_png(dir + L"\\a.png", 16, 12);
    JobPtr job = new_job(out, {src});
    job->name_checked = note_temps;
    g_temps_seen.clear();
    EXPECT_EQ(batch_process_one(job.get(), 0), kBatchWritten);
    EXPECT_EQ(batch_process_one(job.get(), 0), kBatchWritten);
    ASSERT_EQ(g_temps_seen.size(), 2u);
    const std::pair<std::wstring, int> left[] = {
        {g_temps_seen[0], 90}, {g_temps_seen[1], 30}, {L"vdm1A2B.tmp", 90}, {L"notes.tmp", 600}};
    for (int single = 0; single < 2; ++single) {
        std::wstring folder = out + L"\\w" + std::to_wstring(single);
        CreateDirectoryW(folder.c_str(), nullptr);
        for (auto &l : left) leave_file(folder + L"\\" + l.first, l.second);
        Blob blob = {(uint8_t *)"saved", 5};
        JobPtr run = new_job(folder, {src});
        if (single)
            EXPECT_TRUE(codec_write_blob((folder + L"\\x.jpg").c_str(), &blob, nullptr, 0));
        else
            run_worker(run.get());
        std::vector<std::wstring> kept = tmp_files(folder);
        std::sort(kept.begin(), kept.end());
        EXPECT_EQ(kept, std::vector<std::wstring>({L"notes.tmp", L"vdm1A2B.tmp", g_temps_seen[1]}));
    }
}

TEST_F(BatchEngine, PoolKeepsTheNamesMessagesAndCancelRuleOfOneWorker)
{
    std::vector<std::wstring> files;
    for (int i = 0; i < 24; ++i) {
        std::wstring sub = dir + L"\\f" + std::to_wstring(i % 3);
        CreateDirectoryW(sub.c_str(), nullptr);
        files.push_back(save_png(sub + L"\\same" + std::to_wstring(i % 8) + L".png", 40 + i * 7, 30 + i));
    }
    write_file_bytes(files[5], "broken", 6);
    std::vector<std::vector<std::wstring>> names(2);
    std::vector<Recorder> recs;
    for (int workers : {1, 4}) {
        std::wstring o = out + std::to_wstring(workers);
        CreateDirectoryW(o.c_str(), nullptr);
        JobPtr job = new_job(o, files);
        job->crop_on = job->convert_on = 1;
        job->crop_mode = 1;
        job->workers = workers;
        recs.push_back(run_worker(job.get()));
        for (int i = 0; i < 24; ++i) names[workers > 1].push_back(PathFindFileNameW(job->results[i].output));
        EXPECT_TRUE(tmp_files(o).empty());
    }
    EXPECT_EQ(names[0], names[1]);
    EXPECT_EQ(names[0][8], L"same0_裁剪_转png_1.png");
    EXPECT_EQ(recs[0].msgs, recs[1].msgs);
    ASSERT_EQ(recs[0].msgs.size(), 49u);
    EXPECT_EQ(recs[0].msgs.back(), (std::array<LONG_PTR, 3>{WM_BATCH_FINISHED, 23, 1}));

    // Cancelled during the fifth file: the fifth is written, nothing after it.
    JobPtr job = new_job(out, files);
    job->convert_on = 1;
    job->workers = 4;
    job->stop_after = 5;
    Recorder rec = run_worker(job.get());
    ASSERT_EQ(rec.msgs.size(), 11u);
    EXPECT_EQ(rec.msgs.back(), (std::array<LONG_PTR, 3>{WM_BATCH_FINISHED, 5, 0}));
    EXPECT_TRUE(file_exists(output_of(job.get(), 4)));
    EXPECT_TRUE(output_of(job.get(), 5).empty());
}

// ---- veldmoor-cli batch, a real process ----

std::string utf8(const std::wstring &w)
{
    std::string s(w.size() * 3 + 1, 0);
    s.resize((size_t)WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, &s[0], (int)s.size(), nullptr, nullptr) - 1);
    return s;
}

std::string in_quotes(const std::wstring &s)
{
    return "\"" + utf8(s) + "\"";
}

CliRun cli(const std::string &args, const std::function<void()> &during = nullptr)
{
    std::wstring w(args.size() + 1, 0);
    w.resize((size_t)MultiByteToWideChar(CP_UTF8, 0, args.c_str(), -1, &w[0], (int)w.size()) - 1);
    return run_cli(w, during);
}

size_t count_lines(const std::string &text, const std::string &part)
{
    size_t n = 0;
    for (size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size()) ++n;
    return n;
}

TEST_F(BatchEngine, CliScansNestedFoldersSkipsLinksAndStopsAt4096)
{
    CreateDirectoryW((dir + L"\\a").c_str(), nullptr);
    CreateDirectoryW((dir + L"\\a\\b").c_str(), nullptr);
    save_png(dir + L"\\a\\b\\deep.png", 8, 8);
    save_png(dir + L"\\top.png", 8, 8);
    write_file_bytes(dir + L"\\a\\notes.txt", "x", 1);
    // A Unix symlink back to the root stands for a junction: it must not be entered.
    using UnixName = char *(CDECL *)(const WCHAR *);
    auto unix_name = (UnixName)(void *)GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name");
    ASSERT_NE(unix_name, nullptr);
    char *unix_name_of_dir = unix_name(dir.c_str());
    std::string unix_dir = unix_name_of_dir;
    HeapFree(GetProcessHeap(), 0, unix_name_of_dir);
    auto run_unix = [](std::string cmd) {
        std::wstring wcmd(cmd.begin(), cmd.end());
        STARTUPINFOW si = {sizeof si};
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessW(nullptr, &wcmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
        WaitForSingleObject(pi.hProcess, 10000);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        return true;
    };
    bool linked = run_unix("Z:\\bin\\ln -s " + unix_dir + " " + unix_dir + "/a/loop");
    CliRun r = cli("batch --scan-only --dir " + in_quotes(dir));
    ASSERT_EQ(r.code, 0u) << r.err;
    EXPECT_EQ(r.out, utf8(dir + L"\\top.png") + "\n" +
                         utf8(dir + L"\\a\\b\\deep.png") + "\n");
    if (linked) {
        EXPECT_TRUE(file_exists(dir + L"\\a\\loop\\top.png"));
        run_unix("Z:\\bin\\rm " + unix_dir + "/a/loop");  // or the folder cannot be cleared
    }

    std::wstring many = dir + L"\\many";
    CreateDirectoryW(many.c_str(), nullptr);
    for (int i = 0; i < 4100; ++i) write_file_bytes(many + L"\\" + std::to_wstring(i) + L".jpg", "", 0);
    r = cli("batch --scan-only --dir " + in_quotes(many));
    EXPECT_EQ(count_lines(r.out, "\n"), 4096u);
}

TEST_F(BatchEngine, CliRunsTheListReportsEachFileAndKeepsExistingOutputs)
{
    std::wstring a = save_png(dir + L"\\a.png", 30, 20), b = save_png(dir + L"\\b.png", 20, 30);
    write_file_bytes(dir + L"\\bad.png", "garbage", 7);
    write_file_bytes(out + L"\\a_转jpg.jpg", "old", 3);
    std::wstring list = dir + L"\\list.txt";
    std::string text = "\xEF\xBB\xBF" + utf8(a) + "\r\n" + utf8(dir + L"\\bad.png") + "\r\n\r\n" + utf8(b) + "\n";
    write_file_bytes(list, text.data(), text.size());
    CliRun r = cli("batch --list " + in_quotes(list) + " --out " + in_quotes(out) + " --convert jpg --quality 60");
    ASSERT_EQ(r.code, 0u) << r.err;
    EXPECT_EQ(r.out, "1\tok\t" + utf8(a) + "\t" + utf8(out + L"\\a_转jpg_1.jpg") + "\n2\tfail\t" +
                         utf8(dir + L"\\bad.png") + "\t「bad.png」不是有效的图片，或者文件已经损坏。  （错误码 0x88982F50）\n" +
                         "3\tok\t" + utf8(b) + "\t" + utf8(out + L"\\b_转jpg.jpg") +
                         "\nwritten=2 partial=0 failed=1 cancelled=0\n");
    EXPECT_EQ(read_file_bytes(out + L"\\a_转jpg.jpg"), std::vector<uint8_t>({'o', 'l', 'd'}));

    a = save_png(dir + L"\\a.png", 100, 100, true);  // too much for 1 KB without shrinking
    r = cli("batch " + in_quotes(a) + " " + in_quotes(a) + " " + in_quotes(a) + " --out " + in_quotes(out) +
            " --compress 1 --no-shrink --cancel-after 2");
    EXPECT_EQ(count_lines(r.out, "\tpartial\t"), 2u) << r.out;
    EXPECT_NE(r.out.find("\nwritten=0 partial=2 failed=0 cancelled=1\n"), std::string::npos) << r.out;

    // A cancel during the last file leaves nothing undone: the run was not cut short.
    r = cli("batch " + in_quotes(b) + " --out " + in_quotes(out) + " --crop width:10 --cancel-after 1");
    EXPECT_NE(r.out.find("\nwritten=1 partial=0 failed=0 cancelled=0\n"), std::string::npos) << r.out;
    // An output "folder" that is a file cannot be created: a set-up error, not files failing one by one.
    r = cli("batch " + in_quotes(b) + " --out " + in_quotes(list) + " --convert png");
    EXPECT_EQ(r.code, 1u);
    EXPECT_EQ(r.err.rfind("无法创建输出文件夹", 0), 0u) << r.err;
}

TEST_F(BatchEngine, CliNeverReplacesAFileCreatedAtTheTargetNameDuringTheRun)
{
    std::wstring src = save_png(dir + L"\\s.png", 64, 48), list = dir + L"\\list.txt";
    std::string lines;
    for (int i = 0; i < 200; ++i) lines += utf8(src) + "\n";
    write_file_bytes(list, lines.data(), lines.size());
    std::wstring late = out + L"\\s_转png_199.png";  // the 200th file's name
    CliRun r = cli("batch --list " + in_quotes(list) + " --out " + in_quotes(out) + " --convert png --workers 1", [&] {
        for (DWORD t0 = GetTickCount(); !file_exists(out + L"\\s_转png.png") && GetTickCount() - t0 < 20000;) Sleep(2);
        write_file_bytes(late, "mine", 4);
    });
    EXPECT_EQ(read_file_bytes(late), std::vector<uint8_t>({'m', 'i', 'n', 'e'}));
    EXPECT_NE(r.out.find("\n200\tok\t" + utf8(src) + "\t" + utf8(out + L"\\s_转png_200.png") + "\n"), std::string::npos)
        << r.out.substr(r.out.size() > 300 ? r.out.size() - 300 : 0);
}

TEST(BatchCli, BadUsageAndSetUpErrorsHaveTheirExitCodes)
{
    EXPECT_EQ(cli("batch --out x").code, 2u);                         // no source
    EXPECT_EQ(cli("batch a.png --dir d --out x --convert png").code, 2u);  // two sources
    EXPECT_EQ(cli("batch a.png --out x --crop ratio:5:4").code, 2u);
    EXPECT_EQ(cli("batch a.png --out x --convert gif").code, 2u);
    EXPECT_EQ(cli("batch a.png --out x --quality 20").code, 2u);
    EXPECT_EQ(cli("batch a.png --out x --frobnicate").code, 2u);
    CliRun r = cli("batch a.png --out x");
    EXPECT_EQ(r.code, 1u);
    EXPECT_EQ(r.err, "请至少勾选一种操作\n");
    r = cli("batch a.png --convert png");
    EXPECT_EQ(r.code, 1u);
    EXPECT_EQ(r.err, "请选择输出文件夹\n");
}

// ---- the dialog, in this process ----

std::vector<std::wstring> g_open_answer;
std::wstring g_folder_answer;
bool g_main_enabled_in_dialog;

BOOL answer_open(OPENFILENAMEW *ofn)
{
    g_main_enabled_in_dialog |= IsWindowEnabled(GetWindow(ofn->hwndOwner, GW_OWNER)) != 0;
    if (g_open_answer.empty()) return FALSE;
    std::wstring block = g_open_answer[0];  // folder, then names, NUL-separated, double NUL at the end
    for (size_t i = 1; i < g_open_answer.size(); ++i) block += L'\0' + g_open_answer[i];
    block += L'\0';
    block += L'\0';
    memcpy(ofn->lpstrFile, block.data(), block.size() * sizeof(WCHAR));
    ofn->nFileOffset = (WORD)(g_open_answer[0].size() + 1);
    return TRUE;
}

PIDLIST_ABSOLUTE answer_folder(BROWSEINFOW *bi)
{
    g_main_enabled_in_dialog |= IsWindowEnabled(GetWindow(bi->hwndOwner, GW_OWNER)) != 0;
    return g_folder_answer.empty() ? nullptr : ILCreateFromPathW(g_folder_answer.c_str());
}

class BatchDialog : public BatchEngine {
protected:
    App app = {};
    HWND dlg = nullptr;
    void SetUp() override
    {
        BatchEngine::SetUp();
        app.instance = GetModuleHandleW(nullptr);
        app.dpi = 96;
        app.hwnd = CreateWindowW(L"STATIC", L"owner", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr,
                                 nullptr, nullptr);
        app.font_text = make_font(96, 9, 400);
        app.font_small = make_font(96, 8, 400);
        app.font_bold = make_font(96, 9, 600);
        modal_set_open_answerer(answer_open);
        modal_set_folder_answerer(answer_folder);
    }
    void TearDown() override
    {
        if (dlg && IsWindow(dlg)) SendMessageW(dlg, WM_CLOSE, 0, 0);
        modal_set_open_answerer(nullptr);
        modal_set_folder_answerer(nullptr);
        DestroyWindow(app.hwnd);
        for (HFONT f : {app.font_text, app.font_small, app.font_bold}) DeleteObject(f);
        BatchEngine::TearDown();
    }
    BatchJob *job() { return (BatchJob *)GetWindowLongPtrW(dlg, GWLP_USERDATA); }
    void click(int id)
    {
        const RECT &r = job()->rc[id];
        if (id < 36 && (r.bottom - job()->scroll_y > job()->view_h || r.top < job()->scroll_y))
            SendMessageW(dlg, WM_VSCROLL, r.top < job()->scroll_y ? SB_TOP : SB_BOTTOM, 0);
        int y = (r.top + r.bottom) / 2 - (id < 36 ? job()->scroll_y : 0);
        SendMessageW(dlg, WM_LBUTTONDOWN, 0, MAKELPARAM((r.left + r.right) / 2, y));
    }
    std::wstring status() { return job()->status; }
    bool scroll_bar_shown() { return (GetWindowLongW(dlg, GWL_STYLE) & WS_VSCROLL) != 0; }
};

TEST_F(BatchDialog, WidthLabelShowsWholeAndNumberFieldsReplaceTheirTextAt96And144Dpi)
{
    for (int dpi : {96, 144}) {
        for (HFONT f : {app.font_text, app.font_small, app.font_bold}) DeleteObject(f);
        app.dpi = dpi;
        app.font_text = make_font(dpi, 9, 400), app.font_small = make_font(dpi, 8, 400);
        app.font_bold = make_font(dpi, 9, 600);
        ASSERT_TRUE(dlg = batch_open(&app));
        if (!job()->crop_on) click(4);
        // Each field after its mode chip: clicked, its number shows selected and typing replaces it.
        for (int id : {17, 15, 16}) {
            click(id == 17 ? 9 : 7);
            click(id);
            Dib shot;
            ASSERT_TRUE(window_shot(dlg, &shot));
            RECT r = job()->rc[id];
            OffsetRect(&r, 0, -job()->scroll_y);
            EXPECT_GT(count_colour(shot, r, 0x0078D7), 20) << dpi << " field " << id << ": no selection shown";
            if (id == 17) {  // the label's ink starts inside the margin and keeps its measured width
                int first = -1, last = -1;
                for (int x = 0; x < r.left; ++x) {
                    RECT column = {x, r.top, x + 1, r.bottom};
                    if (count_colour(shot, column, 0x1E1E22u) == r.bottom - r.top) continue;
                    last = x, first = first < 0 ? x : first;
                }
                SIZE size = {};
                SelectObject(shot.dc, app.font_text);
                GetTextExtentPoint32W(shot.dc, L"宽度（高度按比例）", 9, &size);
                EXPECT_GE(first, MulDiv(20, dpi, 96) - 1) << dpi;
                EXPECT_GE(last - first + 1, size.cx * 8 / 10) << dpi;
            }
            for (char k : {'1', '2', '3', '4'}) SendMessageW(dlg, WM_KEYDOWN, (WPARAM)k, 0);
            int value = id == 17 ? job()->resize_width : id == 15 ? job()->crop_w : job()->crop_h;
            EXPECT_EQ(value, 1234) << dpi << " field " << id;
            ASSERT_TRUE(window_shot(dlg, &shot));
            EXPECT_EQ(count_colour(shot, r, 0x0078D7), 0) << "typing ends the selection";
            dib_free(&shot);
        }
        SendMessageW(dlg, WM_CLOSE, 0, 0);
    }
}

TEST_F(BatchDialog, OpensWithDefaultsAndNoScrollBarThenRemembersSettings)
{
    g_bdef_inited = 0;
    dlg = batch_open(&app);
    ASSERT_TRUE(dlg);
    WCHAR title[64];
    GetWindowTextW(dlg, title, 64);
    EXPECT_STREQ(title, L"批量处理");
    EXPECT_FALSE(scroll_bar_shown());
    EXPECT_FALSE(IsWindowEnabled(app.hwnd));
    EXPECT_EQ(job()->client_w, 600);
    BatchJob *j = job();
    EXPECT_EQ(std::vector<int>({j->crop_on, j->convert_on, j->compress_on, j->format_index, j->quality, j->target_kb,
                                j->crop_w, j->crop_h, j->auto_downscale}),
              std::vector<int>({0, 1, 0, 1, 90, 200, 800, 800, 1}));
    click(36);
    EXPECT_EQ(status(), L"请先添加图片");
    click(4);
    click(6);
    EXPECT_TRUE(scroll_bar_shown());  // the crop and compress sections no longer fit
    click(24);
    click(24);
    EXPECT_EQ(job()->quality, 90);  // PNG: no quality row to click
    click(18);
    click(24);
    click(24);
    EXPECT_EQ(job()->quality, 95);

    // The output field keeps a long path when clicked into and away from.
    std::wstring longdir = L"C:\\" + std::wstring(120, L'x');
    lstrcpynW(job()->out_dir, longdir.c_str(), kPathMax);
    click(33);
    SendMessageW(dlg, WM_CHAR, L'y', 0);
    click(5);
    EXPECT_EQ(std::wstring(job()->out_dir), longdir + L"y");
    SendMessageW(dlg, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(dlg));
    EXPECT_TRUE(IsWindowEnabled(app.hwnd));

    ASSERT_TRUE(dlg = batch_open(&app));
    EXPECT_EQ(job()->file_count, 0);
    EXPECT_EQ(std::vector<int>({job()->crop_on, job()->compress_on, job()->format_index, job()->quality}),
              std::vector<int>({1, 1, 0, 95}));
    EXPECT_EQ(std::wstring(job()->out_dir), longdir + L"y");
    g_bdef_inited = 0;
}

TEST_F(BatchDialog, AddsFilesRunsShowsProgressAndTheResult)
{
    g_bdef_inited = 0;
    save_png(dir + L"\\one.png", 40, 30);
    save_png(dir + L"\\two.png", 30, 40);
    write_file_bytes(dir + L"\\bad.png", "x", 1);
    g_open_answer = {dir, L"one.png", L"bad.png", L"two.png"};
    ASSERT_TRUE(dlg = batch_open(&app));
    click(1);
    EXPECT_EQ(status(), L"已添加，共 3 张图片");
    EXPECT_EQ(std::wstring(job()->out_dir), dir + L"\\批量输出");
    lstrcpynW(job()->out_dir, L"relative\\out", kPathMax);
    click(36);
    EXPECT_FALSE(job()->running);
    EXPECT_NE(status().find(L"完整路径"), std::wstring::npos);
    lstrcpynW(job()->out_dir, out.c_str(), kPathMax);
    click(36);
    EXPECT_TRUE(job()->running);
    std::vector<std::wstring> seen;
    ASSERT_TRUE(pump_until([&] {
        if (seen.empty() || seen.back() != status()) seen.push_back(status());
        return job()->finished != 0;
    }));
    EXPECT_EQ(status(), L"完成：成功 2 张，失败 1 张。");
    EXPECT_NE(std::find(seen.begin(), seen.end(), L"处理中 3 / 3：two.png"), seen.end());
    EXPECT_TRUE(file_exists(out + L"\\one_转png.png"));
    EXPECT_EQ(job()->worker_thread, nullptr);

    // A folder scan appends its pictures after a click on "添加文件夹…" clears the result.
    g_folder_answer = dir;
    click(2);
    ASSERT_TRUE(pump_until([&] { return !job()->scanning; }));
    EXPECT_EQ(job()->file_count, 8);  // three listed, three beside them, two outputs
    EXPECT_FALSE(job()->finished);
    // The main window stayed disabled under the system dialogs, so it could not be closed there.
    EXPECT_FALSE(g_main_enabled_in_dialog);
}

TEST_F(BatchDialog, CancelAndClosingMidRunLeaveWholeFilesOnly)
{
    std::wstring src = save_png(dir + L"\\s.png", 300, 200);
    std::vector<std::wstring> names(1, dir);
    for (int i = 0; i < 40; ++i) names.push_back(L"s.png");
    g_open_answer = names;
    g_bdef_inited = 0;
    ASSERT_TRUE(dlg = batch_open(&app));
    for (int i = 0; i < 6; ++i) click(1);  // 32 paths a time
    EXPECT_EQ(job()->file_count, 192);
    lstrcpynW(job()->out_dir, out.c_str(), kPathMax);
    click(36);
    ASSERT_TRUE(pump_until([&] { return job()->ok_count >= 2; }));
    click(37);
    ASSERT_TRUE(pump_until([&] { return job()->finished != 0; }));
    EXPECT_EQ(status().rfind(L"已取消。成功 ", 0), 0u) << status();
    EXPECT_LT(job()->ok_count, 192);

    click(3);  // back to idle, then a run closed half-way
    EXPECT_EQ(status(), L"列表已清空");
    for (int i = 0; i < 6; ++i) click(1);
    click(36);
    ASSERT_TRUE(pump_until([&] { return job()->ok_count >= 2; }));
    SendMessageW(dlg, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(dlg));
    EXPECT_TRUE(tmp_files(out).empty());
    std::vector<std::wstring> outputs;
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW((out + L"\\*.png").c_str(), &fd);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    do outputs.push_back(out + L"\\" + fd.cFileName); while (FindNextFileW(find, &fd));
    FindClose(find);
    for (const std::wstring &o : outputs) EXPECT_EQ(facts(o).w, 300u) << utf8(o);

    // Closing the main window takes the dialog down too: the run is stopped before the record goes.
    ASSERT_TRUE(dlg = batch_open(&app));
    for (int i = 0; i < 6; ++i) click(1);
    click(36);
    ASSERT_TRUE(pump_until([&] { return job()->ok_count >= 1; }));
    EnableWindow(app.hwnd, TRUE);
    DestroyWindow(app.hwnd);
    EXPECT_FALSE(IsWindow(dlg));
    EXPECT_TRUE(tmp_files(out).empty());
    pump_until([] { return false; }, 50);  // late thread messages must find no dialog
}

}  // namespace
