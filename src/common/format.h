// printf-style formatting into std::string. The program's own formats ("%.3f", "%i из %i",
// "%02u:%02u") are kept exactly as the module's texts need them, and GCC 12 has no <format>.
#pragma once

#include <cstdarg>
#include <string>

namespace kvtr {

#if defined(__MINGW32__)
// mingw-w64's C++ runtime formats with its own C99 printf (%zu, %lld); "printf" alone would have
// the compiler check the formats against the older Microsoft runtime.
#define KVTR_PRINTF_LIKE(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#elif defined(__GNUC__)
#define KVTR_PRINTF_LIKE(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define KVTR_PRINTF_LIKE(fmt, args)
#endif

// Formats like snprintf, into a string of whatever length the result needs.
std::string strprintf(const char* format, ...) KVTR_PRINTF_LIKE(1, 2);
std::string vstrprintf(const char* format, std::va_list args);

}  // namespace kvtr
