// Descriptors stay flat over thousands of exchanges on either side: every
// connection, listening socket and resolution the program makes is released
// once it is replaced or the worker ends. Counts are taken between dialog
// runs, when nothing is in flight, after a warm-up that lets the toolkit
// and the resolver open whatever they keep.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <string>
#include <thread>

#include "core/app_state.h"
#include "frontend/resource_tables.h"
#include "tests/support/dialog_run_linux.h"
#include "tests/support/echo_support.h"
#include "tests/support/raw_peer.h"
#include "transport/client.h"
#include "transport/echo_message.h"

namespace {

using namespace std::chrono_literals;

constexpr int EXCHANGES = 2000;
// Exchanges per dialog run, and per look at the log within a run: each run
// stays well inside the dialog harness's time limit.
constexpr int PER_RUN = 250;
constexpr int PER_BATCH = 50;
constexpr int WARM_UP = 20;
// Descriptors the toolkit may open or close on its own between counts.
constexpr int SLACK = 5;

// Waits, without events, until count reaches target; the count then.
int WaitForCount(const std::atomic<int>& count, int target)
{
    for (int i = 0; i < TEST_LIMIT_MS / 5 && count.load() < target; ++i)
        std::this_thread::sleep_for(5ms);
    return count.load();
}

class Descriptors : public EchoTest {};

TEST_F(Descriptors, StayFlatOverThousandsOfClientExchanges)
{
    raw::Fd listener(raw::Listen(raw::Family::V4));
    ASSERT_TRUE(listener.valid());
    const std::string port = std::to_string(raw::LocalPort(listener.get()));
    // The test server echoes each connection once and closes it.
    std::atomic<int> served{0};
    std::atomic<bool> failed{false};
    std::thread server([&] {
        for (int i = 0; i < WARM_UP + EXCHANGES && !failed.load(); ++i) {
            raw::Fd connection(raw::Accept(listener.get(), TEST_LIMIT_MS));
            if (!connection.valid() ||
                !raw::Send(connection.get(), raw::Receive(connection.get(), ECHO_MESSAGE_SIZE, TEST_LIMIT_MS))) {
                failed.store(true);
                break;
            }
            connection = raw::Fd();
            served.fetch_add(1);
        }
    });
    // Runs count exchanges on a fresh dialog, looking at the log batch by batch.
    auto exchanges = [&](int count) {
        RunDialog(MAIN_DIALOG_TEMPLATE, [&](HWND dialog) {
            AppState.dialog.store(dialog);
            SetHostAndPort("127.0.0.1", port.c_str());
            SetDlgItemTextW(dialog, IDC_DATA, u"flat");
            for (int done = 0; done < count && !failed.load();) {
                const int batch = std::min(PER_BATCH, count - done);
                for (int i = 0; i < batch; ++i) {
                    if (ClientConnect())
                        ClientExchange(dialog);
                }
                done += batch;
                const std::u16string log = LogText(dialog);
                ASSERT_EQ(Occurrences(log, u"Received Echo from server(127.0.0.1) <---- flat\r\n"), batch)
                    << Narrow(log);
                ASSERT_EQ(Occurrences(log, u"\r\n"), 2 * batch) << Narrow(log);
                SetDlgItemTextW(dialog, IDC_LOG, u"");
            }
        });
    };
    exchanges(WARM_UP);
    ASSERT_EQ(WaitForCount(served, WARM_UP), WARM_UP);
    const int before = raw::OpenDescriptors();
    for (int run = 0; run < EXCHANGES / PER_RUN && !HasFatalFailure(); ++run)
        exchanges(PER_RUN);
    EXPECT_EQ(WaitForCount(served, WARM_UP + EXCHANGES), WARM_UP + EXCHANGES);
    const int after = raw::OpenDescriptors();
    // A server left waiting by a test that stopped early gives up by itself.
    failed.store(true);
    server.join();
    std::cout << "[ descriptors ] client: " << before << " before, " << after << " after " << EXCHANGES
              << " exchanges\n";
    EXPECT_GT(before, 0);
    EXPECT_NEAR(after, before, SLACK);
}

TEST_F(Descriptors, StayFlatOverThousandsOfServerExchanges)
{
    // Runs count raw client exchanges against a fresh worker on a fresh
    // dialog, looking at the log batch by batch, and ends the worker.
    auto exchanges = [&](int count) {
        RunDialog(MAIN_DIALOG_TEMPLATE, [&](HWND dialog) {
            HANDLE worker = StartServerWorker(dialog, "127.0.0.1", "0");
            ASSERT_NE(worker, nullptr);
            const bool listening = PumpUntil([&] { return Occurrences(LogText(dialog), u" ready for connection ") == 1; });
            const int port = ListeningPort();
            SetDlgItemTextW(dialog, IDC_LOG, u"");
            for (int done = 0; listening && port > 0 && done < count;) {
                const int batch = std::min(PER_BATCH, count - done);
                std::atomic<int> echoed{0};
                EXPECT_TRUE(RunWhilePumping([&] {
                    for (int i = 0; i < batch; ++i) {
                        raw::Fd connection(raw::Connect(raw::Family::V4, port, TEST_LIMIT_MS));
                        raw::Send(connection.get(), std::string("flat") + std::string(96, '\0'));
                        if (raw::Receive(connection.get(), ECHO_MESSAGE_SIZE, TEST_LIMIT_MS).size() == ECHO_MESSAGE_SIZE)
                            echoed.fetch_add(1);
                    }
                }));
                done += batch;
                EXPECT_EQ(echoed.load(), batch);
                // The echo line follows the echo itself.
                EXPECT_TRUE(PumpUntil([&] { return Occurrences(LogText(dialog), u"Send Echo to client ---->flat\r\n") >= batch; }));
                const std::u16string log = LogText(dialog);
                EXPECT_EQ(Occurrences(log, u"Received from client(127.0.0.1) <---- flat\r\n"), batch) << Narrow(log);
                EXPECT_EQ(Occurrences(log, u"\r\n"), 3 * batch) << Narrow(log);
                SetDlgItemTextW(dialog, IDC_LOG, u"");
                if (HasFailure())
                    break;
            }
            EXPECT_TRUE(listening && port > 0);
            EXPECT_TRUE(StopServerWorker(worker));
            EXPECT_EQ(AppState.listenSocket.load(), INVALID_SOCKET);
            EXPECT_EQ(AppState.acceptedSocket.load(), INVALID_SOCKET);
        });
    };
    exchanges(WARM_UP);
    const int before = raw::OpenDescriptors();
    for (int run = 0; run < EXCHANGES / PER_RUN && !HasFailure(); ++run)
        exchanges(PER_RUN);
    const int after = raw::OpenDescriptors();
    std::cout << "[ descriptors ] server: " << before << " before, " << after << " after " << EXCHANGES
              << " exchanges\n";
    EXPECT_GT(before, 0);
    EXPECT_NEAR(after, before, SLACK);
}

}  // namespace
