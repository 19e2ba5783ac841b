// The registry API: keys under the predefined roots, typed values, enumeration and deletion, in
// the W (UTF-16) and A (ANSI code page) forms. The whole registry lives in one .reg text file
// (see platform_config.h for where), shared by every process and written atomically.
#pragma once

#include "windef.h"
#include "winerror.h"

typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef DWORD REGSAM;
typedef LONG LSTATUS;
// Only passed through: security descriptors and write times are not kept.
typedef struct _SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
typedef struct _FILETIME* PFILETIME;

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)((LONG)0x80000000))
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)((LONG)0x80000001))
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))
#define HKEY_USERS ((HKEY)(ULONG_PTR)((LONG)0x80000003))
#define HKEY_PERFORMANCE_DATA ((HKEY)(ULONG_PTR)((LONG)0x80000004))
#define HKEY_CURRENT_CONFIG ((HKEY)(ULONG_PTR)((LONG)0x80000005))
#define HKEY_DYN_DATA ((HKEY)(ULONG_PTR)((LONG)0x80000006))

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_DWORD_LITTLE_ENDIAN 4
#define REG_DWORD_BIG_ENDIAN 5
#define REG_LINK 6
#define REG_MULTI_SZ 7
#define REG_QWORD 11
#define REG_QWORD_LITTLE_ENDIAN 11

#define REG_OPTION_NON_VOLATILE 0x00000000
#define REG_OPTION_VOLATILE 0x00000001

#define REG_CREATED_NEW_KEY 0x00000001
#define REG_OPENED_EXISTING_KEY 0x00000002

#define DELETE 0x00010000
#define READ_CONTROL 0x00020000
#define SYNCHRONIZE 0x00100000
#define STANDARD_RIGHTS_READ READ_CONTROL
#define STANDARD_RIGHTS_WRITE READ_CONTROL
#define STANDARD_RIGHTS_ALL 0x001F0000
#define MAXIMUM_ALLOWED 0x02000000
#define GENERIC_ALL 0x10000000
#define GENERIC_EXECUTE 0x20000000
#define GENERIC_WRITE 0x40000000
#define GENERIC_READ 0x80000000

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_WOW64_64KEY 0x0100
#define KEY_WOW64_32KEY 0x0200
#define KEY_READ ((STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY))
#define KEY_WRITE ((STANDARD_RIGHTS_WRITE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY))
#define KEY_EXECUTE KEY_READ
#define KEY_ALL_ACCESS                                                           \
  ((STANDARD_RIGHTS_ALL | KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY | \
    KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY | KEY_CREATE_LINK))

// Statuses common to every function below:
//   ERROR_INVALID_HANDLE  hKey is null, closed, or HKEY_PERFORMANCE_DATA / HKEY_DYN_DATA.
//   ERROR_KEY_DELETED     the key of hKey was deleted since it was opened.
//   ERROR_BADDB           the registry file is corrupt (the line is reported on standard error);
//                         nothing is written over it.
//   ERROR_CANTREAD, ERROR_CANTWRITE  the registry file could not be read or replaced.
//   ERROR_OUTOFMEMORY     memory ran out; the registry is unchanged.
// Key names are case-insensitive (ASCII letters) and keep the case they were created with;
// a subkey path separates names with '\'. Names are at most 255 characters; value names at most
// 16383. The A forms convert names and string data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) with
// the ANSI code page; their counts are in bytes.

// RegCreateKeyExW / RegCreateKeyExA
// Creates the subkey (and any missing keys on its path) or opens it when it exists.
// Params:  hKey [I] an open key or a predefined root.
//          lpSubKey [I] path below hKey; null or "" opens hKey itself.
//          Reserved [I], lpClass [I] ignored. dwOptions [I] REG_OPTION_NON_VOLATILE or
//          REG_OPTION_VOLATILE (kept like non-volatile). samDesired [I] KEY_* rights of the new
//          handle. lpSecurityAttributes [I] ignored.
//          phkResult [O] the new handle; close it with RegCloseKey.
//          lpdwDisposition [O] optional: REG_CREATED_NEW_KEY or REG_OPENED_EXISTING_KEY.
// Returns: ERROR_SUCCESS.
//          ERROR_INVALID_PARAMETER  phkResult is null, or a name is too long or holds CR/LF.
//          ERROR_BAD_PATHNAME       lpSubKey starts with '\' or holds an empty name ("a\\b").
//          ERROR_ACCESS_DENIED      a key must be created and hKey lacks KEY_CREATE_SUB_KEY.
//          ERROR_INVALID_PARAMETER  the path would go deeper than 512 levels below the root.
WINAPI_EXPORT LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass,
                                      DWORD dwOptions, REGSAM samDesired,
                                      LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                                      LPDWORD lpdwDisposition);
