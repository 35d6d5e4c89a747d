// A worker thread that decodes the pictures the window wants next (thumbnails
// or whole pictures) and hands each one over with a message. The window replaces
// the wanted list whenever its needs change; work no longer wanted is dropped.
#pragma once
#include <windows.h>
#include "image/image.h"
#include "image/pyramid.h"

constexpr int kDecoderWantMax = 64;

// lParam of the worker's message: freed by the receiver with decoded_free.
struct Decoded {
    uint32_t generation;
    uint64_t stamp;   // the file's stamp when decoding began
    Image *image;     // null when decoding failed
    ImagePyramid copies;  // whole pictures: their reduced copies, made on the worker too
    WCHAR path[260];
};
void decoded_free(Decoded *d);

struct Decoder;
// max_side 0 decodes whole pictures, otherwise thumbnails of that size. Null when no thread starts.
Decoder *decoder_start(HWND hwnd, UINT msg, uint32_t max_side);
// Replaces the wanted list, first wanted first; a picture being decoded that is no
// longer wanted is discarded when it is done.
void decoder_want(Decoder *d, const WCHAR *const *paths, int n, uint32_t generation);
// Whole pictures larger than box_w x box_h also come fitted into it (opaque ones); 0 x 0 stops that.
void decoder_set_fit(Decoder *d, int box_w, int box_h);
// 1 while path is being decoded or waits in the list.
int decoder_busy_with(Decoder *d, const WCHAR *path);
// Waits up to ms for the picture being decoded to be posted when it is path; 1 when it was.
int decoder_wait_for(Decoder *d, const WCHAR *path, DWORD ms);
// Stops the thread and frees the worker.
void decoder_stop(Decoder *d);
