// The open dialog's multi-selection list (folder, NUL, names, NUL NUL) turned
// into whole paths. Free of Windows headers so it also builds natively for
// fuzzing; joining a folder and a name is the shell's and comes as a callback.
#pragma once

#ifdef _WIN32
typedef wchar_t PathChar;  // WCHAR
#else
typedef char16_t PathChar;
#endif

// Writes folder + name as one path into out (path_max units); false when it does not fit.
typedef bool (*PathJoin)(PathChar *out, const PathChar *folder, const PathChar *name);

// Joins the folder and the names of a multi-selection into whole path_max-unit
// slots at the start of buffer (at most max_paths). Only slots that fit inside
// capacity are kept, and the names are never read past capacity. A selection of
// one file (no NUL before name_offset) stays as it is. Returns the paths.
int multi_select_collect(PathChar *buffer, int capacity, int name_offset, int max_paths, int path_max, PathJoin join);
