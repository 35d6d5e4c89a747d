// Helpers shared by the test programs.
#pragma once
#include <windows.h>
#include <string>
#include <vector>
#include <cstdint>
#include "image/image.h"

// Absolute Windows path of a file under ../shared/testdata.
std::wstring testdata_path(const wchar_t *relative);
// A fresh, empty folder under the system temp folder; removed by temp_dir_remove.
std::wstring temp_dir_create(const wchar_t *tag);
void temp_dir_remove(const std::wstring &dir);
bool write_file_bytes(const std::wstring &path, const void *data, size_t size);
std::vector<uint8_t> read_file_bytes(const std::wstring &path);
bool file_exists(const std::wstring &path);
// A picture with a smooth gradient and, if wanted, varying alpha.
Image *make_gradient(uint32_t w, uint32_t h, bool with_alpha);