WINAPI_EXPORT LSTATUS RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                                      DWORD dwOptions, REGSAM samDesired,
                                      LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                                      LPDWORD lpdwDisposition);

// RegOpenKeyExW / RegOpenKeyExA
// Opens an existing key.
// Params:  hKey [I], lpSubKey [I] null or "" opens a new handle to hKey itself.
//          ulOptions [I] ignored. samDesired [I] KEY_* rights. phkResult [O] set to null on
//          failure.
// Returns: ERROR_SUCCESS.
//          ERROR_INVALID_PARAMETER  phkResult is null.
//          ERROR_FILE_NOT_FOUND     no such key.
//          ERROR_BAD_PATHNAME       lpSubKey starts with '\' or holds an empty name.
WINAPI_EXPORT LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                    PHKEY phkResult);
WINAPI_EXPORT LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                    PHKEY phkResult);

// RegCloseKey
// Closes a handle from RegCreateKeyEx or RegOpenKeyEx.
// Returns: ERROR_SUCCESS; closing a predefined root is a harmless no-op.
//          ERROR_INVALID_HANDLE  hKey is null or not open.
WINAPI_EXPORT LSTATUS RegCloseKey(HKEY hKey);

// RegSetValueExW / RegSetValueExA
// Creates or replaces a value of the key.
// Params:  hKey [I] needs KEY_SET_VALUE. lpValueName [I] null or "" is the default value.
//          Reserved [I] ignored. dwType [I] REG_* type (any number is kept as given).
//          lpData [I], cbData [I] the bytes, stored as given (include the terminator of
//          strings).
// Returns: ERROR_SUCCESS.
//          ERROR_NOACCESS           lpData is null and cbData is not 0.
//          ERROR_ACCESS_DENIED      hKey lacks KEY_SET_VALUE.
//          ERROR_INVALID_PARAMETER  the value name is too long.
WINAPI_EXPORT LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType,
                                     const BYTE* lpData, DWORD cbData);
WINAPI_EXPORT LSTATUS RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                                     const BYTE* lpData, DWORD cbData);

// RegQueryValueExW / RegQueryValueExA
// Reads a value's type and data.
// Params:  hKey [I] needs KEY_QUERY_VALUE. lpValueName [I] null or "" is the default value.
//          lpReserved [I] must be null. lpType [O] optional. lpData [O] optional buffer.
//          lpcbData [I/O] the buffer size in bytes; receives the data size. May be null only
//          when lpData is null.
// Returns: ERROR_SUCCESS.
//          ERROR_MORE_DATA          lpData is too small: *lpcbData is the size needed, *lpType
//                                   is set, the buffer's content is unspecified.
//          ERROR_FILE_NOT_FOUND     no such value (a new key has no default value).
//          ERROR_INVALID_PARAMETER  lpReserved is not null, or lpData without lpcbData.
//          ERROR_ACCESS_DENIED      hKey lacks KEY_QUERY_VALUE.
// Notes:   the A form reports the exact size of the converted text, not a wider guess.
WINAPI_EXPORT LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved,
                                       LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
WINAPI_EXPORT LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved,
                                       LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);

// RegEnumKeyExW / RegEnumKeyExA
// Gives the name of the dwIndex-th subkey, in case-insensitive name order.
// Params:  hKey [I] needs KEY_ENUMERATE_SUB_KEYS. dwIndex [I] 0-based.
//          lpName [O], lpcchName [I/O] buffer size in characters (terminator included);
//          receives the name length without the terminator.
//          lpReserved [I] must be null. lpClass [O], lpcchClass [I/O] optional: always "".
//          lpftLastWriteTime [O] optional: set to zero (write times are not kept).
// Returns: ERROR_SUCCESS.
//          ERROR_NO_MORE_ITEMS      dwIndex is past the last subkey.
//          ERROR_MORE_DATA          the name does not fit; *lpcchName is unchanged, as on the
//                                   platform.
//          ERROR_INVALID_PARAMETER  lpName or lpcchName is null, or lpReserved is not null.
//          ERROR_ACCESS_DENIED      hKey lacks KEY_ENUMERATE_SUB_KEYS.
WINAPI_EXPORT LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName,
                                    LPDWORD lpReserved, LPWSTR lpClass, LPDWORD lpcchClass,
                                    PFILETIME lpftLastWriteTime);
