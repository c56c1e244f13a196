#include "platform/linux/dialog_channel.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>

namespace {

// Sleeping until woken costs two trips through the scheduler (far more on
// a virtual machine, whose idle processors halt), while a worker's calls
// come in bursts a few microseconds apart: a caller waits actively for its
// answer, and the owner for the next call, this long before sleeping.
const auto SPIN_LIMIT = std::chrono::microseconds(50);

// Tells the processor that this is a wait loop, sparing the other hardware
// thread of its core.
inline void CpuRelax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

template <typename Condition>
bool SpinUntil(Condition condition)
{
    auto deadline = std::chrono::steady_clock::now() + SPIN_LIMIT;
    do {
        for (int i = 0; i < 64; ++i) {
            if (condition())
                return true;
            CpuRelax();
        }
    } while (std::chrono::steady_clock::now() < deadline);
    return condition();
}

}  // namespace

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
    Pending pending{&job, WAITING, {false}};
    std::unique_lock lock(mutex_);
    if (closed_)
        return false;
    queue_.push_back(&pending);
    queued_.store(true, std::memory_order_release);
    Wake();
    lock.unlock();
    auto answered = [&] { return pending.done.load(std::memory_order_acquire); };
    if (!SpinUntil(answered)) {
        lock.lock();
        finished_.wait(lock, answered);
    }
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

// The caller may leave as soon as it sees done, so nothing here touches
// pending after that.
void DialogChannel::Finish(Pending* pending, State state)
{
    pending->state = state;
    pending->done.store(true, std::memory_order_release);
    finished_.notify_all();
}

void DialogChannel::RunQueued(std::unique_lock<std::mutex>& lock)
{
    if (running_)
        return;
    running_ = true;
    while (!queue_.empty()) {
        Pending* pending = queue_.front();
        queue_.pop_front();
        queued_.store(!queue_.empty(), std::memory_order_release);
        lock.unlock();
        (*pending->job)();
        lock.lock();
        Finish(pending, RAN);
    }
    running_ = false;
}

void DialogChannel::Serve()
{
    uint64_t count;
    [[maybe_unused]] ssize_t drained = read(wakeFd_, &count, sizeof count);
    std::unique_lock lock(mutex_);
    for (;;) {
        RunQueued(lock);
        lock.unlock();
        bool more = SpinUntil([this] { return queued_.load(std::memory_order_acquire); });
        lock.lock();
        if (!more && queue_.empty())
            break;
    }
    // Calls queued from here on write the wake descriptor again.
    wakePending_ = false;
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
    for (Pending* pending : queue_)
        Finish(pending, REFUSED);
    queue_.clear();
    queued_.store(false, std::memory_order_release);
}
