// String and byte-buffer functions of KaMsUtil: library blocks (allocation, release), searches,
// substrings, joining, trimming, case changes, fields, tag extraction and replacement.
//
// Every block these functions hand out is zero-filled when allocated and one byte longer than
// its characters or data, so a zero byte always follows the data. The caller owns it and
// releases it with kaFreeString, and with nothing else. A string is "non-empty" when its
// pointer is not null and its first byte is not zero. A character is one byte: code page 949
// text passes through as bytes.
#pragma once

#include "KaMsUtilApi.h"

// --- Allocation and tests ---------------------------------------------------------------

// A new zero-filled block of n + 1 bytes; null when the allocator fails.
KAMSUTIL_FUNC char* kaNewString(unsigned int n);

// Releases *pp and sets it to null. A null pointer (or null pp) is left alone; the library
// empty string is never released, only forgotten.
KAMSUTIL_FUNC void kaFreeString(char** pp);

// A new block holding a copy of s; null when s is null or empty, or when the allocator fails.
KAMSUTIL_FUNC char* kaStringDup(const char* s);

// A new zero-filled block of n + 1 bytes holding the first n bytes of buf (zero bytes
// included); null when the allocator fails. A null buf gives n zero bytes.
KAMSUTIL_FUNC char* kaDataDup(const void* buf, unsigned int n);

// s itself, or the library empty string when s is null. The empty string is shared and read-only.
KAMSUTIL_FUNC const char* kaSafeString(const char* s);

// 0 when s is not non-empty; otherwise the number of bytes before the first zero byte.
KAMSUTIL_FUNC int kaStringLen(const char* s);

// -1 when s is non-empty (has content); 0 when s is null or empty.
KAMSUTIL_FUNC int kaIsEmptyString(const char* s);

// --- Searching ------------------------------------------------------------------------------

// Offset of the first occurrence of sub in s, or -1. -1 when s is not non-empty; an empty or
// null sub is found at 0 of any non-empty s.
KAMSUTIL_FUNC int kaFindString(const char* s, const char* sub);

// Offset of the last byte of s equal to ch, or -1; -1 when s is not non-empty. A zero ch gives
// the length of s.
KAMSUTIL_FUNC int kaReverseFindStr(const char* s, char ch);

// Offset of the first match of the zero-terminated pattern in buf that starts within the first
// len bytes; 0 for an empty pattern; -1 when len < 1 or nothing matches. A match may run past
// len: the comparison ends at a mismatch, at a zero byte of buf (no match) or at the end of the
// pattern, so buf must be followed by a zero byte (every library block is).
KAMSUTIL_FUNC int kaFindData(const void* buf, int len, const char* pattern);

// --- Substrings (new blocks; null only when the allocator fails) ----------------------------

// count bytes of s from offset first, both clamped to the text (negatives count as 0).
KAMSUTIL_FUNC char* kaMidString2(const char* s, int first, int count);
// The tail of s from offset first.
KAMSUTIL_FUNC char* kaMidString(const char* s, int first);
// The first count bytes of s; a negative count gives the empty string.
KAMSUTIL_FUNC char* kaLeftString(const char* s, int count);
// The last count bytes of s; a negative count counts as 0.
KAMSUTIL_FUNC char* kaRightString(const char* s, int count);

// --- Joining (*dst is a library block, the library empty string or null) --------------------
// Each makes a new block, stores it in *dst and returns it. The old block is released exactly
// when its contents were copied (not null and of length at least 1). When the allocator fails
// the result is null and *dst is left as it was, still owned by the caller.

// Old text followed by src.
KAMSUTIL_FUNC char* kaStringCat(char** dst, const char* src);
// src followed by the old text.
KAMSUTIL_FUNC char* kaStringCat2(char** dst, const char* src);
// The first dstLen bytes of the old block followed by srcLen bytes of src, byte-exact, plus a
// zero byte.
KAMSUTIL_FUNC char* kaDataCat(char** dst, unsigned int dstLen, const void* src,
                              unsigned int srcLen);

// --- In-place changes (each returns s; a string that is not non-empty is left untouched) ----
// A trim byte is a byte below 0x80 that is white space or a control character; a byte of
// 0x80 or above ends a run, so a double-byte character is never cut.

KAMSUTIL_FUNC char* kaTrimLeft(char* s);
KAMSUTIL_FUNC char* kaTrimRight(char* s);
KAMSUTIL_FUNC char* kaTrimString(char* s);
// ASCII letters only; bytes from 0x80 up are unchanged.
KAMSUTIL_FUNC char* kaUpperString(char* s);
KAMSUTIL_FUNC char* kaLowerString(char* s);

// --- Fields and replacement ------------------------------------------------------------------

// Copies field number index (from 0) of src, fields separated by delim, into out (outSize
// bytes, cut to outSize - 1 bytes plus a zero byte). Returns 0, or -1 when there is no such
// field (out unchanged). The last field counts only when it is non-empty.
KAMSUTIL_FUNC int kaSubString(const char* src, char* out, unsigned int outSize, int index,
                              const char* delim);

// The text after the first startTag in the first 255 bytes of src, cut at the next endTag
// (startTag again when endTag is null); the whole shortened copy when startTag is absent; the
// library empty string when src is not non-empty. The result lies in the calling thread's
// 256-byte extraction area, which the thread's next call overwrites.
KAMSUTIL_FUNC const char* kaExtractStr(const char* src, const char* startTag, const char* endTag);

// Writes src into dst with every occurrence of find replaced by repl (an empty find replaces
// every character) and returns dst. The caller sizes dst for the result.
KAMSUTIL_FUNC char* kaReplaceStr(const char* src, char* dst, const char* find, const char* repl);
