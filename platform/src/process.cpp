// The calling process (processthreadsapi.h, errhandlingapi.h): its identifier and its fatal
// end, and its limit of open handles. The kernel calls are in posix/process.inc.
#include "processthreadsapi.h"

#include "errhandlingapi.h"
#include "platform_config.h"

#include "posix/process.inc"
