#pragma once

// Builds with AddressSanitizer or ThreadSanitizer: shadow memory, the quarantine of freed blocks
// and slower code make the time and memory budgets of the optimised build meaningless there; the
// checks of what is answered and stored still run.
namespace korvo::test {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitizedBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kSanitizedBuild = true;
#else
inline constexpr bool kSanitizedBuild = false;
#endif
#else
inline constexpr bool kSanitizedBuild = false;
#endif

} // namespace korvo::test
