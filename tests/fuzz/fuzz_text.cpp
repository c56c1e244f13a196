// Fuzzes the narrow text paths on arbitrary UTF-16, two input bytes to a
// unit: WideCharToMultiByte's size query and conversion, WideToNarrow, and
// BuildMessage over its result and over the input bytes as narrow text.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "core/text.h"
#include "tests/fuzz/text_model.h"
#include "transport/echo_message.h"

namespace {

using model::Require;

// Text bytes a message holds: the last is always its NUL.
constexpr size_t textRoom = ECHO_MESSAGE_SIZE - 1;

bool IsContinuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// UTF-8 bytes that text, whose surrogates are all paired, encodes to.
size_t Utf8Length(std::u16string_view text)
{
    size_t length = 0;
    for (char16_t unit : text) {
        if (model::IsLow(unit))
            continue;  // counted with its high half
        length += unit < 0x80 ? 1 : unit < 0x800 ? 2 : model::IsHigh(unit) ? 4 : 3;
    }
    return length;
}

// Exactly the given units on the heap, so that AddressSanitizer sees any
// read past them.
std::unique_ptr<char16_t[]> HeapCopy(std::u16string_view text)
{
    std::unique_ptr<char16_t[]> copy(new char16_t[text.size()]);
    std::memcpy(copy.get(), text.data(), text.size() * sizeof(char16_t));
    return copy;
}

int Convert(const char16_t* wide, int count, char* narrow, int narrowSize)
{
    return WideCharToMultiByte(CP_UTF8, 0, wide, count, narrow, narrowSize, nullptr, nullptr);
}

// A buffer of the queried size takes the conversion; one byte less refuses it.
void CheckBufferSizes(const char16_t* wide, int count, std::string_view converted)
{
    const int size = int(converted.size());
    const std::unique_ptr<char[]> exact(new char[converted.size()]);
    Require(Convert(wide, count, exact.get(), size) == size);
    Require(std::string_view(exact.get(), converted.size()) == converted);
    if (size < 2)
        return;  // a size of 0 would be a query
    const std::unique_ptr<char[]> tooSmall(new char[converted.size() - 1]);
    Require(Convert(wide, count, tooSmall.get(), size - 1) == 0);
    Require(GetLastError() == ERROR_INSUFFICIENT_BUFFER);
}

// The narrow text is valid UTF-8 that decodes back to wide, with each
// unpaired surrogate as U+FFFD; the size query counts exactly its bytes.
void CheckNarrow(std::u16string_view wide, const char16_t* units, const char* narrow)
{
    const std::u16string expected = model::PairedOnly(wide);
    const int count = int(wide.size());
    const size_t size = wide.empty() ? 0 : size_t(Convert(units, count, nullptr, 0));
    Require(size == Utf8Length(expected));
    const std::string_view converted(narrow, size);
    Require(narrow[size] == '\0');
    const model::Decoded decoded = model::DecodeUtf8(converted);
    Require(decoded.valid && decoded.text == expected);
    if (!wide.empty())
        CheckBufferSizes(units, count, converted);
}

// With a count of -1 the query runs up to the first NUL and counts it too.
void CheckTerminatedQuery(std::u16string_view wide)
{
    const std::u16string terminated(wide.substr(0, wide.find(u'\0')));
    const auto units = HeapCopy({terminated.c_str(), terminated.size() + 1});
    const size_t size = size_t(Convert(units.get(), -1, nullptr, 0));
    Require(size == Utf8Length(model::PairedOnly(terminated)) + 1);
}

// The message holds the longest prefix of text that ends at a character
// start and leaves room for the NUL, then NULs to its end.
void CheckMessage(std::string_view text, const EchoMessage& message)
{
    const std::string_view bytes(message.bytes, ECHO_MESSAGE_SIZE);
    const size_t kept = bytes.find('\0');
    Require(kept <= textRoom);
    Require(bytes.find_first_not_of('\0', kept) == std::string_view::npos);
    Require(bytes.substr(0, kept) == text.substr(0, kept));
    if (model::DecodeUtf8(text).valid)
        Require(model::DecodeUtf8(bytes.substr(0, kept)).valid);
    if (kept == text.size())
        return;
    // Text of nothing but continuation bytes has no character start but 0.
    Require(text.size() > textRoom && (kept == 0 || !IsContinuation(text[kept])));
    for (size_t i = kept + 1; i <= textRoom; ++i)
        Require(IsContinuation(text[i]));
}

void CheckBuildMessage(const char* text)
{
    EchoMessage message;
    std::memset(&message, 0xA5, sizeof message);
    BuildMessage(text, &message);
    CheckMessage(text, message);
}

void CheckWide(std::u16string_view wide)
{
    const auto units = HeapCopy(wide);
    char* narrow = WideToNarrow(units.get(), int(wide.size()));
    Require(narrow != nullptr);
    CheckNarrow(wide, units.get(), narrow);
    CheckBuildMessage(narrow);
    std::free(narrow);
    CheckTerminatedQuery(wide);
}

// The input's bytes up to the first NUL, as a C string of exactly that size.
void CheckRawNarrow(const uint8_t* bytes, size_t size)
{
    const size_t length = std::string_view(reinterpret_cast<const char*>(bytes), size).find('\0');
    const size_t kept = length == std::string_view::npos ? size : length;
    const std::unique_ptr<char[]> text(new char[kept + 1]);
    std::memcpy(text.get(), bytes, kept);
    text[kept] = '\0';
    CheckBuildMessage(text.get());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    std::u16string wide(size / 2, u'\0');
    std::memcpy(wide.data(), bytes, wide.size() * sizeof(char16_t));
    CheckWide(wide);
    CheckRawNarrow(bytes, size);
    return 0;
}
