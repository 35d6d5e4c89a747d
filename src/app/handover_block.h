// The block a second instance sends the running one: a header, one offset per
// path, then the NUL-terminated UTF-16 paths. Free of Windows headers so the
// parser also builds natively for fuzzing; handover.cpp sends and receives it.
#pragma once
#include <cstdint>

#ifdef _WIN32
typedef wchar_t HandoverChar;  // WCHAR
#else
typedef char16_t HandoverChar;
#endif

constexpr uint32_t kHandoverMagic = 0x524D4456;  // "VDMR"
constexpr uint32_t kHandoverVersion = 1;

// Lays out count paths (1..max_paths) in a new block (malloc); returns 0 and
// leaves *block null when there is nothing to send or no memory.
int handover_block_build(const HandoverChar *const *paths, int count, int max_paths, uint8_t **block, uint32_t *size);
// Copies the block's paths into out, max_paths rows of path_max characters
// (longer paths are cut); returns how many, 0 for a block not to be trusted.
int handover_block_parse(const void *block, uint32_t size, HandoverChar *out, int max_paths, int path_max);
