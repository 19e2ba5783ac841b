// Error numbers of the kernel as the platform's error codes (see oserror.h). The table itself is
// in the operating-system unit.
#include "oserror.h"

#include "posix/oserror.inc"
