#pragma once
// Whole-file compression and extraction over the block container format.

// Compresses the file `in` into the file `out`. Returns the size in bytes of
// the compressed file. Throws Exception on every failure.
unsigned packFile(const char* in, const char* out);

// Extracts the compressed file `in` into the file `out`. Throws Exception on
// every failure, corrupt input included.
void unpackFile(const char* in, const char* out);
