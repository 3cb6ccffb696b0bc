// Thread entry of the update worker and its start; the window side of the run (progress bar, Play button) lives with the window.
#include <windows.h>
#include <process.h>

#include "updater/update_run.h"

void __cdecl UpdateWorkerMain(void*) {
    CheckFiles();
    // Returning ends the thread that _beginthread started.
}

void StartUpdateWorker() {
    _beginthread(UpdateWorkerMain, 0, NULL);
}
