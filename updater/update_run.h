// The update run: digests every manifest entry, downloads what differs; runs on the UpdateWorker thread.
#pragma once

enum { DataDirectoryCount = 31 };
extern const char* const DataDirectories[DataDirectoryCount];

// 0 until the first update run ends, then 1; written by the worker only.
extern volatile unsigned char UpdateFinished;

// Set by start-up on the main thread before the worker starts: whether "update.cfg" was fetched from the server.
extern bool ManifestFetched;
// Set by start-up in a signed build when the fetched file list failed its signature check and is not used.
extern bool ManifestRefused;
// In a signed build, the signed length and SHA-256 of each manifest entry (EntryCount of them), set by
// start-up once the list was accepted; null otherwise. A download must match them before it replaces anything.
struct FileFingerprint;
extern const FileFingerprint* EntryFingerprints;
// The manifest entry of the running program when it had to be replaced but the self-update at start-up
// failed; -1 otherwise. The run does not fetch that entry again, since a running program's file cannot be
// replaced, and counts it as not updated.
extern int RunningProgramEntry;
// Transfers in flight during a run (MaxTransferSlots unless changed); 1 fetches one file after another.
extern int TransferSlots;

// The whole run: digests, pending list, then DownloadPending as its last step.
void CheckFiles();
// Creates the data directories, downloads every pending path and ends the run.
void DownloadPending();

#ifdef _WIN32
// Thread entry of UpdateWorker, started with _beginthread and no argument; runs CheckFiles.
void __cdecl UpdateWorkerMain(void* unused);
// Starts an UpdateWorker (start-up, and Repair once the first run has ended).
void StartUpdateWorker();
#endif

// Window side of the run, implemented next to the window (tests supply their own).
void SetProgressRange(int upper);
void SetProgressPos(int position);
void EnablePlayButton();
