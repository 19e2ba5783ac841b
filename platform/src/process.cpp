// The calling process (processthreadsapi.h, errhandlingapi.h): its identifier and its fatal
// end. The kernel calls are in posix/process.inc.
#include "processthreadsapi.h"

#include "errhandlingapi.h"

#include "posix/process.inc"
