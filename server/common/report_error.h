// ReportError: the one way the server records a description of a failure for the calling
// script (the thread's error information), and the server's fixed messages.
#pragma once

#include "vtrl_module.h"

// The fixed messages of the server.
enum class VtrlMessage {
  kNotMultipart,       // the request is not multipart/form-data
  kOutOfMemory,        // a part's content cannot be copied
  kFileInUse,          // a file cannot be removed: in use or access denied
  kPathNotFound,       // a file or directory path cannot be found
  kCannotOpenFile,     // "%s" is the target path
  kTargetIsFolder,     // "%s" is the target path, an existing folder
  kControlInFileName,  // a download's file name or path holds a control character
  kZipFileFailed,      // a compressed file cannot be written
  kCompressFailed,     // data cannot be compressed
  kUnzipFileFailed,    // a compressed file cannot be read back
  kUncompressFailed,   // data cannot be decompressed
  kTooManyParts,       // a body holds more parts than one upload takes
};

// The message in the system's ANSI code page (code page 949 gives its exact Korean bytes).
CKaText VtrlMessageText(VtrlMessage message);

// Records description (narrow text of the ANSI code page; null for none) as the thread's error
// information with class clsid as its source. iid and hr are those of the report (the server
// passes the all-zero identifier and 0). Returns the platform's result: DISP_E_EXCEPTION for a
// text with status 0.
HRESULT ReportError(const CLSID& clsid, const char* description, const IID& iid, HRESULT hr);
