// URL, hex and path encodings of KaMsUtil: two-digit hex escapes, form-style URL encoding and
// decoding (space as '+', other bytes as %XX, both bytes of a double-byte character escaped),
// conversion between DOS paths and "file://localhost/" URLs, and the parser of query strings
// into name=value records.
#pragma once

#include "KaMsUtilApi.h"
#include "KaObList.h"

// One record of kaParseElement; every text is a library block or null.
struct KaElement {
  char* name;   // the decoded text before the first '=', or the whole decoded token
  char* aux1;   // never filled by the library; released by kaDestroyElement when set
  char* aux2;   // likewise
  char* value;  // the decoded text after the first '='; null when the token has no '='
  int valueLength;
};

// The two upper-case hex digits of the byte c, in the calling thread's 3-byte hex area, which
// the thread's next call (kaEncodeUrl included) overwrites.
KAMSUTIL_FUNC char* kaChar2Hex(char c);

// The byte (0 to 255) whose hex digits are p[0] and p[1] (0-9, A-F, a-f; not validated).
KAMSUTIL_FUNC int kaHex2Char(const char* p);

// The form encoding of s in the calling thread's 256-byte encode area, which its next call
// overwrites: a space becomes '+', letters and digits stay, every other byte becomes %XX, and
// the byte after a lead byte (0x80 and up) is escaped too. The library empty string for a null
// or empty s. Null, with the area emptied, when the encoding would exceed 255 bytes.
KAMSUTIL_FUNC const char* kaEncodeUrl(const char* s);

// Decodes s in place (%XX to its byte, '+' to a space) and returns it; a '%' without two
// characters after it stays as it is. The library empty string for a null or empty s.
KAMSUTIL_FUNC char* kaDecodeUrl(char* s);

// Writes "file://localhost/" and path into out with ':' as '|' and '\' as '/'; returns out.
// The caller sizes out (strlen(path) + 18 bytes).
KAMSUTIL_FUNC char* kaDosPathToURL(const char* path, char* out);

// Writes the DOS path of url into out and returns it: the text after the first "://", then
// after its first '/', with '|' as ':' and '/' as '\'. The caller sizes out (strlen(url) + 1).
KAMSUTIL_FUNC char* kaURLToDosPath(const char* url, char* out);

// A new list of KaElement records, one for each token of text split at any byte of
// separators (empty tokens skipped), in order. text is changed: separators after tokens are
// overwritten with zero bytes. Null when the list cannot be made; when a record cannot be made
// the list built so far is returned. Keeps no state between calls.
KAMSUTIL_FUNC KaListHead* kaParseElement(char* text, const char* separators);

// Releases every record of a list of kaParseElement (its four texts and the record) and the
// list itself; returns 0. Null is a harmless no-op.
KAMSUTIL_FUNC int kaDestroyElement(KaListHead* list);
