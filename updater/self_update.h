// Self-update: when the accepted list names the running program's own file with another digest, the new
// program is fetched and checked like every file, put in place of the running one and started instead of
// the update run; main thread, at start-up. The decisions are portable (self_update.cpp), the moves and the
// restart Win32 (self_update_win.cpp).
#pragma once
#include <stddef.h>

#include "updater/manifest.h"

// Whether the program at modulePath (a full path) lies directly in directory: the program updates itself only
// when it runs from the game folder, where the list's paths point. Compared without regard to case, as Windows
// compares names.
bool RunsFromDirectory(const char* modulePath, const char* directory);

// The index of the entry whose path is the program's base name alone (no folder), without regard to case; -1
// when there is none.
int OwnManifestEntry(const char* modulePath, const char (*paths)[PathSlotSize], int count);

// Whether the running program, of digest ownDigest, is replaced by the listed one: only for a listed digest
// of 40 hexadecimal digits (a file that cannot be checked never replaces the program) that differs.
bool NeedsSelfUpdate(const char* listedDigest, const char* ownDigest);

// The names of the self-update, from the program's base name: staged, where the checked new program waits
// (in the staging folder), and aside, where the running program is moved until the next start removes it.
// Both hold a blank, which no manifest path holds, so no entry can take them. False when they do not fit.
bool MakeSelfUpdateNames(const char* baseName, char* staged, size_t stagedSize, char* aside, size_t asideSize);

#ifdef _WIN32
// Runs the self-update when the list in the tables asks for one (after LoadManifest and the trust check,
// before the update worker starts). True when the new program was started and this process must end with
// 0; false when nothing was to be done or a step failed (logged, the old program back in place). A program
// that a self-update started finds the old one aside, removes it and never updates itself in that run.
bool SelfUpdate();
#endif
