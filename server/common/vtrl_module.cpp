// The module object of VtrlSrv: its lock count, class table and resources once the module
// frame has initialised it.
#include "vtrl_module.h"

_ATL_MODULE g_vtrl_module;
