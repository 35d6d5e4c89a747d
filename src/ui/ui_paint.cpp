#include "ui/ui.h"
#include "crop/panel.h"
#include "ui/icons.h"
#include "view/canvas.h"

static constexpr COLORREF kColorBackground = RGB(26, 26, 29);

void ui_paint(App *app, HDC dc)
{
    RECT rc = {0, 0, app->client_w, app->client_h};
    HBRUSH bg = CreateSolidBrush(kColorBackground);
    FillRect(dc, &rc, bg);
    DeleteObject(bg);
    canvas_paint(app, dc);
    panel_paint(app, dc);
}
