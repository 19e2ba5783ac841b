// Scrambling of short texts into printable characters and back. It keeps a value from being
// read at a glance; it protects nothing from anyone who knows the rule.
//
// Each byte, taken as a signed value v, is split into high = v / 16 (truncated toward zero) and
// low = v - 16 * high, written as 'C' + high and 'D' + low. The output never holds a zero byte.
#pragma once

#include "KaMsUtilApi.h"

// Longest plain text of kaEncrypt, and longest scrambled text of kaDecrypt, in bytes.
#define kaEncryptMaxInput 64
#define kaDecryptMaxInput 64

// Writes the scrambled form of in (2 characters per byte) into out (2 * length + 1 bytes) and
// returns out; a null or empty in gives the empty string. A text longer than kaEncryptMaxInput
// bytes is refused: out becomes the empty string and the result is null. in and out may be the
// same buffer.
KAMSUTIL_FUNC char* kaEncrypt(const char* in, char* out);

// Writes the plain form of in into out (length / 2 + 1 bytes) and returns out; an empty in
// gives the empty string. An odd length writes nothing and returns in itself. A text longer
// than kaDecryptMaxInput characters is refused: out becomes the empty string and the result is
// null. Characters outside the scrambled ranges are not rejected; they give other bytes.
KAMSUTIL_FUNC char* kaDecrypt(const char* in, char* out);
