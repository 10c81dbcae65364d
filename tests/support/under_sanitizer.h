#pragma once

// PIXMOOR_UNDER_SANITIZER is defined in a build under AddressSanitizer or
// ThreadSanitizer, PIXMOOR_UNDER_THREAD_SANITIZER under the latter, whichever
// compiler made it: GCC says so with __SANITIZE_ADDRESS__ and
// __SANITIZE_THREAD__, clang with __has_feature.
#if defined(__SANITIZE_THREAD__)
#define PIXMOOR_UNDER_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define PIXMOOR_UNDER_THREAD_SANITIZER 1
#endif
#endif

#if defined(__SANITIZE_ADDRESS__) || defined(PIXMOOR_UNDER_THREAD_SANITIZER)
#define PIXMOOR_UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define PIXMOOR_UNDER_SANITIZER 1
#endif
#endif
