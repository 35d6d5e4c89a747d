// The popup menus of the main window: built from row tables, shown through the
// modal seam, destroyed before the chosen command runs.
#include "app/commands.h"
#include "app/nav.h"
#include "shell/assoc.h"
#include "shell/modal.h"
#include "ui/ui.h"
#include <iterator>

namespace {

struct MenuRow {
    int id;  // 0: separator
    const WCHAR *text;
    bool grey;
};

struct MenuGuard {
    HMENU menu;
    ~MenuGuard()
    {
        if (menu) DestroyMenu(menu);
    }
};

constexpr MenuRow kSep = {0, nullptr, false};

HMENU build_menu(const MenuRow *rows, size_t n)
{
    HMENU menu = CreatePopupMenu();
    if (!menu) return nullptr;
    for (size_t i = 0; i < n; ++i) {
        if (!rows[i].id)
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        else
            AppendMenuW(menu, MF_STRING | (rows[i].grey ? MF_GRAYED : 0), (UINT_PTR)rows[i].id, rows[i].text);
    }
    return menu;
}

// Shows the rows at a client or screen point; the menu is gone when this returns.
template <size_t N>
int track_rows(App *app, const MenuRow (&rows)[N], UINT flags, POINT screen)
{
    MenuGuard guard = {build_menu(rows, N)};
    if (!guard.menu) return 0;
    return modal_track_menu(guard.menu, flags | TPM_RETURNCMD, screen.x, screen.y, app->hwnd);
}

POINT to_screen(const App *app, int x, int y)
{
    POINT p = {x, y};
    if (app->hwnd) ClientToScreen(app->hwnd, &p);
    return p;
}

void run_choice(App *app, int id)
{
    if (id > 0) app_command(app, id);
}

const WCHAR *crop_item_text(const App *app)
{
    return app->crop_mode == 1 ? L"退出裁剪\tEsc" : L"裁剪 / 缩放…";
}

const WCHAR *play_item_text(const App *app)
{
    return app->playing ? L"停止播放\t空格" : L"幻灯片播放\t空格";
}

}  // namespace

int popup_under_btn(App *app, HMENU menu, int button_id)
{
    MenuGuard guard = {menu};
    if (!menu) return 0;
    int x = ui_scale(app, 8);
    for (int i = 0; i < app->button_count; ++i)
        if (app->buttons[i].cmd == button_id && app->buttons[i].x >= 0) x = app->buttons[i].x;
    POINT p = to_screen(app, x, app->rc_top.bottom);
    return modal_track_menu(menu, TPM_RETURNCMD, p.x, p.y, app->hwnd);
}

void app_show_convert_menu(App *app)
{
    bool grey = !app->image;
    MenuRow rows[] = {{100, kFmtName[0], grey}, {101, kFmtName[1], grey}, {102, kFmtName[2], grey},
                      {103, kFmtName[3], grey}, {104, kFmtName[4], grey}, kSep,
                      {110, L"复制图片到剪贴板\tCtrl+C", grey}, {111, L"向左旋转 90°", grey},
                      {112, L"向右旋转 90°", grey}, kSep, {113, L"裁剪 / 缩放…", grey}};
    run_choice(app, popup_under_btn(app, build_menu(rows, std::size(rows)), 7));
}

void app_show_compress_menu(App *app)
{
    bool grey = !app->image;
    MenuRow rows[] = {{120, kZipName[0], grey}, {121, kZipName[1], grey}, {122, kZipName[2], grey},
                      {123, kZipName[3], grey}, {124, kZipName[4], grey}, {125, kZipName[5], grey},
                      kSep, {130, L"自定义体积与格式…", grey}};
    run_choice(app, popup_under_btn(app, build_menu(rows, std::size(rows)), 8));
}

void app_show_main_menu(App *app)
{
    bool busy = !app->image || app->crop_mode == 1;
    bool single = app->queue.count <= 1;
    bool installed = assoc_is_installed() != 0;
    MenuRow rows[] = {{1, L"打开图片…\tCtrl+O", false},
                      {2, L"打印…", busy},
                      {3, L"复制图片到剪贴板\tCtrl+C", busy},
                      {4, L"删除到回收站\tDelete", busy},
                      kSep,
                      {111, L"向左旋转 90°", busy},
                      {112, L"向右旋转 90°", busy},
                      {9, crop_item_text(app), !app->image},
                      kSep,
                      {51, L"适应窗口\t0", false},
                      {52, L"实际大小\t1", false},
                      {57, L"全屏\tF11", false},
                      kSep,
                      {26, L"上一张\t←", single},
                      {27, L"下一张\t→", single},
                      {28, play_item_text(app), single},
                      kSep,
                      {installed ? 141 : 140,
                       installed ? L"从「打开方式」列表里移除本程序" : L"把本程序加进「打开方式」列表", false},
                      {142, L"设为默认看图工具（打开系统设置）…", false},
                      kSep,
                      {6, L"关于 Veldmoor", false}};
    run_choice(app, track_rows(app, rows, 0, to_screen(app, app->client_w - 200, app->rc_top.bottom)));
}

void app_show_zoom_menu(App *app)
{
    MenuRow rows[] = {{51, L"适应窗口\t0", false}, {52, L"实际大小 100%\t1", false}, kSep,
                      {53, L"放大\t+", false},     {54, L"缩小\t-", false},           kSep,
                      {26, L"上一张\t←", false},   {27, L"下一张\t→", false},         {28, play_item_text(app), false},
                      kSep,                        {57, L"全屏\tF11", false}};
    RECT z = ui_zoom_box(app);
    run_choice(app, track_rows(app, rows, TPM_BOTTOMALIGN, to_screen(app, (z.left + z.right) / 2, z.top)));
}

void app_show_thumb_menu(App *app, int index, POINT screen)
{
    static constexpr int kThumbDelete = 990;  // below the thumbnails' 1000 + index; no other command has it
    bool single = app->queue.count < 2;
    MenuRow rows[] = {{1000 + index, index == app->queue_index ? L"✓ 正在看这一张" : L"查看这一张", false},
                      kSep,
                      {26, L"上一张\t←", single},
                      {27, L"下一张\t→", single},
                      kSep,
                      {kThumbDelete, L"删除这一张到回收站\tDelete", false}};
    // The menu's delete is for the slot's own picture, which need not be the one on screen.
    int choice = track_rows(app, rows, TPM_RIGHTBUTTON, screen);
    if (choice == kThumbDelete)
        nav_delete_entry(app, index);
    else
        run_choice(app, choice);
}

void app_show_canvas_menu(App *app, POINT screen)
{
    bool busy = !app->image || app->crop_mode == 1;
    bool single = app->queue.count < 2;
    MenuRow rows[] = {{1, L"打开图片…\tCtrl+O", false},
                      kSep,
                      {7, L"转换格式…", busy},
                      {8, L"压缩到指定体积…", busy},
                      {9, crop_item_text(app), !app->image},
                      kSep,
                      {3, L"复制到剪贴板\tCtrl+C", busy},
                      {4, L"删除到回收站\tDelete", busy},
                      kSep,
                      {53, L"放大\t+", false},
                      {54, L"缩小\t-", false},
                      {51, L"适应窗口\t0", false},
                      {52, L"实际大小\t1", false},
                      {57, L"全屏\tF11", false},
                      kSep,
                      {56, L"上一张\t←", single},
                      {55, L"下一张\t→", single}};
    run_choice(app, track_rows(app, rows, TPM_RIGHTBUTTON, screen));
}
