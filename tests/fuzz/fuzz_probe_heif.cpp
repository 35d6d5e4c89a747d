// The HEIF/AVIF box reader on any bytes, as the start of a file of that size or
// of a larger one (the probe then looks for the meta box further on).
#include "codec/probe_heif.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    codec_probe_heif_brand(data, size);
    codec_probe_heif(data, size, size);
    if (size) codec_probe_heif(data, size, size + 1 + (uint64_t)data[0] * 4096);
    return 0;
}
