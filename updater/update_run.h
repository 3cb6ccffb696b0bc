// The update run: digests every manifest entry, downloads what differs; runs on the UpdateWorker thread.
#pragma once

enum { DataDirectoryCount = 31 };
extern const char* const DataDirectories[DataDirectoryCount];

// 0 until the first update run ends, then 1; written by the worker only.
extern volatile unsigned char UpdateFinished;

// Set by start-up: whether "update.cfg" was fetched from the server.
extern bool ManifestFetched;

void CheckFiles();
void DownloadPending();

// Window side of the run, implemented next to the window (tests supply their own).
void SetProgressRange(int upper);
void SetProgressPos(int position);
void EnablePlayButton();
