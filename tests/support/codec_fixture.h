// A test with COM on this thread, the codecs shut down afterwards, and a fresh
// folder for the files it writes.
#pragma once
#include <gtest/gtest.h>
#include "codec/codec.h"
#include "support/test_support.h"

class CodecFolderTest : public ::testing::Test {
protected:
    explicit CodecFolderTest(const wchar_t *tag) : tag_(tag) {}
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        dir_ = temp_dir_create(tag_);
    }
    void TearDown() override
    {
        temp_dir_remove(dir_);
        codec_shutdown();
        CoUninitialize();
    }
    std::wstring file(const wchar_t *name) const { return dir_ + L"\\" + name; }

    std::wstring dir_;

private:
    const wchar_t *tag_;
};
