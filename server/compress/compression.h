// The server's compressed saves to disk: one local CKaZlib per save, the fixed message of a
// failed save recorded for the calling script. (Downloads read compressed bytes back through
// CKaZlibReader, a piece at a time.)
#pragma once

#include "KaZlib.h"
#include "vtrl_module.h"

// Writes size bytes at data compressed into the file at path (created or replaced) and sets
// *zipSize to the compressed byte count. On failure records the compressed-file message with
// source clsid and returns E_FAIL; *zipSize is left alone.
HRESULT ZipToFile(const CLSID& source, char* data, int size, const char* path, int* zipSize);
