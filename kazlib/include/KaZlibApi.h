// Export macro of KaZlib. The classes CKaZlib and CKaZlibReader are exported whole, the output
// limit setting as a C-linkage function; every other symbol of the library stays hidden.
#pragma once

#if defined(_WIN32) && defined(KAZLIB_BUILDING)
#define KAZLIB_API __declspec(dllexport)
#elif defined(_WIN32)
#define KAZLIB_API __declspec(dllimport)
#elif defined(KAZLIB_BUILDING)
#define KAZLIB_API __attribute__((visibility("default")))
#else
#define KAZLIB_API
#endif

#ifdef __cplusplus
#define KAZLIB_FUNC extern "C" KAZLIB_API
#else
#define KAZLIB_FUNC KAZLIB_API
#endif
