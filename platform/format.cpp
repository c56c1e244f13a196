// printf-style formatting into caller-sized UTF-16 buffers. It formats every
// log line, so it works in place: no allocation, one pass over the format.
#include <climits>
#include <cstdarg>
#include <cstdint>

#include "platform/utf8.h"
#include "platform/extensions.h"

namespace {

// Collects output in the caller's buffer, keeping room for the terminator.
// The first unit that does not fit cuts the output; nothing after it is kept.
class BoundedOutput {
public:
    BoundedOutput(LPWSTR buffer, int count) : buffer(buffer), capacity(count - 1) {}

    bool IsCut() const { return cut; }

    void Put(WCHAR unit)
    {
        if (length < capacity)
            buffer[length++] = unit;
        else
            cut = true;
    }

    void PutCodePoint(char32_t codePoint)
    {
        if (codePoint < 0x10000) {
            Put(WCHAR(codePoint));
            return;
        }
        codePoint -= 0x10000;
        Put(WCHAR(0xD800 + (codePoint >> 10)));
        Put(WCHAR(0xDC00 + (codePoint & 0x3FF)));
    }

    void PutRange(LPCWSTR first, LPCWSTR last)
    {
        while (first != last && !cut)
            Put(*first++);
    }

    void Repeat(WCHAR unit, int times)
    {
        for (int i = 0; i < times && !cut; ++i)
            Put(unit);
    }

