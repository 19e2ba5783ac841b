// Clocks and waiting (sysinfoapi.h, synchapi.h): GetTickCount, GetLocalTime, Sleep. The kernel
// calls are in posix/time.inc.
#include "synchapi.h"
#include "sysinfoapi.h"

#include "posix/time.inc"
