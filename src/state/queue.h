// A growable list of picture paths: one block of text, entries in natural
// name order, duplicates found without regard to case through a hash table.
// A zeroed record is an empty queue; everything is on the general heap.
#pragma once
#include <windows.h>
#include <cstdint>

struct QueueEntry {
    uint32_t offset;  // first unit of the path in the text block
    uint16_t length;  // units, without the terminator
    uint16_t name;    // units from the path's start to its file-name part
};

struct FileQueue {
    WCHAR *text;        // paths, each NUL-terminated
    size_t text_used, text_cap;
    QueueEntry *entries;
    int32_t count, cap;
    int32_t *slots;     // hash table of entry index + 1, 0 for empty; power of two
    uint32_t slot_cap;
    size_t garbage;     // units of removed paths still in the text block
};

// Longest path an entry may hold, so that it always fits a kPathMax buffer.
constexpr int kQueuePathMax = 259;

void queue_clear(FileQueue *q);
void queue_free(FileQueue *q);
// Index of the entry equal to path without regard to case, -1 when none.
int queue_find(const FileQueue *q, const WCHAR *path);
// Appends path unless an equal entry exists; its index, or -1 for an empty path, one
// longer than kQueuePathMax units (never cut: a cut name could be another file's) or no memory.
int queue_add(FileQueue *q, const WCHAR *path);
// Takes entry index out; later entries move up by one.
void queue_remove(FileQueue *q, int index);
// Sorts by natural file-name order (ties by full path, so the order is stable across runs).
void queue_sort(FileQueue *q);
const WCHAR *queue_path(const FileQueue *q, int index);
const WCHAR *queue_name(const FileQueue *q, int index);
// Moves the entries of src to dst (dst's old entries are freed); src ends empty.
void queue_move(FileQueue *dst, FileQueue *src);
// Natural order of two file names: digit runs by value, other units by code.
int queue_name_cmp(const WCHAR *a, const WCHAR *b);
// Bytes the queue holds on the heap.
size_t queue_bytes(const FileQueue *q);
// Adds path at its place in natural order (the queue being sorted); its index, or -1 as
// queue_add. An existing entry is not moved.
int queue_insert_sorted(FileQueue *q, const WCHAR *path);
