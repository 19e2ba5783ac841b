// Gzip files written as independent members, compressed on several threads at once.
#pragma once

#include <stddef.h>

#include "kz_alloc.h"

// Input bytes per member. Each member starts without the previous one's history, which costs
// a few hundred bytes of output per member on text; 8 MiB keeps that well under 0.1%.
inline constexpr size_t kKzMemberSize = size_t{8} << 20;
// libdeflate level 7 gives files no larger than zlib's default level (level 6 gives about 2%
// more), and the threads give back the speed it costs (bench/kazlib_bench.cpp).
inline constexpr int kKzMemberLevel = 7;
// One save should not take every core of a large server from the other requests.
inline constexpr size_t kKzMaxMemberThreads = 8;

// A file of several members names its whole size in an extra field of its first header
// (subfield 'K' 'z', 8 bytes little-endian), since each member's trailer records only its own.
inline constexpr unsigned char kKzSizeFieldId[2] = {'K', 'z'};
inline constexpr size_t kKzSizeFieldBytes = 8;

// The threads a large file is compressed on: the cores of the machine, at most
// kKzMaxMemberThreads.
KAZLIB_HIDDEN size_t kz_member_threads();

// Compresses size bytes at data (not null) into a gzip file of one member per kKzMemberSize
// input bytes, on up to threads threads (the caller's included). The output does not depend on
// threads. Fails when the input or output passes the output limit or memory runs out.
KAZLIB_HIDDEN bool kz_compress_gzip_members(const char* data, size_t size, size_t threads,
                                            KzBlock* out, size_t* out_size);
