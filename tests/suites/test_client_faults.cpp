// The client on the real dialog against a test server on loopback that
// answers each connection as its script says: with an echo, or with a
// reset, an early close, half an echo, an echo in ten slow pieces, or
// silence. ClientConnect and ClientExchange run on the dialog's thread, as
// a Send press runs them. Each fault gets its own log line, and the Send
// after it, to a server that echoes, is served as if nothing had happened.
// The Windows build runs these too, with Winsock's error codes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "core/app_state.h"
#include "frontend/resource.h"
#include "tests/support/echo_bytes.h"
#include "tests/support/echo_support.h"
#include "tests/support/raw_peer.h"
#include "transport/client.h"
#include "transport/echo_message.h"

namespace {

using namespace std::chrono_literals;

// The peer time-out for a Send to a silent server; every other Send keeps
// the long one.
constexpr DWORD SILENT_TIMEOUT_MS = 300;
// Descriptors the toolkit may open or close on its own between counts.
constexpr int DESCRIPTOR_SLACK = 5;

enum class Answer {
    Echo,               // sends the message back
    ResetAtOnce,        // resets as soon as it has the connection
    ResetAfterMessage,  // reads the message, then resets
    CloseAfterMessage,  // reads the message, then closes
    HalfThenClose,      // sends back the first 50 bytes, then closes
    HalfThenReset,      // sends back the first 50 bytes, then resets
    Trickle,            // sends back 10 bytes every 10 ms
    Silent,             // reads the message and says nothing
};

// A test server that answers one connection after another, each as the
// script says, on a thread of its own.
class ScriptedServer {
public:
    explicit ScriptedServer(std::vector<Answer> script)
        : script_(std::move(script)), listener_(raw::Listen(raw::Family::V4)),
          received_(script_.size()), ends_(script_.size(), raw::End::Failed)
    {
        if (!listener_.valid()) {
            ADD_FAILURE() << "no listener on loopback";
            return;
        }
        thread_ = std::thread([this] { Run(); });
    }
    ~ScriptedServer() { Join(); }
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    std::string Port() const { return std::to_string(raw::LocalPort(listener_.get())); }
    // Connections answered and closed so far.
    int Answered() const { return answered_.load(); }
    // Waits, running the dialog's events, until count connections were answered.
    bool WaitForAnswered(int count)
    {
        return PumpUntil([&] { return answered_.load() >= count; });
    }
    void Join()
    {
        if (thread_.joinable())
            thread_.join();
    }

    // After Join: the message that came on each connection, and how a
    // silent connection ended.
    const std::vector<std::string>& Received() const { return received_; }
    const std::vector<raw::End>& Ends() const { return ends_; }

private:
    void Run()
    {
        for (size_t i = 0; i < script_.size(); ++i) {
            raw::Fd connection(raw::Accept(listener_.get(), TEST_LIMIT_MS));
            if (!connection.valid())
                return;  // the test has stopped sending; it fails on the missing answers
            if (script_[i] != Answer::ResetAtOnce)
                received_[i] = raw::Receive(connection.get(), ECHO_MESSAGE_SIZE, TEST_LIMIT_MS);
            const std::string& message = received_[i];
            switch (script_[i]) {
            case Answer::Echo:
                raw::Send(connection.get(), message);
                break;
            case Answer::ResetAtOnce:
            case Answer::ResetAfterMessage:
                raw::Reset(connection.release());
                break;
            case Answer::CloseAfterMessage:
                break;
            case Answer::HalfThenClose:
                raw::Send(connection.get(), message.substr(0, ECHO_MESSAGE_SIZE / 2));
                break;
            case Answer::HalfThenReset:
                raw::Send(connection.get(), message.substr(0, ECHO_MESSAGE_SIZE / 2));
                raw::Reset(connection.release());
                break;
            case Answer::Trickle:
                for (size_t at = 0; at < message.size(); at += 10) {
                    if (at > 0)
                        std::this_thread::sleep_for(10ms);
                    raw::Send(connection.get(), message.substr(at, 10));
                }
                break;
            case Answer::Silent:
                // Until the client lets go of the connection.
                ends_[i] = raw::WaitForEnd(connection.get(), TEST_LIMIT_MS);
                break;
            }
            connection = raw::Fd();
            answered_.fetch_add(1);
        }
    }

