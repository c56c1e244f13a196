// Fuzzes how a received message reaches the log: MessageText on any 100
// bytes (the input's first, padded with NULs) must show each character as
// itself, but for those that would hide or forge a line, by Unicode's own
// tables as Qt has them, and never overrun its buffer; then each log line that shows a message is formatted into a
// buffer of the log's size. The peer's name is the input's remaining bytes,
// so that lines also run past the buffer.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <QList>
#include <QStringView>

#include "core/event_log.h"
#include "platform/extensions.h"
#include "tests/fuzz/text_model.h"
#include "tests/support/unicode_judge.h"
#include "transport/echo_message.h"
#include "transport/message_text.h"

namespace {

using model::Require;

// Longer than any host name, and enough to overrun a log line.
constexpr size_t maxNameBytes = 300;

// The log lines that show a message's text: after the peer's name when
// they show one.
struct LogLine {
    const char16_t* format;
    bool showsName;
};

constexpr LogLine logLines[] = {
    {u"Received from client(%hs) <---- %hs\r\n", true},
    {u"Send Echo to client ---->%hs\r\n", false},
    {u"Received Echo from server(%hs) <---- %hs\r\n", true},
    {u"Sent to server(%hs) ----> %hs\r\n", true},
};

EchoMessage MessageFrom(const uint8_t* bytes, size_t size)
{
    EchoMessage message{};
    std::memcpy(message.bytes, bytes, std::min(size, sizeof message.bytes));
    return message;
}

// The display's promise, said of decoded text: C0 control characters as
// their pictures, and those Unicode's tables judge replaced as U+FFFD.
bool ShownAsPromised(std::u16string_view text, std::u16string_view shown)
{
    const QList<uint> characters = QStringView(text).toUcs4();
    const QList<uint> shownCharacters = QStringView(shown).toUcs4();
    if (characters.size() != shownCharacters.size())
        return false;
    for (qsizetype i = 0; i < characters.size(); ++i) {
        const char32_t character = characters[i];
        const bool control = character < 0x20 || character == 0x7F;
        const Judged judged = control ? Judged::Shown : JudgedByUnicode(character);
        char32_t promised = judged == Judged::Replaced ? model::replacement : character;
        if (control)
            promised = character == 0x7F ? 0x2421 : 0x2400 + character;
        if (shownCharacters[i] != promised && !(judged == Judged::Either && shownCharacters[i] == model::replacement))
            return false;
    }
    return true;
}

// The text is the message's bytes up to its first NUL, or all 100, shown
// as promised, within its buffer.
std::string CheckedText(const EchoMessage& message)
{
    const std::unique_ptr<char[]> text(new char[MESSAGE_TEXT_SIZE]);
    std::memset(text.get(), 0xA5, MESSAGE_TEXT_SIZE);
    MessageText(&message, text.get());
    const std::string_view shown(text.get(), strnlen(text.get(), MESSAGE_TEXT_SIZE));
    Require(shown.size() < MESSAGE_TEXT_SIZE);
    const std::string_view bytes(message.bytes, ECHO_MESSAGE_SIZE);
    Require(ShownAsPromised(model::DecodeUtf8(bytes.substr(0, bytes.find('\0'))).text, model::DecodeUtf8(shown).text));
    return std::string(shown);
}

// The line's format with each %hs replaced by the next of texts, decoded.
std::u16string ExpectedLine(std::u16string_view format, const std::vector<std::string>& texts)
{
    std::u16string line;
    for (const std::string& text : texts) {
        const size_t directive = format.find(u"%hs");
        line += format.substr(0, directive);
        line += model::DecodeUtf8(text).text;
        format.remove_prefix(directive + 3);
    }
    return line + std::u16string(format);
}

// The line fits the log's buffer, cut if it must be, with no unpaired
// surrogate: invalid bytes show as U+FFFD, and no pair is split.
void CheckLine(const LogLine& line, const std::string& name, const std::string& text)
{
    const std::unique_ptr<WCHAR[]> buffer(new WCHAR[LOG_LINE_CHARS]);
    std::vector<std::string> texts{text};
    int result;
    if (line.showsName) {
        result = FormatText(buffer.get(), LOG_LINE_CHARS, line.format, name.c_str(), text.c_str());
        texts.insert(texts.begin(), name);
    } else {
        result = FormatText(buffer.get(), LOG_LINE_CHARS, line.format, text.c_str());
    }
    Require(result >= 0 && result < LOG_LINE_CHARS);
    Require(buffer[size_t(result)] == 0);
    const std::u16string_view output(buffer.get(), size_t(result));
    Require(!model::HasUnpairedSurrogate(output));
    Require(model::IsFaithfulCut(ExpectedLine(line.format, texts), output, LOG_LINE_CHARS - 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    const std::string text = CheckedText(MessageFrom(bytes, size));
    const size_t used = std::min<size_t>(size, ECHO_MESSAGE_SIZE);
    std::string name(reinterpret_cast<const char*>(bytes) + used,
                     std::min(size - used, maxNameBytes));
    name.resize(std::min(name.size(), name.find('\0')));
    for (const LogLine& line : logLines)
        CheckLine(line, name, text);
    return 0;
}
