// Every modal platform window (message boxes, file, print and folder dialogs,
// popup menus) opens through here, so that tests can answer it instead of a
// person, and so that timers can tell that a modal loop is running.
#pragma once
#include <windows.h>
#include <commdlg.h>
#include <shlobj.h>

using ModalAnswerFn = int (*)(HWND owner, const WCHAR *text, const WCHAR *caption, UINT flags);
using ModalFileFn = BOOL (*)(OPENFILENAMEW *ofn);
using ModalPrintFn = BOOL (*)(PRINTDLGW *pd);
using ModalFolderFn = PIDLIST_ABSOLUTE (*)(BROWSEINFOW *bi);
// Returns the chosen command id, 0 when dismissed (TrackPopupMenu with TPM_RETURNCMD).
using ModalMenuFn = int (*)(HMENU menu, UINT flags, int x, int y, HWND owner);

int modal_message_box(HWND owner, const WCHAR *text, const WCHAR *caption, UINT flags);
BOOL modal_open_file(OPENFILENAMEW *ofn);
BOOL modal_save_file(OPENFILENAMEW *ofn);
BOOL modal_print_dialog(PRINTDLGW *pd);
PIDLIST_ABSOLUTE modal_browse_folder(BROWSEINFOW *bi);
int modal_track_menu(HMENU menu, UINT flags, int x, int y, HWND owner);

// Tests install answerers; null restores the real windows.
void modal_set_answerer(ModalAnswerFn fn);
void modal_set_open_answerer(ModalFileFn fn);
void modal_set_save_answerer(ModalFileFn fn);
void modal_set_print_answerer(ModalPrintFn fn);
void modal_set_folder_answerer(ModalFolderFn fn);
void modal_set_menu_answerer(ModalMenuFn fn);

// Nesting depth of modal loops on the UI thread (the calls above, and the
// program's own modal dialogs, which bracket their loops with enter/leave).
void modal_enter();
void modal_leave();
int modal_depth();
