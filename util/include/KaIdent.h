// Socket start-up, identifiers, the local time stamp and temporary file names of KaMsUtil.
// The library starts the socket layer when it is loaded and refuses to load when that fails.
#pragma once

#include "KaMsUtilApi.h"

// Starts the socket layer asking for version 1.1: 1 when it starts and answers major version
// 1; otherwise it is released again and the result is 0.
KAMSUTIL_FUNC int kaInitSocket(void);

// Writes an identifier of length characters and a zero byte into out (length + 1 bytes) and
// returns out. The first 22 characters are "%08x%02x%08x%04x" of the time in seconds since
// 1970, the low 8 bits of the process's call counter, the host's first IPv4 address read as a
// little-endian number (0 when the host has no name or address) and the low 16 bits of the
// process identifier; a shorter length cuts them. Characters beyond 22 are pseudo-random
// digits from 0 to 8. Each call pauses for a millisecond. A negative length counts as 0.
KAMSUTIL_FUNC char* kaMakeUuid(char* out, int length);

// Writes the local time as 14 digits, "%04d%02d%02d%02d%02d%02d" of year, month, day, hour,
// minute and second, and a zero byte into out (15 bytes); returns out.
KAMSUTIL_FUNC char* kaGetCurrentTime(char* out);

// Writes "dir\identifier.ext" into out and returns it: the identifier is kaMakeUuid of 32
// characters, ext is "tmp" when null, and a null dir is the temporary directory without its
// trailing backslash (a dir given is used as it stands). out needs strlen(dir) + 35 bytes plus
// the extension. Creates no file.
KAMSUTIL_FUNC char* kaTempName(const char* dir, const char* ext, char* out);