    std::vector<Answer> script_;
    raw::Fd listener_;
    std::vector<std::string> received_;
    std::vector<raw::End> ends_;
    std::atomic<int> answered_{0};
    std::thread thread_;
};

WideText SentLine(const std::string& text) { return Wide("Sent to server(127.0.0.1) ----> " + text + "\r\n"); }
WideText EchoLine(const std::string& text)
{
    return Wide("Received Echo from server(127.0.0.1) <---- " + text + "\r\n");
}
WideText ReceiveErrorLine(int error)
{
    return Wide("ERROR: Couldn't receive the data! Error = " + std::to_string(error) + "\r\n");
}
WideText SendErrorLine(int error)
{
    return Wide("ERROR: Couldn't send the data! error = " + std::to_string(error) + "\r\n");
}
const WideText SHORT_ECHO_LINE = TEXT("ERROR: Server didn't send back all the expected data!\r\n");

// One Send: the data field's text, and how the server answers it.
struct Step {
    Answer answer;
    std::string data;
};

// What the log shows for a step.
WideText ExpectedLog(const Step& step)
{
    switch (step.answer) {
    case Answer::Echo:
    case Answer::Trickle:
        return SentLine(step.data) + EchoLine(step.data);
    case Answer::ResetAtOnce:
        return SendErrorLine(WSAECONNRESET);
    case Answer::ResetAfterMessage:
    case Answer::HalfThenReset:
        return SentLine(step.data) + ReceiveErrorLine(WSAECONNRESET);
    case Answer::CloseAfterMessage:
    case Answer::HalfThenClose:
        return SentLine(step.data) + SHORT_ECHO_LINE;
    case Answer::Silent:
        return SentLine(step.data) + ReceiveErrorLine(WSAETIMEDOUT);
    }
    return TEXT("");
}

// The log as compared: under Wine a reset may read as an orderly close.
std::string Seen(const WideText& log)
{
    return Narrow(ResetSeenAsClose(log, ReceiveErrorLine(WSAECONNRESET), SHORT_ECHO_LINE));
}

std::vector<Answer> Script(const std::vector<Step>& steps)
{
    std::vector<Answer> script;
    for (const Step& step : steps)
        script.push_back(step.answer);
    return script;
}

class ClientFaults : public EchoTest {
protected:
    // Runs script on the real main dialog, with the log going to it.
    static void WithDialog(const std::function<void(HWND)>& script)
    {
        RunMainDialog([&](HWND dialog) {
            AppState.dialog.store(dialog);
            script(dialog);
        });
    }

    // Makes the step's Send against server, which answers it as its
    // script's entry number index says.
    static void Send(HWND dialog, ScriptedServer& server, const Step& step, int index)
    {
        SetDlgItemTextW(dialog, IDC_DATA, Wide(step.data).c_str());
        if (step.answer == Answer::Silent)
            AppState.peerTimeoutMs.store(SILENT_TIMEOUT_MS);
        ASSERT_EQ(ClientConnect(), 1);
        if (step.answer == Answer::ResetAtOnce) {
            // The message goes out only once the reset has reached this end.
            ASSERT_TRUE(server.WaitForAnswered(index + 1));
            PumpUntil([] { return false; }, 100);
        }
        ClientExchange(dialog);
        AppState.peerTimeoutMs.store(TEST_PEER_TIMEOUT_MS);
    }

