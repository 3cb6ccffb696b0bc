// The update as a plan and a run: PrepareUpdate fetches, checks and reads the file list at start-up (main thread);
// RunUpdate digests every entry and fetches what differs (the UpdateWorker thread), reporting to an observer.
#pragma once
#include <string>
#include <vector>

#include "updater/manifest.h"
#include "updater/net/transfer.h"
#include "updater/trust/file_fingerprint.h"

enum { DataDirectoryCount = 31 };
extern const char* const DataDirectories[DataDirectoryCount];

// What start-up learnt of the file list. A run reads it and never changes it, so Repair runs the same plan again.
struct UpdatePlan {
    bool listFetched = false;  // "update.cfg" arrived whole
    bool listRefused = false;  // it arrived but failed the build's checks (a signed build)
    // The list's entries (none unless it arrived and was accepted) and its refused lines.
    Manifest manifest;
    // In a signed build, the signed length and SHA-256 of each entry; empty otherwise. A download must match
    // them before it replaces anything.
    std::vector<FileFingerprint> fingerprints;
    // The entry of the running program when it had to be replaced but the self-update failed; -1 otherwise. The
    // run does not fetch it, since a running program's file cannot be replaced, and counts it as not updated.
    int runningProgramEntry = -1;
    // The run's hosts' base URLs: the build's, the origin first, then the checked mirror list's (MergeHosts); empty:
    // every file from the transport's UpdateBaseUrl.
    std::vector<std::string> hosts;
    // Those of them that start-up passed over for the list: they start the run as hosts that failed.
    std::vector<std::string> hostsPassedOver;
    // Transfers in flight during a run; 1 fetches one file after another.
    int transferSlots = MaxTransferSlots;
    // A new launcher was started in this program's place: the process ends without a run.
    bool restarting = false;
};

// What a run tells the window, from the worker thread; each call returns once the window has taken it.
class UpdateObserver {
public:
    // The number of files the run fetches, once the digests were compared.
    virtual void FilesPending(int count) = 0;
    // How many of them have ended so far, in any order; at most about ten times a second.
    virtual void FilesFinished(int count) = 0;
    // The run's last line is logged: Play may be used.
    virtual void RunEnded() = 0;

protected:
    ~UpdateObserver() = default;
};

// The whole run: staging folder, digests, pending list, data directories, transfers and the closing line.
void RunUpdate(const UpdatePlan& plan, UpdateObserver& observer);

#ifdef _WIN32
// Start-up's half (update_win.cpp): asks the build's list hosts in turn (ChooseListHost) for "update.cfg" and whatever
// the build checks it with, each but the last within a first-byte bound and told by one line when passed over;
// takes the mirror list of the host that answered; purges the URL cache, reads the list, logs
// "Total files to check: %d", deletes the list and runs the self-update when the list names a new launcher
// (plan.restarting is then set).
UpdatePlan PrepareUpdate();
// Starts a run of plan on a new UpdateWorker thread (start-up, and Repair once the first run has ended). Both
// must outlive the run.
void StartUpdateWorker(const UpdatePlan& plan, UpdateObserver& observer);
#endif
