// The identifiers of the script host's interfaces, defined from the system's asptlb.h.
#include <initguid.h>

#include <asptlb.h>
