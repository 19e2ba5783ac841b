// The debugger output channel. This platform has no debugger channel: messages go to the
// standard error stream, converted from the ANSI code page to UTF-8.
#pragma once

#include "windef.h"

// OutputDebugStringA
// Sends a message to the debugger channel, unchanged but for the code page: no line end is
// added. Null is a harmless no-op.
// Notes:   the message goes out in one write, so messages of several threads do not mix.
WINAPI_EXPORT void OutputDebugStringA(LPCSTR lpOutputString);
