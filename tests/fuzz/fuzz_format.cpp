// Fuzzes FormatText with formats built from the input: literal text, the
// directives the formatter knows (any flags, width and size prefix) with an
// argument of exactly the type each reads, directives it does not know, and
// a directive cut off by the format's end. The output must equal a reference
// rendering, cut to a heap buffer of 0 to 300 units.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <charconv>
#include <climits>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/extensions.h"
#include "tests/fuzz/text_model.h"

namespace {

// Directives that take an argument, per format. Each more multiplies the
// instantiations of FormatWith by the number of argument kinds.
constexpr size_t maxArguments = 4;
constexpr size_t maxTokens = 48;
constexpr int maxCount = 300;

enum class Kind { Int, Unsigned, Long, UnsignedLong, Wide, Narrow };

struct Argument {
    Kind kind = Kind::Int;
    uint64_t bits = 0;  // integers, narrowed to their kind's type when passed
    std::u16string wide;
    std::string narrow;
    bool null = false;  // strings: pass a null pointer
};

struct Directive {
    std::u16string flags;  // '-' and '0', any order, repeats allowed
    uint64_t width = 0;    // 0: none written
    char16_t size = 0;     // u'h', u'l' or 0
    char16_t type = 0;     // 0: the format ends inside the directive

    std::u16string Written() const
    {
        std::u16string text = u"%" + flags;
        if (width != 0) {
            for (char digit : std::to_string(width))
                text += char16_t(digit);
        }
        if (size != 0)
            text += size;
        if (type != 0)
            text += type;
        return text;
    }

    bool Has(char16_t flag) const { return flags.find(flag) != std::u16string::npos; }
    int64_t Width() const { return int64_t(std::min<uint64_t>(width, INT_MAX)); }
};

struct Case {
    explicit Case(int count) : count(count), expected(size_t(count)) {}

