// Win32 entry points of the update: PrepareUpdate on the main thread at start-up, and the UpdateWorker thread.
#include <windows.h>
#include <process.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "common/log.h"
#include "updater/net/downloader.h"
#include "updater/net/host_choice.h"
#include "updater/net/hosts.h"
#include "updater/self_update.h"
#include "updater/trust/manifest_trust.h"
#include "updater/update_run.h"

namespace {

// Asks the list host at base for the list and what the build checks it with, and reads it into plan; null when it
// gave a whole, valid answer, else why not, in a few words.
const char* FetchListFrom(const char* base, unsigned firstByteSeconds, UpdatePlan& plan,
                          const std::vector<std::string>& lines) {
    UseListHost(base, firstByteSeconds);
    plan = UpdatePlan();
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
    if (!plan.listFetched) return LastDownloadProblem();
    if (!plan.listRefused) return nullptr;
    // The refusal's own words, without their "Manifest refused: ".
    static const char Refused[] = "Manifest refused: ";
    for (size_t i = lines.size(); i-- > 0;) {
        if (lines[i].compare(0, sizeof Refused - 1, Refused) == 0) return lines[i].c_str() + sizeof Refused - 1;
    }
    return "the list was refused";
}

}  // namespace

UpdatePlan PrepareUpdate() {
    UpdatePlan plan;
    std::vector<std::string> bases;
    for (int i = 0; i < ListHostCount(); ++i) bases.push_back(ListHostBaseUrl(i));
    // Each host is asked quietly, its lines told only if it answers, and one line tells that it was passed over
    // otherwise; the one asked last of all is asked as a build with one host always asked its only one, its lines
    // told whatever it answers.
    std::vector<std::string> quiet;
    std::vector<int> passedOver;
    bool toldAsItCame = false;
    int lastAsked = (int)bases.size() - 1;
    int chosen = ChooseListHost(
        bases,
        [&](int host, bool hurried, bool last) -> const char* {
            quiet.clear();
            toldAsItCame = last;
            lastAsked = host;
            if (!last) CaptureLogLines(&quiet);
            const char* problem = FetchListFrom(bases[host].c_str(), hurried ? ListHostFirstByteMs : 0, plan, quiet);
            CaptureLogLines(nullptr);
            return problem;
        },
        [](const char* line) { LogLine(line); }, passedOver);
    if (chosen >= 0 && !toldAsItCame) {
        for (const std::string& line : quiet) LogLine(line.c_str());
    }
    if (chosen < 0) chosen = lastAsked;
    std::vector<std::string> passed;
    for (int host : passedOver) passed.push_back(bases[host]);
    plan.hostsPassedOver = passed;
    // The rest comes from the host that answered, with the whole time-out: the mirror list, and a new launcher.
    UseListHost(bases[chosen].c_str(), 0);
    bool accepted = plan.listFetched && !plan.listRefused;
    plan.hosts = MergeHosts(bases, accepted ? TrustedMirrors() : std::vector<std::string>());
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
