// Update manifest tables and reader; filled on the main thread at start-up, then used by the update worker alone.
#pragma once

enum {
    MaxManifestEntries = 1000,
    PathSlotSize = 200,    // 199 characters and the terminator
    DigestSlotSize = 150,  // 149 characters and the terminator
};

extern char EntryPath[MaxManifestEntries][PathSlotSize];
extern char ExpectedDigest[MaxManifestEntries][DigestSlotSize];
extern char LocalDigest[MaxManifestEntries][DigestSlotSize];
extern char PendingPath[MaxManifestEntries][PathSlotSize];
extern int EntryCount;
extern int PendingCount;

// Reads the manifest into the tables and returns the number of entries (0 when it cannot be opened).
int LoadManifest(const char* fileName);

// True when a manifest path names a file inside the game folder: relative, no drive or stream
// colon, no ".." component, no character that Windows forbids in file names.
bool IsSafeManifestPath(const char* path);
