// Temporary files beside a save's target, named so that one left behind by a save
// that was killed can be told apart from anybody else's files and cleared later.
#pragma once
#include <windows.h>

// Creates a new, empty temporary file of ours in folder; its path goes into temp
// (cap characters). Returns S_OK or a failure HRESULT.
HRESULT codec_temp_create(const WCHAR *folder, WCHAR *temp, int cap);
// Removes our own temporary files in folder that were last written over an hour ago:
// no save takes that long, so they were left by one that was killed.
void codec_temp_sweep(const WCHAR *folder);
