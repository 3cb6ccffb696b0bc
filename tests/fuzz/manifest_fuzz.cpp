// Fuzz target of the manifest reader: never a crash, at most 1000 entries, and every accepted path names a
// file inside the game folder (checked here without the reader's own path rule).
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "doubles/doubles.h"
#include "fuzz_folder.h"
#include "updater/manifest.h"

namespace {

// Resolves the path's components from the game folder; false when it is absolute, names a drive or a stream,
// climbs above the folder, or has a component Windows would bend ("." or a trailing dot or blank).
bool StaysInside(const std::string& path) {
    if (path.empty() || path[0] == '/' || path[0] == '\\' || path.find(':') != std::string::npos) return false;
    int depth = 0;
    size_t start = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/' && path[i] != '\\') continue;
        std::string component = path.substr(start, i - start);
        start = i + 1;
        if (component.empty() || component.back() == '.' || component.back() == ' ') return false;
        ++depth;
    }
    return depth > 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    InFuzzFolder folder;
    WriteWholeFile("update.cfg", data, size);
    ResetDoubles();
    Manifest manifest = LoadManifest("update.cfg");
    if (manifest.entries.size() > MaxManifestEntries) abort();
    for (const ManifestEntry& entry : manifest.entries) {
        if (strnlen(entry.path, PathSlotSize) >= PathSlotSize) abort();
        if (strnlen(entry.digest, DigestSlotSize) >= DigestSlotSize) abort();
        if (!StaysInside(entry.path)) {
            fprintf(stderr, "accepted a path outside the folder: %s\n", entry.path);
            abort();
        }
    }
    return 0;
}
