#pragma once
// Whether the code under test is built with AddressSanitizer, whose shadow
// memory changes what a process maps and holds, and whose operator new ends
// the process instead of throwing when memory runs out.

namespace program {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool Address_Sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool Address_Sanitized = true;
#else
inline constexpr bool Address_Sanitized = false;
#endif
#else
inline constexpr bool Address_Sanitized = false;
#endif

} // namespace program
