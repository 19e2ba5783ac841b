// Umbrella header of the Windows-shaped platform, as the system's sources include it.
#pragma once

#include "errhandlingapi.h"
#include "windef.h"
#include "winerror.h"
#include "winnls.h"
#include "winreg.h"
