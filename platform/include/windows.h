// Umbrella header of the Windows-shaped platform, as the system's sources include it.
#pragma once

#include "windef.h"
#include "winerror.h"
#include "errhandlingapi.h"
#include "winnls.h"
#include "objbase.h"
#include "oleauto.h"
