// The compiler's check of the program's own printf-style functions (the log's
// messages, format()): formatArg is the position of the format text, firstArg
// that of the first value. MinGW takes "printf" for the Microsoft C library's
// dialect; the program formats in the ISO dialect everywhere, which MinGW's
// compiler calls "gnu_printf".
#pragma once

#if defined(__MINGW32__)
#define TV_PRINTF_FORMAT(formatArg, firstArg) \
  __attribute__((format(gnu_printf, formatArg, firstArg)))
#elif defined(__GNUC__)
#define TV_PRINTF_FORMAT(formatArg, firstArg) __attribute__((format(printf, formatArg, firstArg)))
#else
#define TV_PRINTF_FORMAT(formatArg, firstArg)
#endif
