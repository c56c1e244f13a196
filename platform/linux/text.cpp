// UTF-16 to narrow text conversion. Every narrow code page is UTF-8 here.
#include <climits>
#include <cstdint>

#include "platform/utf8.h"
#include "platform/linux/winbase.h"
#include "platform/linux/winnls.h"

namespace {

bool IsUtf8CodePage(UINT codePage) { return codePage == CP_ACP || codePage == CP_UTF8; }

// Units in wide up to and including its NUL, or -1 when that exceeds INT_MAX.
int TerminatedLength(LPCWSTR wide)
{
    for (int length = 0; length < INT_MAX; ++length) {
        if (wide[length] == 0)
            return length + 1;
    }
    return -1;
}

// Reads the code point at cursor and moves past it. An unpaired surrogate
// reads as the replacement character.
char32_t NextCodePoint(LPCWSTR& cursor, LPCWSTR end)
{
    const WCHAR unit = *cursor++;
    if (utf8::IsHighSurrogate(unit) && cursor != end && utf8::IsLowSurrogate(*cursor))
        return utf8::CombineSurrogates(unit, *cursor++);
    if (utf8::IsHighSurrogate(unit) || utf8::IsLowSurrogate(unit))
        return utf8::replacementCharacter;
    return unit;
}

// UTF-8 bytes the units [wide, end) convert to; at most three per unit.
int64_t EncodedSize(LPCWSTR wide, LPCWSTR end)
{
    int64_t size = 0;
    while (wide != end)
        size += utf8::EncodedLength(NextCodePoint(wide, end));
    return size;
}

// Converts [wide, end) into narrow. Returns the bytes written, or -1 as
// soon as the next character would not fit in narrowSize bytes.
int EncodeInto(LPCWSTR wide, LPCWSTR end, LPSTR narrow, int narrowSize)
{
    int written = 0;
    while (wide != end) {
        const char32_t codePoint = NextCodePoint(wide, end);
        const int length = utf8::EncodedLength(codePoint);
        if (length > narrowSize - written)
            return -1;
        utf8::Encode(codePoint, narrow + written);
        written += length;
    }
    return written;
}

bool ArgumentsValid(UINT codePage, LPCWSTR wide, int wideCount, LPSTR narrow, int narrowSize)
{
    return IsUtf8CodePage(codePage) && wide != nullptr && (wideCount > 0 || wideCount == -1) &&
           narrowSize >= 0 && (narrowSize == 0 || narrow != nullptr);
}

int Fail(DWORD error)
{
    SetLastError(error);
    return 0;
}

}  // namespace

int WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR wide, int wideCount, LPSTR narrow,
                        int narrowSize, LPCSTR, LPBOOL usedDefaultChar)
{
    if (!ArgumentsValid(codePage, wide, wideCount, narrow, narrowSize))
        return Fail(ERROR_INVALID_PARAMETER);
    const int length = wideCount == -1 ? TerminatedLength(wide) : wideCount;
    if (length < 0)
        return Fail(ERROR_INVALID_PARAMETER);
    // UTF-8 can encode every character, so no default character is used.
    if (usedDefaultChar != nullptr)
        *usedDefaultChar = FALSE;
    if (narrowSize == 0) {
        const int64_t size = EncodedSize(wide, wide + length);
        return size <= INT_MAX ? int(size) : Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    const int written = EncodeInto(wide, wide + length, narrow, narrowSize);
    return written >= 0 ? written : Fail(ERROR_INSUFFICIENT_BUFFER);
}
