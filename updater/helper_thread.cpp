// The helper thread for native builds (tests and the publisher tool), on std::thread.
#include "updater/helper_thread.h"

#include <new>
#include <system_error>
#include <thread>

struct HelperThread {
    std::thread thread;
};

HelperThread* StartHelperThread(void (*run)(void* argument), void* argument) {
    HelperThread* helper = new (std::nothrow) HelperThread;
    if (!helper) return nullptr;
    try {
        helper->thread = std::thread(run, argument);
    } catch (const std::system_error&) {
        delete helper;
        return nullptr;
    }
    return helper;
}

void JoinHelperThread(HelperThread* helper) {
    helper->thread.join();
    delete helper;
}
