// HEVC decoding for libheif through libde265, as libheif's own decoder does it, but
// with a large picture's rows decoded on every core: libheif's gives every picture,
// grid tiles included, one worker thread.
#pragma once

// Makes libheif choose this decoder for HEVC; safe to call from any thread, any
// number of times, before each use of libheif.
void heif_de265_register();
