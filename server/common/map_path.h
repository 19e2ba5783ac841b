// MapPathIfRelative: the one path rule of the upload, attachment and download objects.
#pragma once

#include "vtrl_module.h"

// Turns path into a physical path in *out. A path whose first character is `\`, whose second
// is `\` or `:`, or whose third is `\` is physical and used as it stands; any other path goes,
// as the script gave it, to server's MapPath, whose failure is returned. Without a server such
// a path fails with E_UNEXPECTED: the object is not bound to a page. The path is converted
// into *out as the work goes: the caller gives an empty text and drops it after a failure.
HRESULT MapPathIfRelative(IServer* server, BSTR path, CKaText* out);
