// Declared picture sizes read from file headers, so that a picture too big to
// hold, or a header built to overflow a decoder, is refused before any decoder runs.
// Free of Windows headers: the fuzz targets build it natively.
#pragma once
#include <cstddef>
#include <cstdint>

enum ProbeFormat { kProbeUnknown, kProbeJpeg, kProbePng, kProbeGif, kProbeBmp, kProbeTiff, kProbeWebp, kProbeIco,
                   kProbeHeif };

enum ProbeVerdict {
    kProbeFine,      // nothing known against it (also: unreadable or unknown content)
    kProbeTooLarge,  // declares more pixels than an Image may hold; width/height say how many
    kProbeDamaged,   // a header no decoder should be handed
};

struct ProbeResult {
    ProbeFormat format;  // by content, not by extension
    ProbeVerdict verdict;
    uint32_t width;  // declared size of the first frame; 0 when not found
    uint32_t height;
};

// Bytes of a file of known size. read fills up to n bytes from offset, sets
// *got to how many it read (fewer near the end) and returns false on a read error.
struct ProbeSource {
    void *context;
    uint64_t size;
    bool (*read)(void *context, uint64_t offset, uint8_t *out, size_t n, size_t *got);
};

// Reads only headers (a few KB at most, IFD entries and GIF block chains included).
ProbeResult codec_probe_source(const ProbeSource *source);
// The same on bytes already in memory.
ProbeResult codec_probe_bytes(const uint8_t *data, size_t size);
