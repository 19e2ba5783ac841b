// File and directory operations of KaMsUtil, and the library's last-error text.
//
// Paths are narrow text of the ANSI code page with `\` as separator; a drive such as "C:" is an
// ordinary leading component. Every path the functions take or build holds at most 259 bytes;
// longer ones are refused with failure. Results: 0 for success and -1 for failure unless told
// otherwise. The last-error text is shared by every process that has the library loaded; it is
// written only on the failures named below and never cleared, so it means something only
// right after a call that failed.
#pragma once

#include "KaMsUtilApi.h"

// 0 when path names an existing file or directory, -1 otherwise. As the run-time library's
// status query: a path with `*` or `?` never exists, "C:" alone does not while "C:\" does, and
// any other path ending in a backslash does not exist even when it names a directory.
KAMSUTIL_FUNC int kaIsFileExist(const char* path);

// The size of the file in bytes; -1 when it does not exist (rules of kaIsFileExist) or is
// 2 GiB or more. A directory has size 0.
KAMSUTIL_FUNC int kaGetFileSize(const char* path);

// Deletes the entries of dir that match pattern (`*`, `?`; "*.*" is every entry), entering the
// matching subdirectories with the same pattern; with "*.*" each emptied subdirectory is
// removed too. -1 at once, last-error text untouched, when the enumeration finds nothing (so a
// subdirectory without matches fails the call). A file that cannot be deleted sets the
// file-in-use message; a subdirectory that stays full after two attempts sets the
// directory-not-empty message. What was deleted before a failure stays deleted.
KAMSUTIL_FUNC int kaRemoveFiles(const char* dir, const char* pattern);

// Creates every missing directory along path, taking its first component (the drive) as
// existing; empty components (doubled or trailing backslashes) are skipped, and a path without
// a backslash creates nothing. An empty path sets the path-not-found message. A failed creation
// returns -1 without a message and leaves the directories made so far.
KAMSUTIL_FUNC int kaCreateDirectory(const char* path);

// Deletes the directory path and everything in it. One trailing backslash is removed from the
// caller's string first. A missing directory sets the path-not-found message; a directory that
// stays full after two attempts sets the directory-not-empty message; a directory that the
// system refuses to remove sets the file-in-use message.
KAMSUTIL_FUNC int kaRemoveDirectory(char* path);

// 0 when src does not exist (dst untouched); otherwise copies src to dst, refusing an existing
// dst when failIfExists is non-zero: non-zero on success, 0 on failure. A failed copy leaves no
// partial dst, and a file is never copied onto itself.
KAMSUTIL_FUNC int kaCopyFile(const char* src, const char* dst, int failIfExists);

// 0 when src does not exist; otherwise renames src to dst: 1 on success, 0 on failure. An
// existing dst is never replaced. While the system refuses with access denied or a sharing
// violation, the rename is tried again every 500 ms, at most kaMoveFileRetries times more
// (about 5 seconds).
KAMSUTIL_FUNC int kaMoveFile(const char* src, const char* dst);

// Number of further attempts of kaMoveFile after an access-denied failure.
#define kaMoveFileRetries 10

// The last-error text (at most 255 bytes, zero-terminated) in the shared settings block.
KAMSUTIL_FUNC char* kaGetErrString(void);

// Formats the last-error text printf-style (the platform's conversions), cut to 255 bytes.
// Arguments may point into the text itself. A null fmt gives the empty text.
KAMSUTIL_FUNC void kaSetErrString(const char* fmt, ...);
