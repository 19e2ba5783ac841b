// The trace log of KaMsUtil: messages to the debugger channel, and to a trace file whose path
// and switch live in the shared settings block, so that one call switches tracing for every
// process that has the library loaded. Tracing starts switched off. Messages are written
// exactly as formatted (no time stamp, no line end added); formats take the platform's
// conversions.
#pragma once

#include "KaMsUtilApi.h"

// Size at which the trace file starts afresh: the next message empties it first.
#define kaTraceFileLimit 0x100000

// Deletes the file path (a missing file is no error) and makes path the trace file and
// enabled (non-zero: on) the switch, for every process. A path longer than 255 bytes is
// refused: nothing changes. A null path is the empty path (nothing is traced to it).
KAMSUTIL_FUNC void kaInitFileTrace(const char* path, int enabled);

// When tracing is on, appends the formatted message to the trace file, each line feed written
// as carriage return and line feed; a file of kaTraceFileLimit bytes or more is emptied first.
// The file is opened and closed for each message. Nothing happens when the file cannot be
// opened or the message cannot be formatted.
KAMSUTIL_FUNC void kaFileTrace(const char* fmt, ...);

// Sends the formatted message, cut to 4095 bytes, to the debugger channel.
KAMSUTIL_FUNC void kaTrace(const char* fmt, ...);
