// Export macro of KaMsUtil. The plain functions have C linkage so that programs in any
// language can load them by name; the classes are exported whole.
#pragma once

#if defined(_WIN32) && defined(KAMSUTIL_BUILDING)
#define KAMSUTIL_API __declspec(dllexport)
#elif defined(_WIN32)
#define KAMSUTIL_API __declspec(dllimport)
#elif defined(KAMSUTIL_BUILDING)
#define KAMSUTIL_API __attribute__((visibility("default")))
#else
#define KAMSUTIL_API
#endif

#ifdef __cplusplus
#define KAMSUTIL_FUNC extern "C" KAMSUTIL_API
#else
#define KAMSUTIL_FUNC KAMSUTIL_API
#endif
