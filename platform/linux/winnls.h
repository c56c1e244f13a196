// Text conversion and wide formatting.
#pragma once

#include <cstdarg>

#include "platform/linux/windef.h"

#define CP_ACP 0
#define CP_UTF8 65001

// Converts wideCount UTF-16 units of wide (or up to and including its NUL
// when wideCount is -1) to the narrow code page, UTF-8. With narrowSize 0
// returns the bytes needed; otherwise writes at most narrowSize bytes and
// returns the count written, or 0 with ERROR_INSUFFICIENT_BUFFER when they
// do not fit. An unpaired surrogate becomes U+FFFD.
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideCount,
                        LPSTR narrow, int narrowSize, LPCSTR defaultChar,
                        LPBOOL usedDefaultChar);

// printf-style wide formatting into buffer, which holds count characters
// terminator included. Directives: %d %i %u %x %X %c %s (wide) %hs (narrow
// UTF-8, invalid bytes shown as U+FFFD) %ls %%, with the flags '-' and '0',
// a width, and the size prefixes h and l. The output is cut to fit, never
// inside a surrogate pair, and always terminated when count > 0. Returns
// the number of characters stored, terminator excluded.
int wvsprintfW(LPWSTR buffer, int count, LPCWSTR format, va_list args);
int wsprintfW(LPWSTR buffer, int count, LPCWSTR format, ...);
