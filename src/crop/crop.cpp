#include "crop/crop.h"

// The selection itself comes with the crop tool; until then there is none to clear or draw.
void crop_clear(App *app) {}
void crop_paint(App *app, HDC dc) {}
