#include "platform/linux/dialog_channel.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <utility>

DialogChannel::DialogChannel()
    : owner_(std::this_thread::get_id()), wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
}

DialogChannel::~DialogChannel()
{
    if (wakeFd_ >= 0)
        close(wakeFd_);
}

// Queues job and makes sure the owner is woken for it. Called with the
// mutex not held.
bool DialogChannel::Enqueue(Job job)
{
    std::lock_guard lock(mutex_);
    if (closed_)
        return false;
    queue_.push_back(std::move(job));
    if (!wakePending_ && wakeFd_ >= 0) {
        wakePending_ = true;
        uint64_t one = 1;
        // The counter only signals; a full counter still reads as readable.
        [[maybe_unused]] ssize_t written = write(wakeFd_, &one, sizeof one);
    }
    return true;
}

bool DialogChannel::Call(const std::function<void()>& job)
{
    Waiter waiter;
    if (!Enqueue({std::cref(job), &waiter}))
        return false;
    std::unique_lock lock(mutex_);
    finished_.wait(lock, [&] { return waiter.state != WAITING; });
    return waiter.state == RAN;
}

bool DialogChannel::Post(std::function<void()> job)
{
    return Enqueue({std::move(job), nullptr});
}

void DialogChannel::Finish(Waiter* waiter, State state)
{
    if (waiter == nullptr)
        return;
    waiter->state = state;
    finished_.notify_all();
}

void DialogChannel::RunQueued(std::unique_lock<std::mutex>& lock)
{
    if (running_)
        return;
    running_ = true;
    while (!queue_.empty()) {
        Job job = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        job.run();
        lock.lock();
        Finish(job.waiter, RAN);
    }
    running_ = false;
}

void DialogChannel::Serve()
{
    uint64_t count;
    [[maybe_unused]] ssize_t drained = read(wakeFd_, &count, sizeof count);
    std::unique_lock lock(mutex_);
    // Calls queued from here on write the wake descriptor again.
    wakePending_ = false;
    RunQueued(lock);
}

void DialogChannel::RunPending()
{
    std::unique_lock lock(mutex_);
    RunQueued(lock);
}

void DialogChannel::Close()
{
    std::lock_guard lock(mutex_);
    closed_ = true;
    for (Job& job : queue_)
        Finish(job.waiter, REFUSED);
    queue_.clear();
}
