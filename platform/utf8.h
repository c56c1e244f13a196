// UTF-8 and UTF-16 code unit helpers shared by the text conversion, the
// wide formatting code and the display of a peer's text.
#pragma once

#include <windows.h>

namespace utf8 {

// Stands in for every unit or byte sequence that is not valid text.
inline constexpr char32_t replacementCharacter = 0xFFFD;

constexpr bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

constexpr bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

constexpr char32_t CombineSurrogates(WCHAR high, WCHAR low)
{
    return 0x10000 + ((char32_t(high) - 0xD800) << 10) + (char32_t(low) - 0xDC00);
}

// Number of UTF-8 bytes that encode codePoint, a scalar value.
constexpr int EncodedLength(char32_t codePoint)
{
    if (codePoint < 0x80)
        return 1;
    if (codePoint < 0x800)
        return 2;
    return codePoint < 0x10000 ? 3 : 4;
}

// Writes the UTF-8 form of codePoint, a scalar value, to out, which has
// room for EncodedLength(codePoint) bytes.
inline void Encode(char32_t codePoint, char* out)
{
    const int length = EncodedLength(codePoint);
    if (length == 1) {
        out[0] = char(codePoint);
        return;
    }
    // The lead byte carries as many high 1 bits as the sequence has bytes.
    static constexpr unsigned char leadMarks[] = {0, 0, 0xC0, 0xE0, 0xF0};
    for (int i = length - 1; i > 0; --i) {
        out[i] = char(0x80 | (codePoint & 0x3F));
        codePoint >>= 6;
    }
    out[0] = char(leadMarks[length] | codePoint);
}

// Range the second byte of a sequence must fall in. The narrowed ranges
// after E0, ED, F0 and F4 reject overlong forms, surrogates and values
// above U+10FFFF at the earliest byte that shows them.
struct SecondByteRange {
    unsigned char low;
    unsigned char high;
};

constexpr SecondByteRange SecondByteRangeAfter(unsigned char lead)
{
    switch (lead) {
    case 0xE0: return {0xA0, 0xBF};
    case 0xED: return {0x80, 0x9F};
    case 0xF0: return {0x90, 0xBF};
    case 0xF4: return {0x80, 0x8F};
    default: return {0x80, 0xBF};
    }
}

// Bytes in the sequence a lead byte starts; 0 for a byte that cannot lead.
constexpr int SequenceLength(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    return lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
}

// Decodes the code point at cursor, which must not point at the
// terminating NUL, and moves cursor past it. An invalid sequence yields
// one replacementCharacter for its longest valid-looking prefix, and
// decoding resumes at the first byte that broke it; a NUL always breaks
// a sequence, so the cursor never passes the terminator.
inline char32_t Decode(const char*& cursor)
{
    const auto lead = static_cast<unsigned char>(*cursor++);
    const int length = SequenceLength(lead);
    if (length <= 1)
        return length == 1 ? char32_t(lead) : replacementCharacter;
    char32_t codePoint = lead & (0x7F >> length);
    SecondByteRange range = SecondByteRangeAfter(lead);
    for (int i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(*cursor);
        if (next < range.low || next > range.high)
            return replacementCharacter;
        codePoint = (codePoint << 6) | (next & 0x3F);
        ++cursor;
        range = {0x80, 0xBF};
    }
    return codePoint;
}

}  // namespace utf8
