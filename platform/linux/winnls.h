// Text conversion.
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

