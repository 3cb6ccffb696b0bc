// Window side of the update run: progress bar, Play button and the worker's entry; called on the UpdateWorker thread.
#include <windows.h>
#include <commctrl.h>
#include <process.h>

#include "launcher/window.h"
#include "updater/update_run.h"

// SendMessage returns once the main thread has applied the change, so changes appear in the
// order the worker makes them.
void SetProgressRange(int upper) {
    SendMessageA(ProgressBar, PBM_SETRANGE, 0, MAKELPARAM(0, upper));
}

void SetProgressPos(int position) {
    SendMessageA(ProgressBar, PBM_SETPOS, (WPARAM)position, 0);
}

void EnablePlayButton() {
    EnableWindow(PlayButton, TRUE);
}

void __cdecl UpdateWorkerMain(void*) {
    CheckFiles();
    // Returning ends the thread that _beginthread started.
}
