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
// Lines of the last manifest read that were refused or skipped with a log line of their own (unsafe
// path, field too long, entries beyond the limit); the update run then cannot claim success.
extern int ManifestLinesRefused;

// Reads the manifest into the tables and returns the number of entries (0 when it cannot be opened).
int LoadManifest(const char* fileName);

// True when a manifest path names a file inside the game folder that Windows can open as a plain
// file: relative (no leading separator, no colon), no empty component, no component that ends in
// a dot or a blank (so no "." or ".."), no device name (CON, PRN, AUX, NUL, COM0-9, LPT0-9,
// CONIN$, CONOUT$, in any case and with any extension), no control character or < > " | ? *.
// The publisher tool refuses the same paths through this function.
bool IsSafeManifestPath(const char* path);
