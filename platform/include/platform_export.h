// Export macro of the platform layer. Everything the platform library makes visible to the
// system, the host and the data module is declared with PLATFORM_API; the rest stays hidden.
// The Windows build links the few platform sources it needs statically into each DLL, so
// nothing of them is exported there.
#pragma once

#if defined(_WIN32)
#define PLATFORM_API
#elif defined(PLATFORM_BUILDING)
#define PLATFORM_API __attribute__((visibility("default")))
#else
#define PLATFORM_API
#endif

#ifdef __cplusplus
#define PLATFORM_EXTERN_C extern "C"
#else
#define PLATFORM_EXTERN_C
#endif

// A plain exported function of the platform with C linkage, as the Windows system libraries give.
#define WINAPI_EXPORT PLATFORM_EXTERN_C PLATFORM_API
