// FWU_SANITIZED is defined in AddressSanitizer and ThreadSanitizer builds,
// whose shadow memory makes address-space figures and huge reservations
// meaningless.
#pragma once

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define FWU_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define FWU_SANITIZED 1
#endif
