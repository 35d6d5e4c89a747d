// The undo copy, made only when a picture is first edited: most pictures are
// only looked at, and copying a big photo at load costs as much as decoding it.
#include "state/app_state.h"

int app_prepare_edit(App *app)
{
    if (!app || !app->image) return 0;
    if (app->undo_pending) {
        app->undo_pending = 0;
        app->undo_image = image_clone(app->image);  // a failed copy leaves nothing to undo
    }
    return app->undo_image ? 1 : 0;
}

const Image *app_loaded_picture(const App *app)
{
    if (!app || !app->image) return nullptr;
    if (app->undo_image) return app->undo_image;
    return app->undo_pending ? app->image : nullptr;
}

int app_picture_unedited(const App *app)
{
    return app && app->image && app_loaded_picture(app) == app->image ? 1 : 0;
}