    // The messages each connection brought, as the steps say they should.
    static void ExpectMessagesReceived(const ScriptedServer& server, const std::vector<Step>& steps)
    {
        ASSERT_EQ(server.Received().size(), steps.size());
        for (size_t i = 0; i < steps.size(); ++i) {
            const std::string expected = steps[i].answer == Answer::ResetAtOnce ? "" : Padded(steps[i].data);
            EXPECT_EQ(server.Received()[i], expected) << "step " << i << ": " << steps[i].data;
        }
    }
};

TEST_F(ClientFaults, AfterEachFaultTheNextSendIsServed)
{
    const std::vector<std::pair<Answer, std::string>> faults = {
        {Answer::ResetAfterMessage, "reset after the message"},
        {Answer::ResetAtOnce, "reset at once"},
        {Answer::CloseAfterMessage, "closed after the message"},
        {Answer::HalfThenClose, "half an echo, then closed"},
        {Answer::HalfThenReset, "half an echo, then reset"},
        {Answer::Trickle, "echo in ten slow pieces"},
        {Answer::Silent, "no answer at all"},
    };
    std::vector<Step> steps = {{Answer::Echo, "first"}};
    for (const auto& [answer, data] : faults) {
        steps.push_back({answer, data});
        steps.push_back({Answer::Echo, "served after: " + data});
    }
    // Faults one after another, then a good Send.
    for (const auto& [answer, data] : faults)
        steps.push_back({answer, "in a row: " + data});
    steps.push_back({Answer::Echo, "served after them all"});

    ScriptedServer server(Script(steps));
    WithDialog([&](HWND dialog) {
        SetHostAndPort("127.0.0.1", server.Port().c_str());
        WideText expected;
        for (size_t i = 0; i < steps.size(); ++i) {
            SCOPED_TRACE("step " + std::to_string(i) + ": " + steps[i].data);
            Send(dialog, server, steps[i], static_cast<int>(i));
            expected += ExpectedLog(steps[i]);
            ASSERT_EQ(Seen(LogText(dialog)), Seen(expected));
        }
        // The last connection stays open until the next Send or the end.
        EXPECT_NE(AppState.clientSocket.load(), INVALID_SOCKET);
        ReplaceAndCloseOld(AppState.clientSocket, INVALID_SOCKET);
    });
    server.Join();
    EXPECT_EQ(server.Answered(), static_cast<int>(steps.size()));
    ExpectMessagesReceived(server, steps);
    // A silent server's connection is let go of by the next Send.
    for (size_t i = 0; i < steps.size(); ++i) {
        if (steps[i].answer == Answer::Silent) {
            EXPECT_EQ(server.Ends()[i], raw::End::Closed) << "step " << i;
        }
    }
}

TEST_F(ClientFaults, HundredsOfFaultsLeaveNoDescriptorBehind)
{
    constexpr int CYCLES = 100;
    // Quick faults only: a reset at once waits for its reset, a silent
    // server for the time-out, a trickle for its pieces.
    auto cycle = [](int n) {
        const std::string at = " " + std::to_string(n);
        return std::vector<Step>{
            {Answer::ResetAfterMessage, "reset" + at}, {Answer::Echo, "good" + at},
            {Answer::CloseAfterMessage, "closed" + at}, {Answer::HalfThenReset, "half, reset" + at},
            {Answer::HalfThenClose, "half, closed" + at}, {Answer::Echo, "good again" + at},
        };
    };
    std::vector<Step> steps;
    for (int n = 0; n <= CYCLES; ++n)
        for (const Step& step : cycle(n))
            steps.push_back(step);
    const int perCycle = static_cast<int>(cycle(0).size());

    ScriptedServer server(Script(steps));
    int before = -1, after = -1;
    WideText log;
    WithDialog([&](HWND dialog) {
        SetHostAndPort("127.0.0.1", server.Port().c_str());
        // The first cycle lets the toolkit and the resolver open whatever
        // they keep; counts are taken when the server has closed its end.
        for (int i = 0; i < static_cast<int>(steps.size()); ++i) {
            Send(dialog, server, steps[static_cast<size_t>(i)], i);
            if (HasFatalFailure())
                return;
            if (i == perCycle - 1) {
                ASSERT_TRUE(server.WaitForAnswered(perCycle));
                before = raw::OpenDescriptors();
            }
        }
        ASSERT_TRUE(server.WaitForAnswered(static_cast<int>(steps.size())));
        after = raw::OpenDescriptors();
        log = LogText(dialog);
        ReplaceAndCloseOld(AppState.clientSocket, INVALID_SOCKET);
    });
    server.Join();
    WideText expected;
    for (const Step& step : steps)
        expected += ExpectedLog(step);
    EXPECT_EQ(Seen(log), Seen(expected));
    ExpectMessagesReceived(server, steps);
    std::cout << "[ descriptors ] client faults: " << before << " after the first cycle, " << after << " after "
              << CYCLES << " more\n";
    EXPECT_GT(before, 0);
    EXPECT_NEAR(after, before, DESCRIPTOR_SLACK);
}

}  // namespace
