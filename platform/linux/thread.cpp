// Threads over std::thread, with the platform's handle and exit-code rules.
#include <atomic>
#include <chrono>
#include <memory>
#include <new>
#include <thread>

#include "platform/linux/winbase.h"

namespace {

thread_local DWORD lastError = 0;

// What a thread handle refers to. The running thread keeps its own
// reference, so releasing the handle never ends or frees a running thread.
struct ThreadRecord {
    std::atomic<DWORD> exitCode{STILL_ACTIVE};
};

struct ThreadHandle {
    std::shared_ptr<ThreadRecord> record;
};

}  // namespace

DWORD GetLastError(void) { return lastError; }

void SetLastError(DWORD error) { lastError = error; }

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD, LPDWORD threadId)
{
    auto record = std::make_shared<ThreadRecord>();
    auto* handle = new (std::nothrow) ThreadHandle{record};
    if (handle == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    try {
        // Detached: the program never joins, and a thread still running at
        // exit ends with the process.
        std::thread([record, start, parameter] {
            record->exitCode.store(start(parameter));
        }).detach();
    } catch (const std::system_error&) {
        delete handle;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (threadId != nullptr)
        *threadId = 0;
    return handle;
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode)
{
    if (thread == nullptr || exitCode == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *exitCode = static_cast<ThreadHandle*>(thread)->record->exitCode.load();
    return TRUE;
}

BOOL CloseHandle(HANDLE object)
{
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete static_cast<ThreadHandle*>(object);
    return TRUE;
}

ULONGLONG GetTickCount64(void)
{
    using namespace std::chrono;
    return static_cast<ULONGLONG>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void Sleep(DWORD milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
