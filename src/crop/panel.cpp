#include "crop/panel.h"

// The panel's items come with the crop tool; until then it is empty and never hit.
void panel_rebuild(App *app) {}
void panel_layout(App *app) {}
void panel_paint(App *app, HDC dc) {}
int panel_hit(App *app, int x, int y) { return -1; }
int panel_hit_btn(App *app, int item, int x, int y) { return -1; }
