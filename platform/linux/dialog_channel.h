// Carries calls from other threads to a dialog's own thread. A caller of
// Call waits until its call has run there; a caller of Post does not. Once
// the dialog has ended, calls are refused at once, so a caller never waits
// for a dialog that is gone.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class DialogChannel {
public:
    DialogChannel();
    ~DialogChannel();
    DialogChannel(const DialogChannel&) = delete;
    DialogChannel& operator=(const DialogChannel&) = delete;

    bool OnOwnerThread() const { return std::this_thread::get_id() == owner_; }
    // Readable when calls are waiting; the owner watches it in its event
    // loop and then calls Serve. -1 when the process had no descriptor to
    // spare for it: the owner must then look for calls by itself, with
    // RunPending, every so often.
    int WakeDescriptor() const { return wakeFd_; }

    // From any other thread: runs job on the owner thread and waits for it.
    // Returns false, without running it, once the channel is closed.
    bool Call(const std::function<void()>& job);
    // From any thread: runs job on the owner thread soon, without waiting.
    // Returns false, without keeping it, once the channel is closed.
    bool Post(std::function<void()> job);
    // On the owner thread, when the wake descriptor is readable: runs the
    // waiting calls.
    void Serve();
    // On the owner thread: runs every waiting call, oldest first. Does
    // nothing when called from inside one of those calls.
    void RunPending();
    // On the owner thread: refuses new calls and releases every waiting caller.
    void Close();

private:
    enum State { WAITING, RAN, REFUSED };
    // A caller of Call, waiting for its job's outcome.
    struct Waiter {
        State state = WAITING;  // guarded by mutex_
    };
    struct Job {
        std::function<void()> run;
        Waiter* waiter;  // null for a posted job
    };

    bool Enqueue(Job job);
    void Finish(Waiter* waiter, State state);
    void RunQueued(std::unique_lock<std::mutex>& lock);

    const std::thread::id owner_;
    const int wakeFd_;
    std::mutex mutex_;
    std::condition_variable finished_;
    std::deque<Job> queue_;
    bool closed_ = false;
    bool wakePending_ = false;  // the wake descriptor is readable, or there is none
    bool running_ = false;      // owner thread only: calls are being run
};
