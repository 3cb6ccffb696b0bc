// Self-update: when the accepted list names the running program's own file with another digest, the new
// program is fetched and checked like every file, put in place of the running one and started instead of
// the update run; main thread, at start-up. The decisions are portable (self_update.cpp), the moves and the
// restart Win32 (self_update_win.cpp).
#pragma once
#include <stddef.h>

#include <string>
#include <vector>

#include "updater/manifest.h"

// Whether the program at modulePath (a full path) lies directly in directory: the program updates itself only
// when it runs from the game folder, where the list's paths point. Compared without regard to case, as Windows
// compares names.
bool RunsFromDirectory(const char* modulePath, const char* directory);

// The index of the entry whose path is the program's base name alone (no folder), without regard to case; -1
// when there is none.
int OwnManifestEntry(const char* modulePath, const std::vector<ManifestEntry>& entries);

// Whether the running program, of digest ownDigest, is replaced by the listed one: only for a listed digest
// of 40 hexadecimal digits (a file that cannot be checked never replaces the program) that differs.
bool NeedsSelfUpdate(const char* listedDigest, const char* ownDigest);

// The names of the self-update, from the program's base name: staged, where the checked new program waits
// (in the staging folder), and aside, where the running program is moved until the next start removes it.
// Both hold a blank, which no manifest path holds, so no entry can take them. False when they do not fit.
bool MakeSelfUpdateNames(const char* baseName, char* staged, size_t stagedSize, char* aside, size_t asideSize);

// The file moves and the start of a self-update, done by the platform (self_update_win.cpp; the tests fake
// them). Each returns false when it failed, and LastErrorText then says why.
class SelfUpdateSystem {
public:
    virtual bool Move(const char* from, const char* to, bool replace) = 0;
    virtual bool Copy(const char* from, const char* to) = 0;  // replaces to
    virtual void Discard(const char* path) = 0;                // deletes, silently
    // Starts the program at path with this process's command line, held before its first instruction.
    virtual bool StartHeld(const char* path) = 0;
    virtual bool ReleaseStarted() = 0;   // lets the started program run
    virtual void EndStarted() = 0;       // ends it instead
    virtual std::string LastErrorText() = 0;

protected:
    ~SelfUpdateSystem() = default;
};

// Puts the checked new program (staged) in place of the running one (module), which goes aside, and starts it.
// "Launcher updated, restarting." is logged once the new program exists and before it runs, so that its own
// lines follow. True when it runs. Otherwise logs why ("Launcher not updated: ...") and puts the old program
// back, by a move or else a copy; when neither works, one more line says where each program is, so that
// nothing is lost without a word.
bool PutNewProgramInPlace(const char* module, const char* staged, const char* aside, SelfUpdateSystem& system);

#ifdef _WIN32
struct UpdatePlan;
// Runs the self-update when the plan's list asks for one (after the list was read and checked, before the
// update worker starts). True when the new program was started and this process must end with 0; false when
// nothing was to be done or a step failed (logged; the old program back in place, or the log says where each
// program is). While the old program runs on, plan.runningProgramEntry names its entry. A program that a
// self-update started finds the old one aside, removes it and never updates itself in that run.
bool SelfUpdate(UpdatePlan& plan);
#endif
