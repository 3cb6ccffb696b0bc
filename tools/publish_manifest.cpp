// Publisher tool: walks a game folder and writes its update.cfg with the launcher's own digest; single-threaded.
//
//   publish_manifest <game folder> [<output file>] [--sign KEY [--version N] [--expires-days D | --expires DATE]]
//   publish_manifest --make-key BASE
//
// Lists every regular file under the folder (the output file excepted) as "<path> <digest>\n",
// paths relative with "/" separators in byte order, digests in lowercase. Refuses, with a
// message and a non-zero exit, a folder the launcher could not use. The output defaults to
// <game folder>/update.cfg and is written whole or not at all. With --sign, <output file>.sig is written beside it
// (see updater/signature.h); --make-key writes a new key pair BASE.key (owner-only) and BASE.pub.
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "tools/publish_sign.h"
#include "updater/digest.h"
#include "updater/manifest.h"

namespace fs = std::filesystem;

namespace {

enum { ExitOk = 0, ExitRefused = 1, ExitFailed = 2 };

// Writes text to path through a temporary file renamed over it, so a reader never sees half a file.
bool WriteWhole(const fs::path& path, const std::string& text) {
    fs::path temporary = path;
    temporary += ".tmp";
    FILE* file = fopen(temporary.string().c_str(), "wb");
    if (!file) return false;
    bool written = fwrite(text.data(), 1, text.size(), file) == text.size();
    written = fclose(file) == 0 && written;
    std::error_code error;
    if (written) fs::rename(temporary, path, error);
    if (!written || error) {
        fs::remove(temporary, error);
        return false;
    }
    return true;
}

// Why the launcher could not use a path, or null when it can.
const char* PathProblem(const std::string& path) {
    if (path.find(' ') != std::string::npos) return "holds a space, which ends a path in update.cfg";
    if (path.size() > PathSlotSize - 1) return "is longer than 199 characters";
    if (!IsSafeManifestPath(path.c_str())) return "holds a character the launcher refuses (: < > \" | ? * \\ or a control character)";
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    SigningOptions signing;
    std::string signingError;
    if (!TakeSigningOptions(&argc, argv, &signing, &signingError)) {
        fprintf(stderr, "publish_manifest: %s\n", signingError.c_str());
        return ExitFailed;
    }
    if (!signing.makeKey.empty()) {
        if (argc != 1 || !signing.keyPath.empty()) {
            fprintf(stderr, "usage: publish_manifest --make-key BASE\n");
            return ExitFailed;
        }
        if (!MakeKeyPair(signing.makeKey, &signingError)) {
            fprintf(stderr, "publish_manifest: %s\n", signingError.c_str());
            return ExitFailed;
        }
        printf("publish_manifest: private key %s.key (keep it offline, readable by you only), public key %s.pub\n",
               signing.makeKey.c_str(), signing.makeKey.c_str());
        return ExitOk;
    }
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: publish_manifest <game folder> [<output file>] "
                        "[--sign KEY [--version N] [--expires-days D | --expires YYYY-MM-DD]]\n"
                        "       publish_manifest --make-key BASE\n");
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
    fs::path signatureOutput = output;
    signatureOutput += ".sig";
    const fs::path signatureFull = fs::weakly_canonical(fs::absolute(signatureOutput), error);

    std::vector<std::string> paths;
    int refused = 0;
    fs::recursive_directory_iterator it(root, fs::directory_options::none, error), end;
    for (; !error && it != end; it.increment(error)) {
        if (!it->is_regular_file(error)) continue;
        const fs::path full = fs::weakly_canonical(fs::absolute(it->path()), error);
        if (full == outputFull || full == signatureFull) continue;
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

    // The signature is made before anything is written, so a failure leaves the published pair as it was.
    std::string signatureText, summary;
    if (!signing.keyPath.empty() &&
        !BuildSignatureFile(signing, content, signatureOutput.string(), &signatureText, &summary, &signingError)) {
        fprintf(stderr, "publish_manifest: %s\n", signingError.c_str());
        return ExitFailed;
    }
    if (!WriteWhole(output, content)) {
        fprintf(stderr, "publish_manifest: cannot write %s\n", output.string().c_str());
        return ExitFailed;
    }
    if (!signing.keyPath.empty()) {
        if (!WriteWhole(signatureOutput, signatureText)) {
            fprintf(stderr, "publish_manifest: cannot write %s\n", signatureOutput.string().c_str());
            return ExitFailed;
        }
        printf("publish_manifest: signed %s: %s\n", signatureOutput.string().c_str(), summary.c_str());
    } else if (fs::exists(signatureOutput, error)) {
        fprintf(stderr, "publish_manifest: warning: %s is from an earlier signing and does not match the new %s; "
                        "launchers built with a key refuse them until you sign again\n",
                signatureOutput.string().c_str(), output.filename().string().c_str());
    }
    printf("publish_manifest: %zu files listed in %s\n", paths.size(), output.string().c_str());
    return ExitOk;
}
