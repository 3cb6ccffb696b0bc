// Helper threads for Windows: Win32 threads started through the C runtime, as every MinGW runtime variant has them.
#include <windows.h>
#include <process.h>

#include "updater/helper_thread.h"

struct HelperThread {
    HANDLE handle;
    void (*run)(void* argument);
    void* argument;
};

static unsigned __stdcall HelperMain(void* parameter) {
    HelperThread* helper = (HelperThread*)parameter;
    helper->run(helper->argument);
    return 0;
}

HelperThread* StartHelperThread(void (*run)(void* argument), void* argument) {
    HelperThread* helper = new HelperThread{NULL, run, argument};
    // _beginthreadex, not CreateThread, so the C runtime's per-thread state is set up for fopen and errno.
    helper->handle = (HANDLE)_beginthreadex(NULL, 0, HelperMain, helper, 0, NULL);
    if (!helper->handle) {
        delete helper;
        return nullptr;
    }
    return helper;
}

void JoinHelperThread(HelperThread* helper) {
    WaitForSingleObject(helper->handle, INFINITE);
    CloseHandle(helper->handle);
    delete helper;
}
