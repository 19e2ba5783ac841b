// Code-page conversion: MultiByteToWideChar, WideCharToMultiByte and the ANSI code page.
// The ANSI code page (CP_ACP) is 949 unless the process sets another one, through the
// PLATFORM_ACP environment variable read at first use, or PlatformSetACP (platform_config.h).
#pragma once

#include "windef.h"

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_THREAD_ACP 3
#define CP_UTF8 65001

// Locale identifiers that stand for the process's settings.
#define LOCALE_SYSTEM_DEFAULT ((LCID)0x0800)
#define LOCALE_USER_DEFAULT ((LCID)0x0400)
#define LOCALE_NEUTRAL ((LCID)0x0000)
#define LOCALE_NOUSEROVERRIDE 0x80000000

#define MB_PRECOMPOSED 0x00000001
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_NO_BEST_FIT_CHARS 0x00000400
#define WC_ERR_INVALID_CHARS 0x00000080

// GetACP
// Returns the ANSI code page of the process.
WINAPI_EXPORT UINT GetACP(void);

// IsValidCodePage
// Returns TRUE when the platform can convert text of CodePage.
WINAPI_EXPORT BOOL IsValidCodePage(UINT CodePage);

// MultiByteToWideChar
// Converts narrow text of CodePage to UTF-16.
// Params:  CodePage [I] CP_ACP, CP_UTF8 or a code page number such as 949.
//          dwFlags [I] 0, MB_PRECOMPOSED or MB_ERR_INVALID_CHARS.
//          lpMultiByteStr [I], cbMultiByte [I] byte count; -1 converts up to and including the
//          terminator.
//          lpWideCharStr [O], cchWideChar [I] 0 asks only for the count needed.
// Returns: the number of UTF-16 units written (or needed); 0 on failure, with GetLastError
//          ERROR_INVALID_PARAMETER, ERROR_INSUFFICIENT_BUFFER or ERROR_NO_UNICODE_TRANSLATION.
// Notes:   without MB_ERR_INVALID_CHARS an invalid byte becomes U+FFFD and the scan goes on.
//          A count of 0 bytes is ERROR_INVALID_PARAMETER, as on the platform.
WINAPI_EXPORT int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr,
                                      int cbMultiByte, LPWSTR lpWideCharStr, int cchWideChar);

// WideCharToMultiByte
// Converts UTF-16 to narrow text of CodePage.
// Params:  lpWideCharStr [I], cchWideChar [I] unit count; -1 converts up to and including the
//          terminator.
//          lpMultiByteStr [O], cbMultiByte [I] 0 asks only for the count needed.
//          lpDefaultChar [I] replacement for unmappable characters (null means "?"); must be
//          null for CP_UTF8. lpUsedDefaultChar [O] set TRUE when a replacement was made.
// Returns: the number of bytes written (or needed); 0 on failure, with GetLastError as above.
// Notes:   for CP_UTF8 a lone surrogate becomes U+FFFD (or fails with WC_ERR_INVALID_CHARS).
WINAPI_EXPORT int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr,
                                      int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte,
                                      LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar);
