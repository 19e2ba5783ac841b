// Registry scripts (.rgs): the text a module carries to describe the registry keys of its
// classes, run here to register or unregister them. Not a Windows header: the module services
// call it with their %MODULE% replacement, and tools and tests may call it directly.
//
// Script form, briefly: phase 1 replaces every %NAME% with its replacement (names compared
// case-insensitively, %% gives %); phase 2 reads
//   HKCR { [NoRemove|ForceRemove] name [= s|d|b data] [{ ... }]  |  Delete name
//          |  val name = s|d|b data }
// with 'quoted' tokens ('' is one quote), s = REG_SZ, d = REG_DWORD in decimal, b = REG_BINARY
// as hex digit pairs. Root keys: HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE,
// HKEY_USERS, HKEY_CURRENT_CONFIG and their short forms HKCR, HKCU, HKLM, HKU, HKCC.
#pragma once

#include "platform_export.h"
#include "windef.h"
#include "winerror.h"

// One %NAME% replacement of a script.
typedef struct REGSCRIPT_REPLACEMENTW {
  LPCWSTR pszName;   // without the percent signs
  LPCWSTR pszValue;  // the text put in its place
} REGSCRIPT_REPLACEMENTW;

typedef struct REGSCRIPT_REPLACEMENTA {
  LPCSTR pszName;
  LPCSTR pszValue;
} REGSCRIPT_REPLACEMENTA;

// Deepest nesting of key blocks a script may have below its root key.
#define REGSCRIPT_MAX_DEPTH 64

// PlatformRunRegScriptW / PlatformRunRegScriptA
// Registers (creates the keys and values of) or unregisters (removes) what a script describes.
// Params:  pszScript [I] the script text; the A form takes ANSI code page text.
//          pReplacements [I], cReplacements [I] the %NAME% replacements (may be null when
//          cReplacements is 0).
//          bRegister [I] TRUE registers, FALSE unregisters.
//          pszError [O], cchError [I] optional: receives "line N: what went wrong" on failure
//          and "" on success, cut to fit cchError characters (terminator included).
// Returns: S_OK.
//          E_INVALIDARG       pszScript is null, or a replacement or its name or value is null.
//          DISP_E_EXCEPTION   the script is malformed (nothing was changed) or uses an unknown
//                             replacement.
//          HRESULT_FROM_WIN32(status)  a registry call failed; a registration that fails midway
//                             is undone by unregistering the script.
//          E_OUTOFMEMORY      memory ran out.
// Notes:   the whole script is read before the registry is touched, so a malformed script
//          changes nothing. Registration: ForceRemove deletes the key's subtree first; Delete
//          deletes a subtree; keys and values are created or replaced. Unregistration works
//          depth-first: plain and ForceRemove keys are removed once they have no subkeys left,
//          NoRemove keys stay, val and Delete entries are skipped, missing keys are no error.
//          Unlike the platform's registrar, d data must be a decimal number from 0 to 4294967295
//          (the registrar stores 0 for "0x10" and wraps large or negative numbers).
WINAPI_EXPORT HRESULT PlatformRunRegScriptW(LPCWSTR pszScript,
                                            const REGSCRIPT_REPLACEMENTW* pReplacements,
                                            DWORD cReplacements, BOOL bRegister, LPWSTR pszError,
                                            DWORD cchError);
WINAPI_EXPORT HRESULT PlatformRunRegScriptA(LPCSTR pszScript,
                                            const REGSCRIPT_REPLACEMENTA* pReplacements,
                                            DWORD cReplacements, BOOL bRegister, LPSTR pszError,
                                            DWORD cchError);