    int count;
    std::u16string format;
    model::ExpectedText expected;
    std::array<Argument, maxArguments> arguments;
    size_t argumentCount = 0;
};

std::u16string Ascii(std::string_view text) { return {text.begin(), text.end()}; }

void AddField(Case& c, const Directive& d, std::u16string_view body)
{
    const int64_t fill = d.Width() - int64_t(body.size());
    if (!d.Has(u'-'))
        c.expected.Repeat(u' ', fill);
    c.expected.Add(body);
    if (d.Has(u'-'))
        c.expected.Repeat(u' ', fill);
}

void AddNumber(Case& c, const Directive& d, bool negative, uint32_t magnitude)
{
    const bool hex = d.type == u'x' || d.type == u'X';
    char digits[16];
    const char* end = std::to_chars(digits, digits + sizeof digits, magnitude, hex ? 16 : 10).ptr;
    std::u16string body = Ascii({digits, size_t(end - digits)});
    if (d.type == u'X') {
        for (char16_t& unit : body)
            unit = unit >= u'a' ? char16_t(unit - u'a' + u'A') : unit;
    }
    if (negative)
        body.insert(body.begin(), u'-');
    if (!d.Has(u'0') || d.Has(u'-')) {
        AddField(c, d, body);
        return;
    }
    // Zeros go between the sign and the digits.
    const size_t sign = negative ? 1 : 0;
    c.expected.Add(body.substr(0, sign));
    c.expected.Repeat(u'0', d.Width() - int64_t(body.size()));
    c.expected.Add(body.substr(sign));
}

// Integers are 32 bits wide: 'l' keeps a long's low 32 bits, 'h' the low 16.
void AddSigned(Case& c, const Directive& d, uint64_t bits)
{
    const int32_t value = d.size == u'h' ? int16_t(bits) : int32_t(bits);
    AddNumber(c, d, value < 0, value < 0 ? 0u - uint32_t(value) : uint32_t(value));
}

void AddUnsigned(Case& c, const Directive& d, uint64_t bits)
{
    AddNumber(c, d, false, d.size == u'h' ? uint16_t(bits) : uint32_t(bits));
}

// %hc shows a narrow char, which stands alone in UTF-8 only when ASCII.
void AddCharacter(Case& c, const Directive& d, uint64_t bits)
{
    const auto narrow = uint8_t(bits);
    char16_t unit = char16_t(bits);
    if (d.size == u'h')
        unit = narrow < 0x80 ? narrow : model::replacement;
    AddField(c, d, {&unit, 1});
}

void AddString(Case& c, const Directive& d, const Argument& a)
{
    if (a.null)
        AddField(c, d, u"(null)");
    else if (a.kind == Kind::Narrow)
        AddField(c, d, model::DecodeUtf8(a.narrow).text);
    else
        AddField(c, d, a.wide);
}

void AddExpected(Case& c, const Directive& d, const Argument& a)
{
    switch (d.type) {
    case u'd':
    case u'i':
        AddSigned(c, d, a.bits);
        break;
    case u'c':
        AddCharacter(c, d, a.bits);
        break;
    case u's':
        AddString(c, d, a);
        break;
    default:
        AddUnsigned(c, d, a.bits);
        break;
    }
}

Kind KindFor(const Directive& d)
{
    switch (d.type) {
    case u'd':
    case u'i':
        return d.size == u'l' ? Kind::Long : Kind::Int;
    case u'c':
        return Kind::Int;  // a WCHAR or char, promoted
    case u's':
        return d.size == u'h' ? Kind::Narrow : Kind::Wide;
    default:
        return d.size == u'l' ? Kind::UnsignedLong : Kind::Unsigned;
    }
}

// Any units but the terminator.
std::u16string ConsumeWide(FuzzedDataProvider& data, size_t maxUnits)
{
    std::u16string text;
    for (size_t n = data.ConsumeIntegralInRange<size_t>(0, maxUnits); n > 0; --n) {
        const auto unit = data.ConsumeIntegral<char16_t>();
        if (unit != 0)
            text += unit;
    }
    return text;
}

Argument ConsumeArgument(FuzzedDataProvider& data, Kind kind)
{
    Argument a;
    a.kind = kind;
    a.bits = data.ConsumeIntegral<uint64_t>();
    if (kind == Kind::Wide || kind == Kind::Narrow)
        a.null = data.ConsumeIntegralInRange(0, 7) == 0;
    if (kind == Kind::Wide)
        a.wide = ConsumeWide(data, 40);
    if (kind == Kind::Narrow) {
        const std::string bytes = data.ConsumeRandomLengthString(40);
        a.narrow = bytes.substr(0, bytes.find('\0'));
    }
    return a;
}

// Flags, width and size: everything between '%' and the type.
Directive ConsumeModifiers(FuzzedDataProvider& data)
{
    Directive d;
    for (int n = data.ConsumeIntegralInRange(0, 3); n > 0; --n)
        d.flags += data.ConsumeBool() ? u'-' : u'0';
    switch (data.ConsumeIntegralInRange(0, 3)) {
    case 1:
        d.width = data.ConsumeIntegralInRange<uint64_t>(1, 40);
        break;
    case 2:
        d.width = data.ConsumeIntegralInRange<uint64_t>(1, 400);
        break;
    case 3:  // past INT_MAX: the formatter saturates
        d.width = data.ConsumeIntegralInRange<uint64_t>(1, 999'999'999'999);
        break;
    default:
        break;
    }
    const char16_t sizes[] = {0, u'h', u'l'};
    d.size = data.PickValueInArray(sizes);
    return d;
}

void AddLiteral(Case& c, FuzzedDataProvider& data)
{
    std::u16string text = ConsumeWide(data, 16);
    std::erase(text, u'%');
    c.format += text;
    c.expected.Add(text);
}

void AddKnownDirective(Case& c, FuzzedDataProvider& data)
{
    Directive d = ConsumeModifiers(data);
    const char16_t types[] = {u'd', u'i', u'u', u'x', u'X', u'c', u's'};
    d.type = data.PickValueInArray(types);
    const Argument& a = c.arguments[c.argumentCount++] = ConsumeArgument(data, KindFor(d));
    c.format += d.Written();
    AddExpected(c, d, a);
}

// A percent sign, whatever flags and width come with it.
void AddPercent(Case& c, FuzzedDataProvider& data)
{
    Directive d = ConsumeModifiers(data);
    d.type = u'%';
    c.format += d.Written();
    c.expected.Add(u"%");
}

bool IsReserved(char16_t unit)
{
    return unit == 0 || (unit >= u'0' && unit <= u'9') ||
           std::u16string_view(u"-hl%diuxXcs").find(unit) != std::u16string_view::npos;
}

// An unknown directive is copied as written and takes no argument.
void AddUnknownDirective(Case& c, FuzzedDataProvider& data)
{
    Directive d = ConsumeModifiers(data);
    const auto type = data.ConsumeIntegral<char16_t>();
    d.type = IsReserved(type) ? u'q' : type;
    c.format += d.Written();
    c.expected.Add(d.Written());
}

void AddToken(Case& c, FuzzedDataProvider& data)
{
    switch (data.ConsumeIntegralInRange(0, 3)) {
    case 0:
        AddLiteral(c, data);
        break;
    case 1:
        if (c.argumentCount < maxArguments)
            AddKnownDirective(c, data);
        else
            AddPercent(c, data);
        break;
    case 2:
        AddUnknownDirective(c, data);
        break;
    default:
        AddPercent(c, data);
        break;
    }
}

// Calls FormatText with the case's arguments, each passed as the type its
// directive reads: one instantiation per sequence of kinds.
template <typename... Passed>
int FormatWith(const Case& c, LPWSTR buffer, size_t next, Passed... passed)
{
    if constexpr (sizeof...(Passed) < maxArguments) {
        if (next < c.argumentCount) {
            const Argument& a = c.arguments[next];
            switch (a.kind) {
            case Kind::Int:
                return FormatWith(c, buffer, next + 1, passed..., int(a.bits));
            case Kind::Unsigned:
                return FormatWith(c, buffer, next + 1, passed..., unsigned(a.bits));
            case Kind::Long:
                return FormatWith(c, buffer, next + 1, passed..., long(a.bits));
            case Kind::UnsignedLong:
                return FormatWith(c, buffer, next + 1, passed..., static_cast<unsigned long>(a.bits));
            case Kind::Wide:
                return FormatWith(c, buffer, next + 1, passed..., a.null ? nullptr : a.wide.c_str());
            case Kind::Narrow:
                return FormatWith(c, buffer, next + 1, passed..., a.null ? nullptr : a.narrow.c_str());
            }
        }
    }
    return FormatText(buffer, c.count, c.format.c_str(), passed...);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);
    Case c(data.ConsumeIntegralInRange(0, maxCount));
    const bool dangling = data.ConsumeBool();
    const std::u16string unfinished = ConsumeModifiers(data).Written();
    for (size_t tokens = 0; tokens < maxTokens && data.remaining_bytes() > 0; ++tokens)
        AddToken(c, data);
    // A directive that the format's end cuts off is copied as written.
    if (dangling) {
        c.format += unfinished;
        c.expected.Add(unfinished);
    }

    // Exactly count units, so that AddressSanitizer sees any write past them.
    const std::unique_ptr<WCHAR[]> buffer(new WCHAR[size_t(c.count)]);
    const int result = FormatWith(c, buffer.get(), 0);
    if (c.count == 0) {
        model::Require(result == 0);
        return 0;
    }
    model::Require(result >= 0 && result < c.count);
    model::Require(buffer[size_t(result)] == 0);
    const std::u16string_view output(buffer.get(), size_t(result));
    model::Require(model::IsFaithfulCut(c.expected.Text(), output, size_t(c.count - 1)));
    return 0;
}
