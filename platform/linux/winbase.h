// Threads, handles and the per-thread last error.
#pragma once

#include "platform/linux/windef.h"

#define STILL_ACTIVE 259
#define INFINITE 0xFFFFFFFF

#define ERROR_SUCCESS 0
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_INVALID_PARAMETER 87
#define ERROR_INSUFFICIENT_BUFFER 122

typedef DWORD (WINAPI* LPTHREAD_START_ROUTINE)(LPVOID parameter);
typedef struct SECURITY_ATTRIBUTES_* LPSECURITY_ATTRIBUTES;

// The calling thread's last error code. The socket layer shares it.
DWORD GetLastError(void);
void SetLastError(DWORD error);

// Runs start(parameter) on a new thread. Returns a handle that the caller
// releases with CloseHandle, or NULL when no thread could be started.
HANDLE CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize,
                    LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD creationFlags, LPDWORD threadId);

// Stores STILL_ACTIVE while the thread runs, its exit code after.
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);

// Releases the handle; the thread itself runs on.
BOOL CloseHandle(HANDLE object);

// Milliseconds since some fixed moment; a clock that never goes back.
ULONGLONG GetTickCount64(void);
// Suspends the calling thread for at least this long.
void Sleep(DWORD milliseconds);
