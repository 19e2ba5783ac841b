// The server's use of the compression library: one local CKaZlib per operation, the fixed
// message of a failed operation recorded for the calling script.
#pragma once

#include "KaZlib.h"
#include "vtrl_module.h"

// Writes size bytes at data compressed into the file at path (created or replaced) and sets
// *zipSize to the compressed byte count. On failure records the compressed-file message with
// source clsid and returns E_FAIL; *zipSize is left alone.
HRESULT ZipToFile(const CLSID& source, char* data, int size, const char* path, int* zipSize);

// Reads the compressed file at path back into zlib's result fields. On failure records the
// read-back message with source clsid and returns E_FAIL.
HRESULT UnzipFromFile(const CLSID& source, const char* path, CKaZlib* zlib);
