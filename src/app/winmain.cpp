#include "app/app.h"

int app_main(HINSTANCE instance);

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    return app_main(instance);
}
