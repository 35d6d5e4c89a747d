// libjpeg set up as the program sets it up: an error is a jump back, warnings are counted.
#pragma once
#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>

struct FuzzJpegError {
    jpeg_error_mgr mgr;
    jmp_buf jump;
    long warnings;
};

inline void fuzz_jpeg_error_exit(j_common_ptr cinfo)
{
    longjmp(((FuzzJpegError *)cinfo->err)->jump, 1);
}

inline void fuzz_jpeg_emit(j_common_ptr cinfo, int level)
{
    if (level < 0) ((FuzzJpegError *)cinfo->err)->warnings++;
}

inline void fuzz_jpeg_error_init(FuzzJpegError *err)
{
    jpeg_std_error(&err->mgr);
    err->mgr.error_exit = fuzz_jpeg_error_exit;
    err->mgr.emit_message = fuzz_jpeg_emit;
    err->warnings = 0;
}
