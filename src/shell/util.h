// Shell utilities: the window title.
#pragma once
#include "app/app.h"

void util_set_title(App *app);