    // Terminates the buffer and returns the units stored before the terminator.
    int Finish()
    {
        // A high surrogate left last by the cut lost its pair's other half.
        if (cut && length > 0 && utf8::IsHighSurrogate(buffer[length - 1]))
            --length;
        buffer[length] = 0;
        return length;
    }

private:
    LPWSTR buffer;
    int capacity;
    int length = 0;
    bool cut = false;
};

struct Directive {
    bool leftAlign = false;
    bool zeroPad = false;
    int width = 0;
    WCHAR size = 0;  // u'h', u'l' or 0
    WCHAR type = 0;  // 0 when the format ends inside the directive
};

// Reads a decimal width, saturating at INT_MAX; the output bound cuts any
// padding that large anyway.
int ParseWidth(LPCWSTR& cursor)
{
    int width = 0;
    for (; *cursor >= u'0' && *cursor <= u'9'; ++cursor)
        width = width > (INT_MAX - 9) / 10 ? INT_MAX : width * 10 + (*cursor - u'0');
    return width;
}

// Parses the directive that follows a '%' and moves cursor past it, but
// never past the format's terminator.
Directive ParseDirective(LPCWSTR& cursor)
{
    Directive directive;
    for (;; ++cursor) {
        if (*cursor == u'-')
            directive.leftAlign = true;
        else if (*cursor == u'0')
            directive.zeroPad = true;
        else
            break;
    }
    directive.width = ParseWidth(cursor);
    if (*cursor == u'h' || *cursor == u'l')
        directive.size = *cursor++;
    directive.type = *cursor;
    if (*cursor != 0)
        ++cursor;
    return directive;
}

// Integers are 32 bits wide, as on the platform: 'l' reads a long and keeps
// its low 32 bits, 'h' keeps the low 16.
int32_t ReadSigned(const Directive& directive, va_list& args)
{
    if (directive.size == u'l')
        return int32_t(va_arg(args, long));
    const int value = va_arg(args, int);
    return directive.size == u'h' ? int16_t(value) : value;
}

uint32_t ReadUnsigned(const Directive& directive, va_list& args)
{
    if (directive.size == u'l')
        return uint32_t(va_arg(args, unsigned long));
    const unsigned value = va_arg(args, unsigned);
    return directive.size == u'h' ? uint16_t(value) : value;
}

// Space for the digits of any 32-bit value in base 10 or 16.
constexpr int maxDigits = 10;

// Writes the digits of value to the end of digits and returns where they start.
int FormatDigits(uint32_t value, uint32_t base, bool upperCase, WCHAR (&digits)[maxDigits])
{
    const char* symbols = upperCase ? "0123456789ABCDEF" : "0123456789abcdef";
    int first = maxDigits;
    do {
        digits[--first] = WCHAR(symbols[value % base]);
        value /= base;
    } while (value != 0);
    return first;
}

// Pads a field of length units with spaces to the directive's width, on
// the side away from its alignment; putBody writes the field itself.
template <typename PutBody>
void PutField(BoundedOutput& out, const Directive& directive, int length, PutBody putBody)
{
    const int fill = directive.width > length ? directive.width - length : 0;
    if (!directive.leftAlign)
        out.Repeat(u' ', fill);
    putBody();
    if (directive.leftAlign)
        out.Repeat(u' ', fill);
}

void PutNumber(BoundedOutput& out, const Directive& directive, bool negative, uint32_t magnitude,
               uint32_t base, bool upperCase)
{
    WCHAR digits[maxDigits];
    const int first = FormatDigits(magnitude, base, upperCase, digits);
    const int length = maxDigits - first + (negative ? 1 : 0);
    if (directive.zeroPad && !directive.leftAlign) {
        // Zeros go between the sign and the digits.
        if (negative)
            out.Put(u'-');
        out.Repeat(u'0', directive.width - length);
        out.PutRange(digits + first, digits + maxDigits);
        return;
    }
    PutField(out, directive, length, [&] {
        if (negative)
            out.Put(u'-');
        out.PutRange(digits + first, digits + maxDigits);
    });
}

void PutSigned(BoundedOutput& out, const Directive& directive, va_list& args)
{
    const int32_t value = ReadSigned(directive, args);
    // Negating in unsigned arithmetic also covers INT_MIN.
    const uint32_t magnitude = value < 0 ? 0u - uint32_t(value) : uint32_t(value);
    PutNumber(out, directive, value < 0, magnitude, 10, false);
}

void PutUnsigned(BoundedOutput& out, const Directive& directive, va_list& args)
{
    const bool hex = directive.type == u'x' || directive.type == u'X';
    PutNumber(out, directive, false, ReadUnsigned(directive, args), hex ? 16 : 10,
              directive.type == u'X');
}

// %c takes a WCHAR; %hc takes a narrow char, which only stands alone in
// UTF-8 when it is ASCII.
void PutCharacter(BoundedOutput& out, const Directive& directive, va_list& args)
{
    const int value = va_arg(args, int);
    WCHAR unit = WCHAR(value);
    if (directive.size == u'h')
        unit = (value & 0xFF) < 0x80 ? WCHAR(value & 0xFF) : WCHAR(utf8::replacementCharacter);
    PutField(out, directive, 1, [&] { out.Put(unit); });
}

// Units in text before its NUL, counting no further than limit.
int WideLengthUpTo(LPCWSTR text, int limit)
{
    int length = 0;
    while (length < limit && text[length] != 0)
        ++length;
    return length;
}

// UTF-16 units that narrow text decodes to, counting no further than limit.
int DecodedLengthUpTo(LPCSTR text, int limit)
{
    int length = 0;
    while (length < limit && *text != 0)
        length += utf8::Decode(text) < 0x10000 ? 1 : 2;
    return length;
}

void PutWideString(BoundedOutput& out, const Directive& directive, LPCWSTR text)
{
    if (text == nullptr)
        text = TEXT("(null)");
    PutField(out, directive, WideLengthUpTo(text, directive.width), [&] {
        while (*text != 0 && !out.IsCut())
            out.Put(*text++);
    });
}

void PutNarrowString(BoundedOutput& out, const Directive& directive, LPCSTR text)
{
    if (text == nullptr)
        text = "(null)";
    PutField(out, directive, DecodedLengthUpTo(text, directive.width), [&] {
        while (*text != 0 && !out.IsCut())
            out.PutCodePoint(utf8::Decode(text));
    });
}

void PutString(BoundedOutput& out, const Directive& directive, va_list& args)
{
    if (directive.size == u'h')
        PutNarrowString(out, directive, va_arg(args, LPCSTR));
    else
        PutWideString(out, directive, va_arg(args, LPCWSTR));
}

// Formats one directive; returns false for one it does not know, which
// then consumes no argument.
bool PutDirective(BoundedOutput& out, const Directive& directive, va_list& args)
{
    switch (directive.type) {
    case u'd':
    case u'i':
        PutSigned(out, directive, args);
        return true;
    case u'u':
    case u'x':
    case u'X':
        PutUnsigned(out, directive, args);
        return true;
    case u'c':
        PutCharacter(out, directive, args);
        return true;
    case u's':
        PutString(out, directive, args);
        return true;
    case u'%':
        out.Put(u'%');
        return true;
    default:
        return false;
    }
}

}  // namespace

int FormatTextV(LPWSTR buffer, int count, LPCWSTR format, va_list args)
{
    if (buffer == nullptr || format == nullptr || count <= 0)
        return 0;
    BoundedOutput out(buffer, count);
    // A copy, so that the helpers can share one argument cursor by reference.
    va_list arguments;
    va_copy(arguments, args);
    while (*format != 0 && !out.IsCut()) {
        if (*format != u'%') {
            out.Put(*format++);
            continue;
        }
        const LPCWSTR start = format++;
        const Directive directive = ParseDirective(format);
        // An unknown directive is copied as written.
        if (!PutDirective(out, directive, arguments))
            out.PutRange(start, format);
    }
    va_end(arguments);
    return out.Finish();
}

int FormatText(LPWSTR buffer, int count, LPCWSTR format, ...)
{
    va_list args;
    va_start(args, format);
    const int length = FormatTextV(buffer, count, format, args);
    va_end(args);
    return length;
}
