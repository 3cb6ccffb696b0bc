// Publisher tool: writes a game folder's update.cfg with the launcher's own digest and path rules, or
// checks a published folder against it; single-threaded.
//
//   publish_manifest <game folder> [<output file>] [--sign KEY [--version N] [--expires-days D | --expires DATE]]
//   publish_manifest --check <game folder> [--key PUBLIC_KEY]
//   publish_manifest --make-key BASE
//   Writing and checking also take --block-index-min BYTES (default 1 MiB) or --no-block-index.
//
// Writing lists every regular file under the folder (the output file and its signature excepted) as
// "<path> <digest>\n", paths relative with "/" separators in byte order, digests in lowercase. Refuses,
// with a message and a non-zero exit, a folder the launcher could not use. The output defaults to
// <game folder>/update.cfg and is written whole or not at all. With --sign, <output file>.sig is
// written beside it (see updater/signature.h); --make-key writes a new key pair BASE.key
// (owner-only) and BASE.pub. Every listed file of at least the --block-index-min size gets its block
// index beside it (updater/block_index.h), written before update.cfg; index files of earlier versions
// are removed after it.
//
// Checking reads <game folder>/update.cfg as the launcher reads it and lists every entry the launcher
// would skip, every listed file that is missing or differs, and every file that is not listed; where
// update.cfg.sig exists it checks that too (its signature with --key), and every block index: present
// for each listed file of the threshold size, decoding, and naming the file's digest and length; an index
// of no listed version is stale. It exits with 1 when there is any mismatch.
#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "common/log.h"
#include "common/text.h"
#include "tools/publish_sign.h"
#include "updater/block_index.h"
#include "updater/digest.h"
#include "updater/downloader.h"
#include "updater/manifest.h"

namespace fs = std::filesystem;

namespace {

enum { ExitOk = 0, ExitRefused = 1, ExitFailed = 2 };

// Files of a published folder that are not game files.
const char* const PublishedExtras[] = {"update.cfg", "update.cfg.tmp", SignatureFileName, SignatureFileName ".tmp"};

// Files of at least this many bytes get a block index; -1 for none.
long long BlockIndexMin = DefaultBlockIndexMinBytes;

// The index name of a listed file, as the launcher makes it.
std::string IndexPathOf(const std::string& path, const char* digest) {
    char name[PathSlotSize + 2 * Sha1Size + 16];  // the path, ".", the digest, ".blocks" and the terminator
    return MakeBlockIndexPath(path.c_str(), digest, name, sizeof name) ? name : "";
}

bool WantsBlockIndex(unsigned long long size) {
    return BlockIndexMin >= 0 && size >= (unsigned long long)BlockIndexMin;
}

// Writes text to path through a temporary file renamed over it, so a reader never sees half a file.
bool WriteWhole(const fs::path& path, const std::string& text) {
    return ReplaceFileContents(path.string().c_str(), text.data(), text.size());
}

bool ReadWhole(const fs::path& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return in.is_open() && !in.bad();
}

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

// A line of digest progress on standard error, rewritten in place at most ten times a second, and only
// when standard error is a terminal: a log file or a pipe gets the final status line alone.
class Progress {
public:
    Progress(size_t files, unsigned long long bytes)
        : files_(files), bytes_(bytes), shown_(isatty(fileno(stderr)) != 0), start_(Now()), last_(0) {}

