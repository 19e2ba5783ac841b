// Umbrella header of the Windows-shaped platform, as the system's sources include it.
#pragma once

#include "errhandlingapi.h"
#include "windef.h"
#include "winerror.h"
#include "winnls.h"
#include "minwinbase.h"
#include "fileapi.h"
#include "handleapi.h"
#include "memoryapi.h"
#include "synchapi.h"
#include "sysinfoapi.h"
#include "processthreadsapi.h"
#include "debugapi.h"
#include "winbase.h"
#include "libloaderapi.h"
#include "objbase.h"
#include "oleauto.h"
