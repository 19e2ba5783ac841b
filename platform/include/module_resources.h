// The resource table of a module: what the platform's FindResource reads. Each module that has
// resources exports one zero-terminated array PlatformModuleResources, generated at build time
// by rcgen from the module's resource list. Not part of the Windows-shaped headers.
#pragma once

#include "windef.h"

struct PLATFORM_RESOURCE {
  LPCSTR type_name;  // the type as text, or null when given by number
  WORD type_id;
  LPCSTR name;  // the name as text, or null when given by number
  WORD name_id;
  WORD language;
  const BYTE* data;
  DWORD size;
};

// The name under which a module exports its table.
#define PLATFORM_RESOURCE_TABLE_SYMBOL "PlatformModuleResources"
