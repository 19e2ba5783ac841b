// Loading modules (shared libraries) and reading their resources: LoadLibrary, FreeLibrary,
// GetProcAddress, GetModuleHandle(Ex), GetModuleFileName, FindResource(Ex), LoadResource,
// LockResource, SizeofResource.
//
// A module's resources are the table it exports under the name PlatformModuleResources
// (module_resources.h). A module that exports DllMain gets DLL_PROCESS_ATTACH when
// LoadLibrary first loads it and DLL_PROCESS_DETACH before FreeLibrary unloads it.
#pragma once

#include "windef.h"

typedef INT_PTR (*FARPROC)(void);
typedef struct PLATFORM_RESOURCE* HRSRC;
typedef void* HGLOBAL;

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

#define GET_MODULE_HANDLE_EX_FLAG_PIN 0x00000001
#define GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT 0x00000002
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x00000004

#define LANG_NEUTRAL 0x00
#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))

// A resource type or name given by number instead of text.
#define IS_INTRESOURCE(r) ((((ULONG_PTR)(r)) >> 16) == 0)
#define MAKEINTRESOURCEA(i) ((LPSTR)((ULONG_PTR)((WORD)(i))))
#define MAKEINTRESOURCEW(i) ((LPWSTR)((ULONG_PTR)((WORD)(i))))
#define MAKEINTRESOURCE MAKEINTRESOURCEA
#define RT_VERSION MAKEINTRESOURCEA(16)

// LoadLibraryA
// Loads a module (or counts one more use of a loaded one).
// Params:  lpLibFileName [I] path in the system's path namespace.
// Returns: the module handle; null on failure, with GetLastError ERROR_MOD_NOT_FOUND (no such
//          file or not loadable), ERROR_DLL_INIT_FAILED (its DllMain refused the attach) or
//          ERROR_INVALID_PARAMETER.
WINAPI_EXPORT HMODULE LoadLibraryA(LPCSTR lpLibFileName);

#define DONT_RESOLVE_DLL_REFERENCES 0x00000001
#define LOAD_LIBRARY_AS_DATAFILE 0x00000002

// LoadLibraryExA
// LoadLibraryA; with LOAD_LIBRARY_AS_DATAFILE or DONT_RESOLVE_DLL_REFERENCES the module is
// mapped for its resources only: DllMain is not called. hFile must be null.
WINAPI_EXPORT HMODULE LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags);

// FreeLibrary
// Counts one use less of a module; the last one unloads it after DLL_PROCESS_DETACH.
// Returns: TRUE; FALSE for a null or unknown handle (ERROR_INVALID_HANDLE).
WINAPI_EXPORT BOOL FreeLibrary(HMODULE hLibModule);

// GetProcAddress
// Returns: the exported function or data named lpProcName; null with ERROR_PROC_NOT_FOUND.
WINAPI_EXPORT FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);

// GetModuleHandleA
// Returns: the handle of a loaded module, without counting a use; the program itself for a
//          null name; null with ERROR_MOD_NOT_FOUND when the module is not loaded.
WINAPI_EXPORT HMODULE GetModuleHandleA(LPCSTR lpModuleName);

// GetModuleHandleExA
// With GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, lpModuleName is an address inside the module.
// Without GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT the module's use count rises by one.
// Returns: TRUE and *phModule; FALSE with *phModule null and ERROR_MOD_NOT_FOUND.
WINAPI_EXPORT BOOL GetModuleHandleExA(DWORD dwFlags, LPCSTR lpModuleName, HMODULE* phModule);

// GetModuleFileNameA / GetModuleFileNameW
// Writes the module's full path (path namespace form, `\` separated) into lpFilename.
// Params:  hModule [I] null for the program itself; nSize [I] room in characters.
// Returns: the length written without the terminator; nSize when the path was cut (then the
//          text is cut and terminated, GetLastError ERROR_INSUFFICIENT_BUFFER); 0 on failure.
WINAPI_EXPORT DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
WINAPI_EXPORT DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);

// DisableThreadLibraryCalls
// Thread notifications are never sent on this platform. Returns TRUE.
WINAPI_EXPORT BOOL DisableThreadLibraryCalls(HMODULE hLibModule);

// FindResourceA / FindResourceExA / FindResourceW
// Finds the resource of type lpType and name lpName (text, or a number from MAKEINTRESOURCE)
// in the module's table. FindResourceA prefers LANG_NEUTRAL and takes any language otherwise.
// Returns: the resource handle; null with ERROR_RESOURCE_TYPE_NOT_FOUND or
//          ERROR_RESOURCE_NAME_NOT_FOUND (ERROR_RESOURCE_DATA_NOT_FOUND when the module has
//          no table).
WINAPI_EXPORT HRSRC FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType);
WINAPI_EXPORT HRSRC FindResourceExA(HMODULE hModule, LPCSTR lpType, LPCSTR lpName, WORD wLanguage);
WINAPI_EXPORT HRSRC FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType);

// LoadResource / LockResource / SizeofResource
// The bytes of a found resource; they live as long as the module stays loaded.
WINAPI_EXPORT HGLOBAL LoadResource(HMODULE hModule, HRSRC hResInfo);
WINAPI_EXPORT LPVOID LockResource(HGLOBAL hResData);
WINAPI_EXPORT DWORD SizeofResource(HMODULE hModule, HRSRC hResInfo);
