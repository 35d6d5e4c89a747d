// The header probe on a file by path; the probe itself is in codec_probe_core.
#pragma once
#include <windows.h>
#include "codec/codec_probe_core.h"

ProbeResult codec_probe_file(const WCHAR *path);
