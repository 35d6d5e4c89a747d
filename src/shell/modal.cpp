#include "shell/modal.h"

static ModalAnswerFn g_modal_answerer;

int modal_message_box(HWND owner, const WCHAR *text, const WCHAR *caption, UINT flags)
{
    if (g_modal_answerer)
        return g_modal_answerer(owner, text, caption, flags);
    return MessageBoxW(owner, text, caption, flags);
}

void modal_set_answerer(ModalAnswerFn fn)
{
    g_modal_answerer = fn;
}
