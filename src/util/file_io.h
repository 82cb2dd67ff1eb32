#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Open files by the platform's own calls: UTF-8 paths, 64-bit positions, and reads and writes
// at a position that leave the stream's own position alone. Failures leave errno set.
namespace orbv {

// fopen's modes; a path that cannot name a file (not UTF-8, say) opens nothing.
FILE* open_file(const char* path, const char* mode);
bool is_directory(FILE* stream);
// Bytes read before the file ended or an error came (errno tells which: 0 at the end).
size_t read_some_at(FILE* stream, uint8_t* buffer, size_t n, int64_t offset);
bool write_all_at(FILE* stream, const uint8_t* data, size_t n, int64_t offset);
// -1 when unknown.
int64_t stream_size(FILE* stream);
bool sync_stream(FILE* stream);
bool truncate_stream(FILE* stream, int64_t size);
// Holds the stream for one thread, so that a line goes out whole.
void lock_stream(FILE* stream);
void unlock_stream(FILE* stream);

}  // namespace orbv
