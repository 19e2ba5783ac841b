// Host name and IPv4 address lookup (see hostlookup.h); the kernel and resolver calls are in
// posix/hostlookup.inc.
#include "hostlookup.h"

#include "posix/hostlookup.inc"
