// Delta update of one listed file from its block index and the changed byte ranges; the update run's transfer
// threads. The decisions and the rebuild are portable (patch.cpp); the transfers go through the downloader.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "updater/delta/block_index.h"
#include "updater/net/downloader.h"

enum {
    // A fetched range costs a request and a round trip on a kept-alive connection: ranges closer than this are
    // fetched as one, about what a home line carries in one round trip. There is no cap on their number: joining
    // further would turn many small edits spread over a file into a few ranges covering most of it.
    PatchJoinGap = 64 * 1024,
};

// Whether a pending file whose local copy is localLength bytes long (-1: none) may be patched: the publisher
// indexes files from DefaultBlockIndexMinBytes on, and a smaller old copy holds too little to reuse.
bool PatchApplies(long long localLength);

// The ranges to fetch for a plan: FetchRanges with PatchJoinGap. Empty when nothing needs fetching.
std::vector<ByteRange> PatchRanges(const BlockIndex& index, const BlockPlan& plan);

// Whether fetching ranges of fetchBytes (besides the index's indexBytes) is worth it for a file of fileLength:
// at most half the file, so that an index that lies costs at most about one and a half files before the whole
// file is fetched.
bool PatchWorthIt(uint64_t fileLength, uint64_t indexBytes, uint64_t fetchBytes);

// "Patched PATH: F of W MB fetched.", MB of 2^20 bytes with one decimal.
void FormatPatchedLine(char* buffer, size_t size, const char* path, uint64_t fetched, uint64_t whole);
// "Patch of PATH: the server sends one range per request." where it did not send several ranges in one answer.
void FormatOneRangeLine(char* buffer, size_t size, const char* path);
// "Patch of PATH not used: REASON; downloading the whole file."
void FormatPatchFallbackLine(char* buffer, size_t size, const char* path, const char* reason);

// Patches the listed file of request from its local copy (request.path): fetches its block index into the
// staging folder, scans the local copy, fetches the missing ranges, rebuilds the file in the staging folder,
// checks its digest (and, with a fingerprint, its signed length and SHA-256) and moves it into place. Returns
// null when the file was installed, with its outcome lines (the download's, then the patch's) appended to
// lines; otherwise what made the patch unusable, with nothing appended and the local copy untouched.
const char* PatchFile(const FetchRequest& request, std::vector<std::string>& lines);

// Fetches the listed file of request: patched from its local copy (request.path) when that copy is large enough and
// the patch works, otherwise whole, after the line that says why the patch was not used. Safe on any thread.
bool PatchOrFetchFile(const FetchRequest& request, std::vector<std::string>& lines);
