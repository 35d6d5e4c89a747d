// HEVC decoding for libheif through libde265, as libheif's own decoder does it, but
// with a large picture's rows decoded on every core: libheif's gives each picture one
// worker thread.
#pragma once
#include <cstddef>

// Makes libheif choose this decoder for HEVC; safe to call from any thread, any
// number of times, before each use of libheif.
void heif_de265_register();
// libde265 worker threads for a bitstream of this many bytes: one for grid tiles and
// small pictures, which the tile decoding already spreads over the cores.
int heif_de265_threads(size_t bitstream_bytes);
