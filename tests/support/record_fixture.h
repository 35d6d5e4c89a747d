// A test over the application record without a window: GDI+ started, the
// record zeroed as at start-up, and everything it owns released afterwards.
#pragma once
#include <gtest/gtest.h>
#include "app/app.h"
#include "ui/ui.h"
#include <gdiplus.h>

inline App g_test_record;  // static storage: the record is too large for a test's stack

class RecordTest : public ::testing::Test {
protected:
    App *app = &g_test_record;
    void SetUp() override
    {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&g_gdipToken, &input, nullptr), Gdiplus::Ok);
        app_init_record(app, GetModuleHandleW(nullptr));
    }
    void TearDown() override
    {
        app_release_picture(app);
        ui_destroy(app);
        Gdiplus::GdiplusShutdown(g_gdipToken);
    }
};
