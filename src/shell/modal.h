// Every modal platform window (message boxes, file dialogs) opens through here,
// so that tests can answer it instead of a person.
#pragma once
#include <windows.h>

using ModalAnswerFn = int (*)(HWND owner, const WCHAR *text, const WCHAR *caption, UINT flags);

int modal_message_box(HWND owner, const WCHAR *text, const WCHAR *caption, UINT flags);
// Tests install an answerer; null restores the real dialogs.
void modal_set_answerer(ModalAnswerFn fn);
