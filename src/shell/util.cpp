#include "shell/util.h"
#include <cwchar>

void util_set_title(App *app)
{
    WCHAR title[320];
    if (app->file_name[0])
        _snwprintf(title, 319, L"%s - %s", app->file_name, kAppName);
    else
        _snwprintf(title, 319, L"%s", kAppName);
    title[319] = 0;
    if (app->hwnd) SetWindowTextW(app->hwnd, title);
}
