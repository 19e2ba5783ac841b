// Whole-file reads and writes for KaZlib through the platform's file API, so paths are narrow
// paths of the platform's namespace.
#pragma once

#include <stddef.h>

#include "kz_alloc.h"

// Reads the whole file at path. On success *out holds *out_size bytes; fails when the file
// cannot be opened or read, or holds more than max_size bytes.
KAZLIB_HIDDEN bool kz_read_file(const char* path, size_t max_size, KzBlock* out, size_t* out_size);

// Creates or replaces the file at path with size bytes at data. A failed write or close
// deletes the file, so no partial file is left.
KAZLIB_HIDDEN bool kz_write_file(const char* path, const char* data, size_t size);