    void Step(unsigned long long fileBytes) {
        ++doneFiles_;
        doneBytes_ += fileBytes;
        if (!shown_) return;
        double now = Now();
        if (now - last_ < 0.1 && doneFiles_ < files_) return;
        last_ = now;
        double seconds = now - start_;
        fprintf(stderr, "\rdigesting: %zu/%zu files, %.1f/%.1f MB, %.1f MB/s ", doneFiles_, files_, doneBytes_ / 1e6,
                bytes_ / 1e6, seconds > 0 ? doneBytes_ / 1e6 / seconds : 0.0);
        fflush(stderr);
    }
    void Finish() {
        if (shown_ && doneFiles_) fputc('\n', stderr);
    }

private:
    static double Now() {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }
    size_t files_, doneFiles_ = 0;
    unsigned long long bytes_, doneBytes_ = 0;
    bool shown_;
    double start_, last_;
};

unsigned long long SizeOf(const fs::path& path) {
    std::error_code error;
    uintmax_t size = fs::file_size(path, error);
    return error ? 0 : size;
}

// Every regular file under root as a relative "/" path, in byte order; false when the walk failed.
bool ListFiles(const fs::path& root, std::vector<std::string>& paths) {
    std::error_code error;
    fs::recursive_directory_iterator it(root, fs::directory_options::none, error), end;
    for (; !error && it != end; it.increment(error)) {
        if (it->is_regular_file(error)) paths.push_back(it->path().lexically_relative(root).generic_string());
    }
    if (error) {
        fprintf(stderr, "publish_manifest: cannot walk %s: %s\n", root.string().c_str(), error.message().c_str());
        return false;
    }
    std::sort(paths.begin(), paths.end());
    return true;
}

// Makes the block index of a listed file and writes it beside the file, unless an identical one is there
// already (so a server or a CDN sees no change); leaves the file's digest in DigestText and the index's
// relative name in indexPath. Returns 0 or the errno value to report.
int WriteBlockIndex(const fs::path& root, const std::string& path, unsigned long long size, std::string* indexPath,
                    int* written) {
    FILE* file = fopen((root / path).string().c_str(), "rb");
    if (!file) return errno;
    BlockIndex index;
    int readError = MakeBlockIndex(FileReadNext, file, size, &index);
    if (readError && ferror(file)) readError = errno ? errno : EIO;
    fclose(file);
    if (readError) return readError;
    for (int i = 0; i < Sha1Size; ++i) snprintf(DigestText + 2 * i, 3, "%02x", index.fileSha1[i]);
    *indexPath = IndexPathOf(path, DigestText);
    const std::string text = EncodeBlockIndex(index);
    std::string existing;
    if (ReadWhole(root / *indexPath, existing) && existing == text) return 0;
    if (!WriteWhole(root / *indexPath, text)) return errno ? errno : EIO;
    ++*written;
    return 0;
}

int WriteManifest(const fs::path& root, const fs::path& output, const SigningOptions& signing) {
    std::error_code error;
    const fs::path outputFull = fs::weakly_canonical(fs::absolute(output), error);
    fs::path signatureOutput = output;
    signatureOutput += ".sig";
    const fs::path signatureFull = fs::weakly_canonical(fs::absolute(signatureOutput), error);
    std::vector<std::string> all, paths, indexes;
    if (!ListFiles(root, all)) return ExitFailed;
    int refused = 0;
    unsigned long long bytes = 0;
    for (const std::string& relative : all) {
        const fs::path full = fs::weakly_canonical(fs::absolute(root / relative), error);
        if (full == outputFull || full == signatureFull) continue;
        // Names of block indexes are reserved for them: an index is not a game file, and a game file
        // may not take such a name. What an interrupted write of an index left is removed.
        if (relative.size() > 4 && relative.compare(relative.size() - 4, 4, ".tmp") == 0 &&
            IsBlockIndexPath(relative.substr(0, relative.size() - 4))) {
            fs::remove(root / relative, error);
            continue;
        }
        if (IsBlockIndexPath(relative)) {
            std::string text;
            BlockIndex decoded;
            if (ReadWhole(root / relative, text) && !ReadBlockIndex(text.data(), text.size(), nullptr, &decoded)) {
                indexes.push_back(relative);
            } else {
                fprintf(stderr, "publish_manifest: refused %s: the name is reserved for block indexes\n",
                        relative.c_str());
                ++refused;
            }
            continue;
        }
        // A backslash inside a name is a separator to the launcher, so it is refused rather than
        // left to mean another file.
        const char* problem = relative.find('\\') != std::string::npos ? "holds a backslash" : PathProblem(relative);
        if (problem) {
            fprintf(stderr, "publish_manifest: refused %s: %s\n", relative.c_str(), problem);
            ++refused;
            continue;
        }
        paths.push_back(relative);
        bytes += SizeOf(root / relative);
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

    std::string content;
    std::set<std::string> currentIndexes;
    int indexesWritten = 0;
    Progress progress(paths.size(), bytes);
    for (const std::string& path : paths) {
        std::string full = (root / fs::path(path)).string();
        unsigned long long size = SizeOf(full);
        // A file with a block index is read once: the index's whole-file SHA-1 is its digest.
        int readError = 0;
        if (WantsBlockIndex(size)) {
            std::string written;
            readError = WriteBlockIndex(root, path, size, &written, &indexesWritten);
            if (!readError) currentIndexes.insert(written);
        } else {
            readError = ComputeFileDigest(full.c_str());
        }
        if (readError) {
            progress.Finish();
            fprintf(stderr, "publish_manifest: cannot read %s: %s\n", full.c_str(), strerror(readError));
            return ExitFailed;
        }
        progress.Step(size);
        content += path + " " + DigestText + "\n";
    }
    progress.Finish();

    // The signature is made before anything is written, so a failure leaves the published pair as it was.
    std::string signatureText, summary, signingError;
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
    // Removed only now: a launcher that read the previous update.cfg may still ask for its indexes.
    int removed = 0;
    for (const std::string& index : indexes) {
        if (!currentIndexes.count(index) && fs::remove(root / index, error)) ++removed;
    }
    printf("publish_manifest: %zu files listed in %s\n", paths.size(), output.string().c_str());
    if (!currentIndexes.empty() || removed) {
        printf("publish_manifest: %zu block indexes (%d written), %d stale removed\n", currentIndexes.size(),
               indexesWritten, removed);
    }
    return ExitOk;
}

// Checks update.cfg.sig against update.cfg: its form and the manifest digest it names, and with a public key
// its signature and expiry, as a launcher built with that key would. Returns the number of problems found.
int CheckSignature(const fs::path& root, const std::string& keyPath) {
    std::string manifest, signature, keyText;
    if (!ReadWhole(root / "update.cfg", manifest)) return 1;
    if (!ReadWhole(root / SignatureFileName, signature)) {
        if (keyPath.empty()) return 0;
        printf("no signature: %s is missing\n", SignatureFileName);
        return 1;
    }
    uint8_t digest[Sha256Size];
    if (!Sha256Of(manifest, digest)) {
        printf("publish_manifest: this build cannot check signatures\n");
        return 1;
    }
    SignatureFile file;
    if (const char* problem = ReadSignatureFile(signature.data(), signature.size(), &file)) {
        printf("signature file: %s\n", problem);
        return 1;
    }
    if (memcmp(digest, file.manifestSha256, Sha256Size) != 0) {
        printf("signature file: it was made for another update.cfg; sign again\n");
        return 1;
    }
    char date[16] = "never";
    if (file.expires) FormatUtcDate(date, sizeof date, (int64_t)file.expires);
    if (keyPath.empty()) {
        printf("publish_manifest: %s names this update.cfg (version %llu, expires %s); give --key to verify it\n",
               SignatureFileName, (unsigned long long)file.version, date);
        return 0;
    }
    uint8_t key[PublicKeySize];
    if (!ReadWhole(keyPath, keyText) || !ReadPublicKeyText(keyText.data(), keyText.size(), key)) {
        printf("publish_manifest: %s is not a public key file\n", keyPath.c_str());
        return 1;
    }
    ManifestVerdict verdict = CheckManifestSignature(signature.data(), signature.size(), digest, key, VerifyStatement,
                                                     0, (int64_t)time(nullptr), &file);
    if (verdict != ManifestAccepted) {
        char line[256];
        FormatRefusalLine(line, sizeof line, verdict, file, 0);
        printf("%s\n", line);
        return 1;
    }
    printf("publish_manifest: %s is valid for %s (version %llu, expires %s)\n", SignatureFileName, keyPath.c_str(),
           (unsigned long long)file.version, date);
    return 0;
}

int CheckFolder(const fs::path& root, const std::string& keyPath) {
    const fs::path manifest = root / "update.cfg";
    if (!fs::is_regular_file(manifest)) {
        fprintf(stderr, "publish_manifest: %s has no update.cfg\n", root.string().c_str());
        return ExitFailed;
    }
    // Read exactly as the launcher reads it: each entry it would skip is logged, and counted by the reader.
    int entries = LoadManifest(manifest.string().c_str());
    int mismatches = ManifestLinesRefused;

    std::vector<std::string> files;
    if (!ListFiles(root, files)) return ExitFailed;
    std::set<std::string> listed, expectedIndexes;
    unsigned long long bytes = 0;
    for (int i = 0; i < entries; ++i) {
        listed.insert(EntryPath[i]);
        bytes += SizeOf(root / EntryPath[i]);
    }
    std::vector<std::string> problems;
    for (int i = 0; i < entries; ++i) {
        unsigned long long size = SizeOf(root / EntryPath[i]);
        if (!WantsBlockIndex(size) || !IsHexDigest40(ExpectedDigest[i])) continue;
        std::string name = IndexPathOf(EntryPath[i], ExpectedDigest[i]), text;
        expectedIndexes.insert(name);
        BlockIndex index;
        if (!ReadWhole(root / name, text)) {
            problems.push_back("missing block index: " + name);
        } else if (const char* problem = ReadBlockIndex(text.data(), text.size(), ExpectedDigest[i], &index)) {
            problems.push_back("bad block index: " + name + ": " + problem);
        } else if (index.fileLength != size) {
            problems.push_back("bad block index: " + name + ": made for a file of another length");
        }
    }

    Progress progress(entries, bytes);
    for (int i = 0; i < entries; ++i) {
        const fs::path file = root / EntryPath[i];
        std::error_code error;
        if (!fs::is_regular_file(file, error)) {
            problems.push_back(std::string("missing: ") + EntryPath[i]);
            progress.Step(0);
            continue;
        }
        if (int readError = ComputeFileDigest(file.string().c_str())) {
            problems.push_back(std::string("unreadable: ") + EntryPath[i] + ": " + strerror(readError));
        } else if (!IsHexDigest40(ExpectedDigest[i])) {
            // The launcher then downloads the file at every start, since no digest of it can be equal.
            problems.push_back(std::string("not a SHA-1 digest: ") + EntryPath[i] + " " + ExpectedDigest[i]);
        } else if (!EqualIgnoringCase(DigestText, ExpectedDigest[i])) {
            problems.push_back(std::string("differs: ") + EntryPath[i] + " (" + DigestText + " in the folder, " +
                               ExpectedDigest[i] + " listed)");
        }
        progress.Step(SizeOf(file));
    }
    progress.Finish();
    for (const std::string& file : files) {
        bool extra = std::find_if(std::begin(PublishedExtras), std::end(PublishedExtras),
                                  [&](const char* name) { return file == name; }) != std::end(PublishedExtras);
        if (extra || listed.count(file) || expectedIndexes.count(file)) continue;
        problems.push_back((IsBlockIndexPath(file) ? "stale block index: " : "not listed: ") + file);
    }

    for (const std::string& problem : problems) printf("%s\n", problem.c_str());
    mismatches += (int)problems.size();
    mismatches += CheckSignature(root, keyPath);
    if (mismatches) {
        printf("publish_manifest: %d mismatch(es) between %s and its update.cfg\n", mismatches, root.string().c_str());
        return ExitRefused;
    }
    printf("publish_manifest: %d files match %s\n", entries, manifest.string().c_str());
    return ExitOk;
}

}  // namespace

// Takes --block-index-min BYTES and --no-block-index out of the arguments; false on a bad value.
bool TakeBlockIndexOptions(int* argc, char** argv) {
    int kept = 1;
    for (int i = 1; i < *argc; ++i) {
        if (strcmp(argv[i], "--no-block-index") == 0) {
            BlockIndexMin = -1;
        } else if (strcmp(argv[i], "--block-index-min") == 0) {
            char* end = nullptr;
            if (i + 1 >= *argc || !isdigit((unsigned char)argv[i + 1][0])) return false;
            BlockIndexMin = strtoll(argv[++i], &end, 10);
            if (*end || BlockIndexMin < 0) return false;
        } else {
            argv[kept++] = argv[i];
        }
    }
    *argc = kept;
    return true;
}

int main(int argc, char** argv) {
    if (!TakeBlockIndexOptions(&argc, argv)) {
        fprintf(stderr, "publish_manifest: --block-index-min takes a number of bytes\n");
        return ExitFailed;
    }
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
    bool check = argc >= 3 && strcmp(argv[1], "--check") == 0;
    std::string checkKey;
    if (check && argc == 5 && strcmp(argv[3], "--key") == 0) {
        checkKey = argv[4];
        argc = 3;
    }
    if (argc < 2 || argc > 3 || (!check && argv[1][0] == '-') || (check && !signing.keyPath.empty())) {
        fprintf(stderr,
                "usage: publish_manifest <game folder> [<output file>] "
                "[--sign KEY [--version N] [--expires-days D | --expires YYYY-MM-DD]]\n"
                "       publish_manifest --check <game folder> [--key PUBLIC_KEY]\n"
                "       publish_manifest --make-key BASE\n"
                "  writing and checking: [--block-index-min BYTES (default 1048576) | --no-block-index]\n");
        return ExitFailed;
    }
    const char* folder = check ? argv[2] : argv[1];
    std::error_code error;
    if (!fs::is_directory(folder, error)) {
        fprintf(stderr, "publish_manifest: %s is not a folder\n", folder);
        return ExitFailed;
    }
    if (check) return CheckFolder(folder, checkKey);
    return WriteManifest(folder, argc == 3 ? fs::path(argv[2]) : fs::path(folder) / "update.cfg", signing);
}
