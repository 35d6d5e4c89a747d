#include "shell/modal.h"

static ModalAnswerFn g_modal_answerer;
static ModalFileFn g_open_answerer, g_save_answerer;
static ModalPrintFn g_print_answerer;
static ModalFolderFn g_folder_answerer;
static ModalMenuFn g_menu_answerer;
static int g_modal_depth;

void modal_enter() { ++g_modal_depth; }
void modal_leave() { if (g_modal_depth > 0) --g_modal_depth; }
int modal_depth() { return g_modal_depth; }

namespace {
struct ModalScope {
    ModalScope() { modal_enter(); }
    ~ModalScope() { modal_leave(); }
};
}

int modal_message_box(HWND owner, const WCHAR *text, const WCHAR *caption, UINT flags)
{
    ModalScope scope;
    if (g_modal_answerer) return g_modal_answerer(owner, text, caption, flags);
    return MessageBoxW(owner, text, caption, flags);
}

BOOL modal_open_file(OPENFILENAMEW *ofn)
{
    ModalScope scope;
    return g_open_answerer ? g_open_answerer(ofn) : GetOpenFileNameW(ofn);
}

BOOL modal_save_file(OPENFILENAMEW *ofn)
{
    ModalScope scope;
    return g_save_answerer ? g_save_answerer(ofn) : GetSaveFileNameW(ofn);
}

BOOL modal_print_dialog(PRINTDLGW *pd)
{
    ModalScope scope;
    return g_print_answerer ? g_print_answerer(pd) : PrintDlgW(pd);
}

PIDLIST_ABSOLUTE modal_browse_folder(BROWSEINFOW *bi)
{
    ModalScope scope;
    return g_folder_answerer ? g_folder_answerer(bi) : SHBrowseForFolderW(bi);
}

int modal_track_menu(HMENU menu, UINT flags, int x, int y, HWND owner)
{
    ModalScope scope;
    if (g_menu_answerer) return g_menu_answerer(menu, flags, x, y, owner);
    return (int)TrackPopupMenu(menu, flags | TPM_RETURNCMD, x, y, 0, owner, nullptr);
}

void modal_set_answerer(ModalAnswerFn fn) { g_modal_answerer = fn; }
void modal_set_open_answerer(ModalFileFn fn) { g_open_answerer = fn; }
void modal_set_save_answerer(ModalFileFn fn) { g_save_answerer = fn; }
void modal_set_print_answerer(ModalPrintFn fn) { g_print_answerer = fn; }
void modal_set_folder_answerer(ModalFolderFn fn) { g_folder_answerer = fn; }
void modal_set_menu_answerer(ModalMenuFn fn) { g_menu_answerer = fn; }
