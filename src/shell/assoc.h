// Open-with registration for the picture extensions, per user, never as the default handler.
#pragma once
#include <windows.h>

static constexpr const WCHAR *kAssocExt[] = {L"jpg", L"jpeg", L"jpe", L"png", L"bmp",
                                             L"gif", L"tif", L"tiff", L"webp"};

int reg_set(const WCHAR *sub_key, const WCHAR *value_name, const WCHAR *text);
int assoc_install();
int assoc_remove();
int assoc_is_installed();
void assoc_open_default_apps();
