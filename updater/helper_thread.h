// Threads for work beside the caller (the digests of many files, transfers in flight); std::thread natively, Win32 on Windows.
#pragma once

struct HelperThread;

// Runs run(argument) on a new thread; null when no thread could be started (the caller then does the work itself).
HelperThread* StartHelperThread(void (*run)(void* argument), void* argument);
// Waits for the thread to end and releases it.
void JoinHelperThread(HelperThread* thread);
