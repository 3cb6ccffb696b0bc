// Win32 entry points of the update: PrepareUpdate on the main thread at start-up, and the UpdateWorker thread.
#include <windows.h>
#include <process.h>
#include <stdio.h>

#include "common/log.h"
#include "updater/net/downloader.h"
#include "updater/self_update.h"
#include "updater/trust/manifest_trust.h"
#include "updater/update_run.h"

UpdatePlan PrepareUpdate() {
    UpdatePlan plan;
    PrepareManifestFetch();
    plan.listFetched = DownloadFile("update.cfg", MaxManifestBytes);
    plan.listRefused = !ManifestTrusted(plan.listFetched);
    PurgeUrlCache();
    // A list that did not arrive, or was refused, is never read, whatever a failed delete left on disk: the
    // reading logs its first line and finds nothing.
    bool usable = plan.listFetched && !plan.listRefused;
    plan.manifest = LoadManifest(usable ? "update.cfg" : nullptr);
    if (usable && !ManifestEntriesTrusted(plan.manifest, plan.fingerprints)) {
        plan.listRefused = true;
        plan.manifest.entries.clear();
    }
    snprintf(LogMessageBuffer, LogMessageBufferSize, "Total files to check: %d", (int)plan.manifest.entries.size());
    LogLine(LogMessageBuffer);
    remove("update.cfg");
    // A new launcher in the list is installed and started first; it then runs the update itself.
    plan.restarting = SelfUpdate(plan);
    return plan;
}

namespace {

struct WorkerArguments {
    const UpdatePlan* plan;
    UpdateObserver* observer;
};

void __cdecl UpdateWorkerMain(void* argument) {
    WorkerArguments* arguments = (WorkerArguments*)argument;
    const UpdatePlan& plan = *arguments->plan;
    UpdateObserver& observer = *arguments->observer;
    delete arguments;
    RunUpdate(plan, observer);
    // Returning ends the thread that _beginthread started.
}

}  // namespace

void StartUpdateWorker(const UpdatePlan& plan, UpdateObserver& observer) {
    WorkerArguments* arguments = new WorkerArguments{&plan, &observer};
    if (_beginthread(UpdateWorkerMain, 0, arguments) == (uintptr_t)-1) delete arguments;
}
