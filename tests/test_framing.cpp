// The echo message on its own: building it from narrow text, showing it as
// text, and receiving exactly one message over a real loopback connection
// however the peer cuts, ends or breaks it.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "core/app_state.h"
#include "core/text.h"
#include "tests/echo_support.h"
#include "tests/raw_peer.h"
#include "transport/echo_message.h"

namespace {

using namespace std::chrono_literals;

std::string Bytes(const EchoMessage& message) { return std::string(message.bytes, ECHO_MESSAGE_SIZE); }

// text followed by NULs, as a whole message's bytes.
std::string Padded(const std::string& text) { return text + std::string(ECHO_MESSAGE_SIZE - text.size(), '\0'); }

std::string Built(const std::string& text)
{
    EchoMessage message;
    std::memset(message.bytes, 'X', sizeof message.bytes);
    BuildMessage(text.c_str(), &message);
    return Bytes(message);
}

// ---- BuildMessage --------------------------------------------------------

TEST(BuildMessage, NullOrEmptyTextGivesAllNul)
{
    EXPECT_EQ(Built(""), std::string(ECHO_MESSAGE_SIZE, '\0'));
    EchoMessage message;
    std::memset(message.bytes, 'X', sizeof message.bytes);
    BuildMessage(nullptr, &message);
    EXPECT_EQ(Bytes(message), std::string(ECHO_MESSAGE_SIZE, '\0'));
}

TEST(BuildMessage, ShortTextIsPaddedWithNul)
{
    EXPECT_EQ(Built("hello"), Padded("hello"));
    EXPECT_EQ(Built("h\xC3\xA9llo \xF0\x9F\x98\x80"), Padded("h\xC3\xA9llo \xF0\x9F\x98\x80"));
}

TEST(BuildMessage, NinetyNineBytesFitWithTheirTerminator)
{
    const std::string text(99, 'a');
    EXPECT_EQ(Built(text), text + '\0');
    // A two-byte character that ends at byte 98 fits whole.
    const std::string ending = std::string(97, 'a') + "\xC3\xA9";
    EXPECT_EQ(Built(ending), ending + '\0');
}

TEST(BuildMessage, LongerAsciiTextIsCutToNinetyNineBytes)
{
    EXPECT_EQ(Built(std::string(100, 'b')), std::string(99, 'b') + '\0');
    std::string text;
    for (int i = 0; i < 150; ++i)
        text += static_cast<char>('A' + i % 26);
    EXPECT_EQ(Built(text), text.substr(0, 99) + '\0');
}

// Every way a 2-, 3- or 4-byte character can cover byte 99, the terminator's
// place: the character goes whole and the rest is NUL.
TEST(BuildMessage, ACharacterOverTheLastByteIsDroppedWhole)
{
    const std::string characters[] = {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"};
    for (const std::string& character : characters) {
        const size_t width = character.size();
        for (size_t start = 100 - width; start <= 99; ++start) {
            for (const std::string& tail : {std::string(), std::string("tail"), character}) {
                const std::string prefix(start, 'p');
                SCOPED_TRACE("width " + std::to_string(width) + ", starting at " + std::to_string(start) +
                             ", tail " + std::to_string(tail.size()));
                EXPECT_EQ(Built(prefix + character + tail), Padded(prefix));
            }
        }
        // One byte earlier the character ends at byte 98 and is kept.
        const std::string fits = std::string(99 - width, 'p') + character;
        EXPECT_EQ(Built(fits + "more text"), fits + '\0') << "width " << width;
    }
}

TEST(BuildMessage, MultiByteTextIsCutOnlyBetweenCharacters)
{
    // 40 three-byte characters: 120 bytes, of which 33 characters (99 bytes) fit.
    std::string euros;
    for (int i = 0; i < 40; ++i)
        euros += "\xE2\x82\xAC";
    EXPECT_EQ(Built(euros), euros.substr(0, 99) + '\0');
    // 30 four-byte characters: 120 bytes, of which 24 (96 bytes) fit.
    std::string faces;
    for (int i = 0; i < 30; ++i)
        faces += "\xF0\x9F\x98\x80";
    EXPECT_EQ(Built(faces), Padded(faces.substr(0, 96)));
}

// ---- MessageText ---------------------------------------------------------

TEST(MessageText, StopsAtTheFirstNul)
{
    EchoMessage message;
    std::memcpy(message.bytes, Padded("abc").data(), ECHO_MESSAGE_SIZE);
    std::memcpy(message.bytes + 10, "hidden", 6);
    char text[MESSAGE_TEXT_SIZE];
    std::memset(text, 'X', sizeof text);
    MessageText(&message, text);
    EXPECT_STREQ(text, "abc");
}

TEST(MessageText, NeverReadsPastTheHundredthByte)
{
    EchoMessage message;
    for (int i = 0; i < ECHO_MESSAGE_SIZE; ++i)
        message.bytes[i] = static_cast<char>('a' + i % 26);
    char text[MESSAGE_TEXT_SIZE];
    std::memset(text, 'X', sizeof text);
    MessageText(&message, text);
    EXPECT_EQ(std::strlen(text), 100u);
    EXPECT_EQ(std::string(text), Bytes(message));
}

TEST(MessageText, ShowsControlCharactersAsPicturesAndLineBendingOnesAsReplacements)
{
    std::string bytes = "a";
    std::u16string expected = u"a";
    for (char16_t c = 1; c < 0x20; ++c) {
        bytes += static_cast<char>(c);
        expected += static_cast<char16_t>(0x2400 + c);
    }
    bytes += "\x7F" "b";
    expected += u"\u2421b";
    for (const char* bending : {"\u200E", "\u200F", "\u2028", "\u2029", "\u202A", "\u202E", "\u2066", "\u2069"}) {
        bytes += bending;
        expected += u"\uFFFD";
    }
    bytes += "\u202F\u2065";  // neighbours that neither reorder nor break a line
    expected += u"\u202F\u2065";
    EchoMessage message;
    std::memcpy(message.bytes, Padded(bytes).data(), ECHO_MESSAGE_SIZE);
    char text[MESSAGE_TEXT_SIZE];
    MessageText(&message, text);
    EXPECT_EQ(std::string(text), Narrow(expected));

    // A hundred control bytes take all of the room.
    std::memset(message.bytes, '\n', ECHO_MESSAGE_SIZE);
    MessageText(&message, text);
    EXPECT_EQ(std::string(text), Narrow(std::u16string(ECHO_MESSAGE_SIZE, u'\u240A')));
}

// ---- WideToNarrow --------------------------------------------------------

std::string Converted(const char16_t* wide, int length)
{
    char* narrow = WideToNarrow(wide, length);
    if (narrow == nullptr)
        return "<null>";
    std::string text(narrow);
    std::free(narrow);
    return text;
}

TEST(WideToNarrow, ConvertsExactlyTheGivenCharacters)
{
    EXPECT_EQ(Converted(u"", 0), "");
    EXPECT_EQ(Converted(u"abc", 0), "");
    // The length counts no terminator: the text ends where the length says.
    EXPECT_EQ(Converted(u"abcdef", 3), "abc");
    EXPECT_EQ(Converted(u"h\u00e9llo \u20ac", 7), "h\xC3\xA9llo \xE2\x82\xAC");
}

TEST(WideToNarrow, SurrogatePairsBecomeOneCharacterAndLoneOnesAReplacement)
{
    EXPECT_EQ(Converted(u"\U0001F600", 2), "\xF0\x9F\x98\x80");
    const char16_t lone[] = {u'a', 0xD800, u'b', 0xDC00, 0};
    EXPECT_EQ(Converted(lone, 4), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
}

// ---- ReceiveMessage over loopback ---------------------------------------

// A program socket connected to a raw peer on 127.0.0.1.
class Connection : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetAppState();
        listener_ = raw::Fd(raw::Listen(raw::Family::V4));
        ASSERT_TRUE(listener_.valid());
        program_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        ASSERT_NE(program_, INVALID_SOCKET);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(raw::LocalPort(listener_.get())));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(connect(program_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        peer_ = raw::Fd(raw::Accept(listener_.get(), TEST_LIMIT_MS));
        ASSERT_TRUE(peer_.valid());
        // Every receive below is bounded.
        AppState.peerTimeoutMs.store(TEST_PEER_TIMEOUT_MS);
    }
    void TearDown() override
    {
        if (program_ != INVALID_SOCKET)
            closesocket(program_);
        ResetAppState();
    }

    // Sends pieces from a thread of the peer's own, a pause between them.
    std::thread SendPieces(std::vector<std::string> pieces)
    {
        return std::thread([this, pieces] {
            for (const std::string& piece : pieces) {
                EXPECT_TRUE(raw::Send(peer_.get(), piece));
                std::this_thread::sleep_for(30ms);
            }
        });
    }

    raw::Fd listener_;
    raw::Fd peer_;
    SOCKET program_ = INVALID_SOCKET;
};

std::string Pattern(size_t count, char first = 'A')
{
    std::string bytes;
    for (size_t i = 0; i < count; ++i)
        bytes += static_cast<char>(first + i % 26);
    return bytes;
}

TEST_F(Connection, PiecesMakeOneWholeMessage)
{
    const std::string payload = Pattern(100);
    std::thread peer = SendPieces({payload.substr(0, 1), payload.substr(1, 49), payload.substr(50, 50)});
    EchoMessage message;
    int outcome = ReceiveMessage(program_, &message, nullptr, nullptr, PeerDeadline());
    peer.join();
    EXPECT_EQ(outcome, RECEIVE_COMPLETE);
    EXPECT_EQ(Bytes(message), payload);
}

TEST_F(Connection, AnAddressBufferIsAllowed)
{
    std::thread peer = SendPieces({Pattern(30), Pattern(70)});
    EchoMessage message;
    sockaddr_storage from{};
    int fromLength = sizeof from;
    int outcome = ReceiveMessage(program_, &message, reinterpret_cast<sockaddr*>(&from), &fromLength,
                                 PeerDeadline());
    peer.join();
    EXPECT_EQ(outcome, RECEIVE_COMPLETE);
    EXPECT_EQ(Bytes(message), Pattern(30) + Pattern(70));
}

TEST_F(Connection, APeerThatClosesEarlyLeavesAnIncompleteMessage)
{
    std::thread peer([this] {
        EXPECT_TRUE(raw::Send(peer_.get(), Pattern(60)));
        raw::Close(peer_.release());
    });
    EchoMessage message;
    int outcome = ReceiveMessage(program_, &message, nullptr, nullptr, PeerDeadline());
    peer.join();
    EXPECT_EQ(outcome, RECEIVE_INCOMPLETE);
    EXPECT_EQ(Bytes(message), Padded(Pattern(60)));
}

TEST_F(Connection, APeerThatClosesAtOnceSendsNothing)
{
    raw::Close(peer_.release());
    EchoMessage message;
    EXPECT_EQ(ReceiveMessage(program_, &message, nullptr, nullptr, PeerDeadline()), RECEIVE_INCOMPLETE);
    EXPECT_EQ(Bytes(message), std::string(ECHO_MESSAGE_SIZE, '\0'));
}

TEST_F(Connection, OnlyTheFirstHundredBytesAreRead)
{
    const std::string payload = Pattern(150);
    ASSERT_TRUE(raw::Send(peer_.get(), payload));
    EchoMessage message;
    EXPECT_EQ(ReceiveMessage(program_, &message, nullptr, nullptr, PeerDeadline()), RECEIVE_COMPLETE);
    EXPECT_EQ(Bytes(message), payload.substr(0, 100));
    // The rest waits unread on the connection.
    char rest[100];
    EXPECT_EQ(recvfrom(program_, rest, sizeof rest, 0, nullptr, nullptr), 50);
    EXPECT_EQ(std::string(rest, 50), payload.substr(100));
}

TEST_F(Connection, AResetIsAnError)
{
    raw::Reset(peer_.release());
    EchoMessage message;
    EXPECT_EQ(ReceiveMessage(program_, &message, nullptr, nullptr, PeerDeadline()), RECEIVE_ERROR);
    EXPECT_EQ(WSAGetLastError(), ECONNRESET);
}

TEST_F(Connection, AResetAfterPartOfTheMessageIsAnError)
{
    std::thread peer([this] {
        EXPECT_TRUE(raw::Send(peer_.get(), Pattern(40)));
        std::this_thread::sleep_for(50ms);
        raw::Reset(peer_.release());
    });
    EchoMessage message;
    int outcome = ReceiveMessage(program_, &message, nullptr, nullptr, PeerDeadline());
    int error = WSAGetLastError();
    peer.join();
    EXPECT_EQ(outcome, RECEIVE_ERROR);
    EXPECT_EQ(error, ECONNRESET);
}

TEST_F(Connection, ATricklingPeerIsGivenUpOnAtTheDeadline)
{
    // A byte every 50 ms would take five seconds; the deadline is 300 ms away.
    std::atomic<bool> stop{false};
    std::atomic<int> sent{0};
    std::thread peer([&] {
        for (int i = 0; i < 99 && !stop && raw::Send(peer_.get(), "x"); ++i) {
            sent.fetch_add(1);
            std::this_thread::sleep_for(50ms);
        }
    });
    AppState.peerTimeoutMs.store(300);
    EchoMessage message;
    int outcome = ReceiveMessage(program_, &message, nullptr, nullptr, PeerDeadline());
    int error = WSAGetLastError();
    int sentByThen = sent.load();
    stop = true;
    peer.join();
    EXPECT_EQ(outcome, RECEIVE_ERROR);
    EXPECT_EQ(error, ETIMEDOUT);
    EXPECT_LT(sentByThen, 99);  // the peer was still trickling
}

TEST_F(Connection, SendEchoMessageSendsAllHundredBytes)
{
    EchoMessage message;
    BuildMessage("ping", &message);
    sockaddr_in unused{};
    EXPECT_EQ(SendEchoMessage(program_, &message, reinterpret_cast<sockaddr*>(&unused), sizeof unused,
                              PeerDeadline()),
              1);
    EXPECT_EQ(raw::Receive(peer_.get(), ECHO_MESSAGE_SIZE, TEST_LIMIT_MS), Padded("ping"));
    EXPECT_EQ(raw::WaitForEnd(peer_.get(), 100), raw::End::Open);
}

}  // namespace