WINAPI_EXPORT LSTATUS RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                                    LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                                    PFILETIME lpftLastWriteTime);

// RegEnumValueW / RegEnumValueA
// Gives the name, type and data of the dwIndex-th value, in the order the values were created.
// Params:  hKey [I] needs KEY_QUERY_VALUE. dwIndex [I] 0-based.
//          lpValueName [O], lpcchValueName [I/O] as lpName/lpcchName of RegEnumKeyEx ("" is the
//          default value). lpReserved [I] must be null. lpType [O], lpData [O], lpcbData [I/O]
//          optional, as in RegQueryValueEx.
// Returns: ERROR_SUCCESS.
//          ERROR_NO_MORE_ITEMS      dwIndex is past the last value.
//          ERROR_MORE_DATA          the name or the data does not fit; *lpcbData is the data
//                                   size needed.
//          ERROR_INVALID_PARAMETER  lpValueName or lpcchValueName is null, lpReserved is not
//                                   null, or lpData without lpcbData.
//          ERROR_ACCESS_DENIED      hKey lacks KEY_QUERY_VALUE.
WINAPI_EXPORT LSTATUS RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName,
                                    LPDWORD lpcchValueName, LPDWORD lpReserved, LPDWORD lpType,
                                    LPBYTE lpData, LPDWORD lpcbData);
WINAPI_EXPORT LSTATUS RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName,
                                    LPDWORD lpcchValueName, LPDWORD lpReserved, LPDWORD lpType,
                                    LPBYTE lpData, LPDWORD lpcbData);

// RegDeleteKeyW / RegDeleteKeyA
// Deletes a key that has no subkeys (its values go with it).
// Params:  hKey [I], lpSubKey [I] path below hKey; "" deletes the key of hKey itself.
// Returns: ERROR_SUCCESS.
//          ERROR_INVALID_PARAMETER  lpSubKey is null.
//          ERROR_FILE_NOT_FOUND     no such key.
//          ERROR_ACCESS_DENIED      the key has subkeys, or it is a predefined root.
// Notes:   handles still open on the deleted key then fail with ERROR_KEY_DELETED.
WINAPI_EXPORT LSTATUS RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey);
WINAPI_EXPORT LSTATUS RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey);

// RegDeleteValueW / RegDeleteValueA
// Deletes a value. lpValueName null or "" is the default value.
// Returns: ERROR_SUCCESS.
//          ERROR_FILE_NOT_FOUND  no such value.
//          ERROR_ACCESS_DENIED   hKey lacks KEY_SET_VALUE.
WINAPI_EXPORT LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName);
WINAPI_EXPORT LSTATUS RegDeleteValueA(HKEY hKey, LPCSTR lpValueName);

// RegDeleteTreeW / RegDeleteTreeA
// Deletes a key with all its subkeys and values.
// Params:  hKey [I], lpSubKey [I] path below hKey; null or "" empties hKey itself (its subkeys
//          and values go, the key stays).
// Returns: ERROR_SUCCESS.
//          ERROR_FILE_NOT_FOUND  no such key.
WINAPI_EXPORT LSTATUS RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey);
WINAPI_EXPORT LSTATUS RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey);

#ifdef UNICODE
#define RegCreateKeyEx RegCreateKeyExW
#define RegOpenKeyEx RegOpenKeyExW
#define RegSetValueEx RegSetValueExW
#define RegQueryValueEx RegQueryValueExW
#define RegEnumKeyEx RegEnumKeyExW
#define RegEnumValue RegEnumValueW
#define RegDeleteKey RegDeleteKeyW
#define RegDeleteValue RegDeleteValueW
#define RegDeleteTree RegDeleteTreeW
#else
#define RegCreateKeyEx RegCreateKeyExA
#define RegOpenKeyEx RegOpenKeyExA
#define RegSetValueEx RegSetValueExA
#define RegQueryValueEx RegQueryValueExA
#define RegEnumKeyEx RegEnumKeyExA
#define RegEnumValue RegEnumValueA
#define RegDeleteKey RegDeleteKeyA
#define RegDeleteValue RegDeleteValueA
#define RegDeleteTree RegDeleteTreeA
#endif
