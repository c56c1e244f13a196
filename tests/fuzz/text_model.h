// Reference answers for the fuzz targets' checks: UTF-8 decoding with the
// replacement character, unpaired surrogates, and how a bounded formatter
// may cut its output. Written apart from the program's text code so that
// the two can disagree.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

namespace model {

// Ends the run at the first broken promise; libFuzzer keeps the input.
inline void Require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

inline constexpr char16_t replacement = 0xFFFD;

constexpr bool IsHigh(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
constexpr bool IsLow(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

inline void AppendCodePoint(std::u16string& out, char32_t codePoint)
{
    if (codePoint < 0x10000) {
        out += char16_t(codePoint);
        return;
    }
    codePoint -= 0x10000;
    out += char16_t(0xD800 | (codePoint >> 10));
    out += char16_t(0xDC00 | (codePoint & 0x3FF));
}

// UTF-8 decoding as browsers do it: each maximal invalid subpart of a
// sequence becomes one U+FFFD, and the byte that broke it starts afresh.
class Utf8Decoder {
public:
    std::u16string text;
    bool valid = true;

    // Returns false when byte broke the pending sequence and must be fed again.
    bool Feed(unsigned char byte) { return needed == 0 ? Start(byte) : Continue(byte); }

    void Finish()
    {
        if (needed != 0)
            Fail();
    }

private:
    char32_t codePoint = 0;
    int needed = 0;
    unsigned char lower = 0x80;
    unsigned char upper = 0xBF;

    bool Start(unsigned char byte)
    {
        if (byte < 0x80)
            text += char16_t(byte);
        else if (byte >= 0xC2 && byte <= 0xDF)
            Expect(1, byte & 0x1F, 0x80, 0xBF);
        else if (byte >= 0xE0 && byte <= 0xEF)
            Expect(2, byte & 0x0F, byte == 0xE0 ? 0xA0 : 0x80, byte == 0xED ? 0x9F : 0xBF);
        else if (byte >= 0xF0 && byte <= 0xF4)
            Expect(3, byte & 0x07, byte == 0xF0 ? 0x90 : 0x80, byte == 0xF4 ? 0x8F : 0xBF);
        else
            Fail();
        return true;
    }

    bool Continue(unsigned char byte)
    {
        if (byte < lower || byte > upper) {
            Fail();
            return false;
        }
        codePoint = (codePoint << 6) | (byte & 0x3F);
        lower = 0x80;
        upper = 0xBF;
        if (--needed == 0)
            AppendCodePoint(text, codePoint);
        return true;
    }

    void Expect(int more, char32_t bits, unsigned char low, unsigned char high)
    {
        needed = more;
        codePoint = bits;
        lower = low;
        upper = high;
    }

    void Fail()
    {
        text += replacement;
        valid = false;
        needed = 0;
        lower = 0x80;
        upper = 0xBF;
    }
};

struct Decoded {
    std::u16string text;
    bool valid;  // no replacement was needed
};

inline Decoded DecodeUtf8(std::string_view bytes)
{
    Utf8Decoder decoder;
    for (size_t i = 0; i < bytes.size();) {
        if (decoder.Feed(static_cast<unsigned char>(bytes[i])))
            ++i;
    }
    decoder.Finish();
    return {decoder.text, decoder.valid};
}

// The text with each unpaired surrogate replaced by U+FFFD.
inline std::u16string PairedOnly(std::u16string_view text)
{
    std::u16string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool paired = i + 1 < text.size() && IsHigh(text[i]) && IsLow(text[i + 1]);
        if (paired) {
            out.append(text.substr(i++, 2));
            continue;
        }
        out += IsHigh(text[i]) || IsLow(text[i]) ? replacement : text[i];
    }
    return out;
}

inline bool HasUnpairedSurrogate(std::u16string_view text) { return PairedOnly(text) != text; }

// A formatter's full output, kept only up to limit units: the checks need
// no more than one unit past the buffer, however wide a field is.
class ExpectedText {
public:
    explicit ExpectedText(size_t limit) : limit(limit) {}

    void Add(std::u16string_view units) { text.append(units.substr(0, Room())); }

    void Repeat(char16_t unit, int64_t times)
    {
        if (times > 0)
            text.append(std::min(size_t(times), Room()), unit);
    }

    const std::u16string& Text() const { return text; }

private:
    size_t Room() const { return limit - text.size(); }

    std::u16string text;
    size_t limit;
};

// Whether output is what a buffer with room for capacity units (terminator
// excluded) may keep of full: all of it when it fits, else its first
// capacity units, less a high surrogate left last. That unit must go when
// it lost its low half, and may go when it was unpaired anyway.
inline bool IsFaithfulCut(std::u16string_view full, std::u16string_view output, size_t capacity)
{
    if (full.size() <= capacity)
        return output == full;
    const std::u16string_view kept = full.substr(0, capacity);
    if (kept.empty() || !IsHigh(kept.back()))
        return output == kept;
    const std::u16string_view shorter = kept.substr(0, capacity - 1);
    return output == shorter || (!IsLow(full[capacity]) && output == kept);
}

}  // namespace model
