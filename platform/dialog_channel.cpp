#include "platform/dialog_channel.h"

#include <sys/eventfd.h>
#include <unistd.h>

DialogChannel::DialogChannel()
    : owner_(std::this_thread::get_id()), wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
}

DialogChannel::~DialogChannel()
{
    if (wakeFd_ >= 0)
        close(wakeFd_);
}

bool DialogChannel::Call(const std::function<void()>& job)
{
    Pending pending{&job, WAITING};
    std::unique_lock lock(mutex_);
    if (closed_)
        return false;
    queue_.push_back(&pending);
    Wake();
    finished_.wait(lock, [&] { return pending.state != WAITING; });
    return pending.state == RAN;
}

void DialogChannel::Wake()
{
    if (wakePending_)
        return;
    wakePending_ = true;
    uint64_t one = 1;
    // The counter only signals; a full counter still reads as readable.
    [[maybe_unused]] ssize_t written = write(wakeFd_, &one, sizeof one);
}

void DialogChannel::Finish(Pending* pending, State state)
{
    pending->state = state;
    finished_.notify_all();
}

void DialogChannel::RunPending()
{
    if (running_)
        return;
    running_ = true;
    uint64_t count;
    [[maybe_unused]] ssize_t drained = read(wakeFd_, &count, sizeof count);
    std::unique_lock lock(mutex_);
    while (!queue_.empty()) {
        Pending* pending = queue_.front();
        queue_.pop_front();
        lock.unlock();
        (*pending->job)();
        lock.lock();
        Finish(pending, RAN);
    }
    wakePending_ = false;
    running_ = false;
}

void DialogChannel::Close()
{
    std::lock_guard lock(mutex_);
    closed_ = true;
    for (Pending* pending : queue_)
        Finish(pending, REFUSED);
    queue_.clear();
}
