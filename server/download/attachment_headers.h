// The header values of an attachment response that carry the file name: the content type with
// its name parameter and the content disposition with its filename parameter (RFC 6266). A
// name goes in bare when it is a token, as a quoted string otherwise, and a name beyond ASCII
// also goes in percent-encoded UTF-8 (name*= and filename*=, RFC 8187), which browsers prefer,
// so the name arrives whole whatever the process's code page.
#pragma once

#include "scoped_bstr.h"
#include "vtrl_module.h"

struct AttachmentHeaders {
  ScopedBstr content_type;  // application/octet-stream; name=...
  ScopedBstr disposition;   // attachment; filename=...
};

// The part of a narrow path (ANSI code page) after its last '\' or '/'; the whole path when it
// holds neither. Points into path.
const char* AttachmentFileName(const char* path);

// E_INVALIDARG, with the file-name message reported for clsid, when text holds a NUL before
// its end: its narrow form would end there and name another file. S_OK otherwise.
HRESULT RefuseEmbeddedNul(const CLSID& clsid, BSTR text);

// MakeAttachmentHeaders
// Makes both header values for fileName, before anything is written to the response.
// Params:  clsid [I] the source of a report.
//          fileName [I] narrow text in the ANSI code page, without any folder; may be empty.
//          out [O] both values; left empty on failure.
// Returns: S_OK.
//          E_INVALIDARG     the name holds a control character (CR, LF, any of U+0000 to
//                           U+001F, U+007F to U+009F), which could end or split a header; the
//                           file-name message is reported for clsid.
//          E_OUTOFMEMORY    a value cannot be made.
//          E_FAIL           the name is not text of the ANSI code page.
// Notes:   the bare form keeps the exact text "attachment; filename=NAME" for a token NAME. A
//          name holding '%' also gets the encoded form, since Chromium decodes percent escapes
//          in a bare or quoted filename.
HRESULT MakeAttachmentHeaders(const CLSID& clsid, const char* fileName, AttachmentHeaders* out);
