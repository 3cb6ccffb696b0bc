// Publisher tool: walks a game folder and writes its update.cfg with the launcher's own digest; single-threaded.
//
//   publish_manifest <game folder> [<output file>]
//
// Lists every regular file under the folder (the output file excepted) as "<path> <digest>\n",
// paths relative with "/" separators in byte order, digests in lowercase. Refuses, with a
// message and a non-zero exit, a folder the launcher could not use. The output defaults to
// <game folder>/update.cfg and is written whole or not at all.
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "updater/digest.h"
#include "updater/manifest.h"

namespace fs = std::filesystem;

namespace {

enum { ExitOk = 0, ExitRefused = 1, ExitFailed = 2 };

// Why the launcher could not use a path, or null when it can.
const char* PathProblem(const std::string& path) {
    if (path.find(' ') != std::string::npos) return "holds a space, which ends a path in update.cfg";
    if (path.size() > PathSlotSize - 1) return "is longer than 199 characters";
    if (!IsSafeManifestPath(path.c_str())) {
        return "is refused by the launcher (a device name such as CON or COM1, a name ending in a dot or a "
               "blank, or one of : < > \" | ? * or a control character)";
    }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: publish_manifest <game folder> [<output file>]\n");
        return ExitFailed;
    }
    const fs::path root = argv[1];
    const fs::path output = argc == 3 ? fs::path(argv[2]) : root / "update.cfg";
    std::error_code error;
    if (!fs::is_directory(root, error)) {
        fprintf(stderr, "publish_manifest: %s is not a folder\n", argv[1]);
        return ExitFailed;
    }
    const fs::path outputFull = fs::weakly_canonical(fs::absolute(output), error);

    std::vector<std::string> paths;
    int refused = 0;
    fs::recursive_directory_iterator it(root, fs::directory_options::none, error), end;
    for (; !error && it != end; it.increment(error)) {
        if (!it->is_regular_file(error)) continue;
        if (fs::weakly_canonical(fs::absolute(it->path()), error) == outputFull) continue;
        std::string relative = it->path().lexically_relative(root).generic_string();
        // A backslash inside a name is a separator to the launcher, so it is refused rather than
        // left to mean another file.
        if (relative.find('\\') != std::string::npos) {
            fprintf(stderr, "publish_manifest: refused %s: holds a backslash\n", relative.c_str());
            ++refused;
            continue;
        }
        if (const char* problem = PathProblem(relative)) {
            fprintf(stderr, "publish_manifest: refused %s: %s\n", relative.c_str(), problem);
            ++refused;
            continue;
        }
        paths.push_back(relative);
    }
    if (error) {
        fprintf(stderr, "publish_manifest: cannot walk %s: %s\n", argv[1], error.message().c_str());
        return ExitFailed;
    }
    if (paths.size() + refused > MaxManifestEntries) {
        fprintf(stderr, "publish_manifest: %zu files, but the launcher reads at most %d\n", paths.size() + refused,
                (int)MaxManifestEntries);
        return ExitRefused;
    }
    if (refused) {
        fprintf(stderr, "publish_manifest: %d file(s) refused; update.cfg not written\n", refused);
        return ExitRefused;
    }
    std::sort(paths.begin(), paths.end());

    std::string content;
    for (const std::string& path : paths) {
        std::string full = (root / fs::path(path)).string();
        if (int readError = ComputeFileDigest(full.c_str())) {
            fprintf(stderr, "publish_manifest: cannot read %s: %s\n", full.c_str(), strerror(readError));
            return ExitFailed;
        }
        content += path + " " + DigestText + "\n";
    }

    // Written beside the output and renamed over it, so a reader never sees half a file.
    fs::path temporary = output;
    temporary += ".tmp";
    FILE* file = fopen(temporary.string().c_str(), "wb");
    if (!file) {
        fprintf(stderr, "publish_manifest: cannot write %s: %s\n", temporary.string().c_str(), strerror(errno));
        return ExitFailed;
    }
    bool written = fwrite(content.data(), 1, content.size(), file) == content.size();
    written = fclose(file) == 0 && written;
    if (written) fs::rename(temporary, output, error);
    if (!written || error) {
        fprintf(stderr, "publish_manifest: cannot write %s\n", output.string().c_str());
        fs::remove(temporary, error);
        return ExitFailed;
    }
    printf("publish_manifest: %zu files listed in %s\n", paths.size(), output.string().c_str());
    return ExitOk;
}
